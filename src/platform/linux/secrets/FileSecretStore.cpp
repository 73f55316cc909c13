#include "platform/linux/secrets/FileSecretStore.hpp"

#include <cerrno>
#include <string>

#include "core/Logger.hpp"
#include "platform/linux/defaults/AtomicFile.hpp"

namespace quillbridge {

namespace {

const Logger& logger() {
    static const Logger instance{"SecretStore"};
    return instance;
}

std::string encodeName(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char character : text) {
        bool plain = (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
                     (character >= '0' && character <= '9') || character == '.' || character == '_' ||
                     character == '-';
        if (plain) {
            encoded += static_cast<char>(character);
        } else {
            encoded += '%';
            encoded += digits[character >> 4];
            encoded += digits[character & 0x0F];
        }
    }
    return encoded;
}

}  // namespace

std::filesystem::path FileSecretStore::defaultDirectory() {
    return AtomicFile::xdgBaseDirectory("XDG_DATA_HOME", ".local/share") / "quillbridge" / "secrets";
}

FileSecretStore::FileSecretStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

std::filesystem::path FileSecretStore::itemPath(std::string_view service, std::string_view account) const {
    return directory_ / (encodeName(service) + "@" + encodeName(account));
}

SecretStore::ReadResult FileSecretStore::read(std::string_view service, std::string_view account) {
    std::lock_guard lock(mutex_);
    auto path = itemPath(service, account);
    if (path.filename().string().size() > 255)
        return std::unexpected(SecretStoreError::invalidItem);
    // Refuse a folder that another user could have planted; tighten one that is too open.
    std::error_code existsError;
    if (std::filesystem::exists(directory_, existsError)) {
        if (auto safe = AtomicFile::ensureDirectory(directory_, true); !safe) {
            logger().error("Unable to use the secrets folder ", directory_.string(), ": ",
                           AtomicFile::errorText(safe.error()));
            return std::unexpected(SecretStoreError::ioFailure);
        }
    }
    auto content = AtomicFile::read(path, maximumSecretByteCount, true);
    if (!content) {
        int error = content.error();
        logger().error("Unable to read the secret ", path.filename().string(), ": ",
                       AtomicFile::errorText(error));
        if (error == EFBIG || error == EINVAL || error == EPERM) {
            return std::unexpected(SecretStoreError::invalidItem);
        }
        return std::unexpected(SecretStoreError::ioFailure);
    }
    if (!*content)
        return std::optional<SecretBytes>{};
    return std::optional<SecretBytes>{SecretBytes::consuming(std::move(**content))};
}

SecretStore::WriteResult FileSecretStore::write(std::string_view service, std::string_view account,
                                                ByteView secret) {
    std::lock_guard lock(mutex_);
    auto path = itemPath(service, account);
    if (path.filename().string().size() > 255 || secret.size() > maximumSecretByteCount) {
        return std::unexpected(SecretStoreError::invalidItem);
    }
    // The application's folder above it is made private as well.
    for (const auto& folder : {directory_.parent_path(), directory_}) {
        if (auto made = AtomicFile::ensureDirectory(folder, true); !made) {
            logger().error("Unable to prepare the secrets folder ", folder.string(), ": ",
                           AtomicFile::errorText(made.error()));
            return std::unexpected(SecretStoreError::ioFailure);
        }
    }
    if (auto written = AtomicFile::write(path, secret, 0600); !written) {
        logger().error("Unable to write the secret ", path.filename().string(), ": ",
                       AtomicFile::errorText(written.error()));
        return std::unexpected(SecretStoreError::ioFailure);
    }
    return {};
}

}  // namespace quillbridge
