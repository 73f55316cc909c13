#pragma once

#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>

#include "core/Bytes.hpp"

namespace quillbridge {

// Small files that must never be left half-written and may have to stay private to their owner. Errors
// are errno values.
struct AtomicFile {
    // Writes `bytes` to a temporary file beside `path` (created with `mode`), flushes it to disk, renames it
    // over `path` and flushes the directory, so a crash leaves either the old or the new content.
    static std::expected<void, int> write(const std::filesystem::path& path, ByteView bytes, mode_t mode);

    // The whole file, or nothing when it does not exist. Refuses (EINVAL) anything but a regular file,
    // symbolic links included, and (EFBIG) a file larger than `maximumByteCount`. With `requireOwner`,
    // refuses (EPERM) a file that another user owns.
    static std::expected<std::optional<Bytes>, int> read(const std::filesystem::path& path,
                                                         std::size_t maximumByteCount, bool requireOwner);

    // Creates `directory` and its missing parents with mode 0700. An existing `directory` must be a real
    // directory owned by this user; with `tightenMode` its group and other permissions are removed.
    static std::expected<void, int> ensureDirectory(const std::filesystem::path& directory, bool tightenMode);

    // $XDG_CONFIG_HOME or $XDG_DATA_HOME when set to an absolute path, else the home directory followed by
    // `fallbackBelowHome` (".config", ".local/share").
    static std::filesystem::path xdgBaseDirectory(const char* variable, const char* fallbackBelowHome);

    static std::string errorText(int error);
};

}  // namespace quillbridge
