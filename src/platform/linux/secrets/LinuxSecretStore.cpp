#include "platform/linux/secrets/LinuxSecretStore.hpp"

#include <optional>
#include <string>

#include "core/Logger.hpp"
#include "platform/linux/defaults/AtomicFile.hpp"
#include "platform/linux/secrets/FileSecretStore.hpp"
#include "platform/linux/secrets/SecretServiceSecretStore.hpp"

namespace quillbridge {

namespace {

const Logger& logger() {
    static const Logger instance{"SecretStore"};
    return instance;
}

constexpr std::string_view secretServiceMarker = "secret-service\n";
constexpr std::string_view fileMarker = "file\n";

class UnavailableSecretStore final : public SecretStore {
public:
    ReadResult read(std::string_view, std::string_view) override {
        return std::unexpected(SecretStoreError::unavailable);
    }
    WriteResult write(std::string_view, std::string_view, ByteView) override {
        return std::unexpected(SecretStoreError::unavailable);
    }
};

std::optional<std::string> readMarker(const std::filesystem::path& file) {
    auto content = AtomicFile::read(file, 64, true);
    if (!content || !*content)
        return std::nullopt;
    return std::string(asText(**content));
}

void writeMarker(const std::filesystem::path& directory, std::string_view marker) {
    auto made = AtomicFile::ensureDirectory(directory, true);
    auto written = made ? AtomicFile::write(directory / "secret-backend", asBytes(marker), 0600)
                        : std::expected<void, int>(std::unexpected(made.error()));
    if (!written) {
        logger().error("Unable to record the secret store in use: ", AtomicFile::errorText(written.error()));
    }
}

}  // namespace

std::filesystem::path LinuxSecretStore::defaultDataDirectory() {
    return AtomicFile::xdgBaseDirectory("XDG_DATA_HOME", ".local/share") / "quillbridge";
}

std::unique_ptr<SecretStore> LinuxSecretStore::open(const std::filesystem::path& dataDirectory,
                                                    bool useSecretService) {
    auto recorded = readMarker(dataDirectory / "secret-backend");
    bool recordedFile = recorded == fileMarker;
    bool recordedSecretService = recorded == secretServiceMarker;

    if (!recordedFile && useSecretService) {
        if (auto store = SecretServiceSecretStore::connect()) {
            if (!recordedSecretService)
                writeMarker(dataDirectory, secretServiceMarker);
            logger().info("Keeping secrets in the Secret Service");
            return store;
        }
    }
    if (recordedSecretService) {
        logger().error(
            "Secrets are kept in the Secret Service, which does not answer on the session bus; "
            "secrets are unavailable");
        return std::make_unique<UnavailableSecretStore>();
    }
    if (!recordedFile)
        writeMarker(dataDirectory, fileMarker);
    auto directory = dataDirectory / "secrets";
    logger().info("Keeping secrets in files under ", directory.string());
    return std::make_unique<FileSecretStore>(directory);
}

}  // namespace quillbridge
