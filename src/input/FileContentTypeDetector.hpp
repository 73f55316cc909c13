#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/Bytes.hpp"

namespace quillbridge {

// Tells the type of a file that is copied to the headset. Called off the main actor, with the file's
// contents already read, so the detector never opens the file itself.
class FileContentTypeDetector {
public:
    virtual ~FileContentTypeDetector() = default;

    // The uniform type identifier of the file's content; nothing when the detector does not know it.
    virtual std::optional<std::string> contentTypeIdentifier(const std::filesystem::path& path,
                                                             ByteView contents) const = 0;
};

}  // namespace quillbridge
