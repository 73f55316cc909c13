#include "platform/linux/defaults/AtomicFile.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/FileDescriptor.hpp"

namespace quillbridge {

namespace {

int syncDirectory(const std::filesystem::path& directory) {
    FileDescriptor handle(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.get() < 0)
        return errno;
    if (::fsync(handle.get()) != 0)
        return errno;
    return 0;
}

}  // namespace

std::expected<void, int> AtomicFile::write(const std::filesystem::path& path, ByteView bytes, mode_t mode) {
    auto directory = path.parent_path();
    if (directory.empty())
        directory = ".";
    std::string pattern = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    FileDescriptor handle(::mkostemp(name.data(), O_CLOEXEC));
    if (handle.get() < 0)
        return std::unexpected(errno);
    auto fail = [&](int error) -> std::expected<void, int> {
        ::unlink(name.data());
        return std::unexpected(error);
    };

    if (::fchmod(handle.get(), mode) != 0)
        return fail(errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = ::write(handle.get(), bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(handle.get()) != 0)
        return fail(errno);
    if (int error = handle.close(); error != 0)
        return fail(error);
    if (::rename(name.data(), path.c_str()) != 0)
        return fail(errno);
    // The new content is in place. A failure to flush the directory entry only weakens durability against a
    // power cut, never consistency, so it does not turn the write into a failure.
    syncDirectory(directory);
    return {};
}

std::expected<std::optional<Bytes>, int> AtomicFile::read(const std::filesystem::path& path,
                                                          std::size_t maximumByteCount, bool requireOwner) {
    FileDescriptor handle(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (handle.get() < 0) {
        if (errno == ENOENT)
            return std::optional<Bytes>{};
        // O_NOFOLLOW on a symbolic link.
        if (errno == ELOOP)
            return std::unexpected(EINVAL);
        return std::unexpected(errno);
    }
    struct stat status {};
    if (::fstat(handle.get(), &status) != 0)
        return std::unexpected(errno);
    if (!S_ISREG(status.st_mode))
        return std::unexpected(EINVAL);
    if (requireOwner && status.st_uid != ::geteuid())
        return std::unexpected(EPERM);
    if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > maximumByteCount) {
        return std::unexpected(EFBIG);
    }

    Bytes content(static_cast<std::size_t>(status.st_size));
    std::size_t total = 0;
    while (true) {
        if (total == content.size()) {
            // The file may have grown since fstat; read on, within the bound.
            if (content.size() >= maximumByteCount + 1)
                break;
            content.resize(std::min(content.size() + 4096, maximumByteCount + 1));
        }
        ssize_t count = ::read(handle.get(), content.data() + total, content.size() - total);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::unexpected(errno);
        }
        if (count == 0)
            break;
        total += static_cast<std::size_t>(count);
    }
    if (total > maximumByteCount)
        return std::unexpected(EFBIG);
    content.resize(total);
    return std::optional<Bytes>{std::move(content)};
}

std::expected<void, int> AtomicFile::ensureDirectory(const std::filesystem::path& directory,
                                                     bool tightenMode) {
    struct stat status {};
    if (::lstat(directory.c_str(), &status) != 0) {
        if (errno != ENOENT)
            return std::unexpected(errno);
        auto parent = directory.parent_path();
        if (!parent.empty() && parent != directory) {
            struct stat parentStatus {};
            if (::stat(parent.c_str(), &parentStatus) != 0) {
                if (errno != ENOENT)
                    return std::unexpected(errno);
                // Missing parents (a fresh $HOME/.config, say) are ours to create; they get no tightening.
                if (auto made = ensureDirectory(parent, false); !made)
                    return made;
            }
        }
        if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
            return std::unexpected(errno);
        if (::lstat(directory.c_str(), &status) != 0)
            return std::unexpected(errno);
    }
    if (!S_ISDIR(status.st_mode))
        return std::unexpected(ENOTDIR);
    if (status.st_uid != ::geteuid())
        return std::unexpected(EPERM);
    if (tightenMode && (status.st_mode & 077) != 0) {
        if (::chmod(directory.c_str(), status.st_mode & 0700) != 0)
            return std::unexpected(errno);
    }
    return {};
}

std::filesystem::path AtomicFile::xdgBaseDirectory(const char* variable, const char* fallbackBelowHome) {
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') {
        return std::filesystem::path(value);
    }
    const char* home = std::getenv("HOME");
    std::string homeText;
    if (home != nullptr && home[0] == '/') {
        homeText = home;
    } else {
        struct passwd entry {};
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr) {
            homeText = found->pw_dir;
        }
    }
    if (homeText.empty())
        homeText = "/";
    return std::filesystem::path(homeText) / fallbackBelowHome;
}

std::string AtomicFile::errorText(int error) {
    char buffer[256];
    return std::string(::strerror_r(error, buffer, sizeof buffer));
}

}  // namespace quillbridge
