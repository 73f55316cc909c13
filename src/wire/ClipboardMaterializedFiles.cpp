#include "wire/ClipboardMaterializedFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include "core/FileDescriptor.hpp"
#include "core/Uuid.hpp"
#include "wire/ClipboardMaterializationError.hpp"

namespace quillbridge {
namespace {

constexpr mode_t directoryMode = 0700;
constexpr mode_t fileMode = 0600;
// The name a file is written under before it is renamed into place. The item directory is new and ours
// alone, so a fixed name cannot meet another file.
constexpr const char* partialFilename = ".quillbridge-partial";

[[noreturn]] void throwFileSystemError(const char* operation, const std::filesystem::path& path, int error) {
    throw std::filesystem::filesystem_error(operation, path, std::error_code(error, std::generic_category()));
}

FileDescriptor openDirectory(int parent, const char* name, const std::filesystem::path& path) {
    FileDescriptor directory(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (directory.get() < 0)
        throwFileSystemError("Cannot open the clipboard directory", path, errno);
    return directory;
}

// Creates a directory of ours, owner-only whatever the umask, and opens it.
FileDescriptor makeDirectory(int parent, const char* name, const std::filesystem::path& path) {
    if (::mkdirat(parent, name, directoryMode) != 0) {
        throwFileSystemError("Cannot create the clipboard directory", path, errno);
    }
    auto directory = openDirectory(parent, name, path);
    if (::fchmod(directory.get(), directoryMode) != 0) {
        throwFileSystemError("Cannot restrict the clipboard directory", path, errno);
    }
    return directory;
}

// Writes the whole file under a temporary name and renames it into place, so that the file is either
// absent or complete.
void writeAtomically(int directory, const std::string& filename, ByteView data,
                     const std::filesystem::path& path) {
    FileDescriptor file(
        ::openat(directory, partialFilename, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode));
    if (file.get() < 0)
        throwFileSystemError("Cannot create the clipboard file", path, errno);
    while (!data.empty()) {
        ssize_t written = ::write(file.get(), data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throwFileSystemError("Cannot write the clipboard file", path, errno);
        }
        data = data.subspan(static_cast<std::size_t>(written));
    }
    if (const int error = file.close(); error != 0)
        throwFileSystemError("Cannot write the clipboard file", path, error);
    if (::renameat(directory, partialFilename, directory, filename.c_str()) != 0) {
        throwFileSystemError("Cannot name the clipboard file", path, errno);
    }
}

}  // namespace

std::optional<ClipboardMaterializedFiles> ClipboardMaterializedFiles::materialize(
    std::span<const ClipboardItem> items) {
    std::error_code error;
    auto temporaryDirectory = std::filesystem::temp_directory_path(error);
    if (error)
        temporaryDirectory = "/tmp";
    return materialize(items, temporaryDirectory);
}

std::optional<ClipboardMaterializedFiles> ClipboardMaterializedFiles::materialize(
    std::span<const ClipboardItem> items, const std::filesystem::path& temporaryDirectory) {
    bool hasFiles = false;
    for (const auto& item : items)
        hasFiles = hasFiles || item.fileMetadata().has_value();
    if (!hasFiles)
        return std::nullopt;

    auto base = std::filesystem::absolute(temporaryDirectory);
    auto directoryName = "QuillbridgeClipboard-" + Uuid::random().string();
    ClipboardMaterializedFiles files{base / directoryName, {}};

    // mkdir fails on anything already at the path (a symbolic link included), so the directory is ours.
    FileDescriptor parent(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0)
        throwFileSystemError("Cannot open the temporary directory", base, errno);
    if (::mkdirat(parent.get(), directoryName.c_str(), directoryMode) != 0) {
        throwFileSystemError("Cannot create the clipboard directory", files.directoryURL, errno);
    }
    try {
        auto directory = openDirectory(parent.get(), directoryName.c_str(), files.directoryURL);
        if (::fchmod(directory.get(), directoryMode) != 0) {
            throwFileSystemError("Cannot restrict the clipboard directory", files.directoryURL, errno);
        }
        for (std::size_t index = 0; index < items.size(); ++index) {
            const auto& metadata = items[index].fileMetadata();
            if (!metadata)
                continue;
            const auto* representation = items[index].representation(metadata->contentTypeIdentifier());
            if (!representation) {
                throw std::filesystem::filesystem_error(
                    "No representation holds the file's content", files.directoryURL,
                    make_error_code(ClipboardMaterializationError::fileReadCorruptFile));
            }
            auto itemName = "item-" + std::to_string(index);
            auto itemPath = files.directoryURL / itemName;
            auto itemDirectory = makeDirectory(directory.get(), itemName.c_str(), itemPath);
            // Suggested names may be longer than Linux takes: the file gets the shortened form.
            auto filename = metadata->localFilename();
            auto filePath = itemPath / filename;
            writeAtomically(itemDirectory.get(), filename, representation->data(), filePath);
            files.fileURLsByItemIndex.emplace(index, std::move(filePath));
        }
    } catch (...) {
        files.removeDirectory();
        throw;
    }
    return files;
}

void ClipboardMaterializedFiles::removeDirectory() const noexcept {
    if (directoryURL.empty())
        return;
    try {
        std::error_code ignored;
        std::filesystem::remove_all(directoryURL, ignored);
    } catch (...) {
        // Only an allocation failure gets here; the removal is best effort either way.
    }
}

}  // namespace quillbridge
