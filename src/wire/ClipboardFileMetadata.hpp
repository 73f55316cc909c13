#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillbridge {

class ClipboardRepresentation;

// The file that a clipboard item stands for: the name to give it and the type identifier of the item's
// representation that holds its bytes. Built only through make() (or inferred()), so the name is always
// safe to use as one file name inside a directory of ours.
class ClipboardFileMetadata {
public:
    // Checks, in this order: the name is 1 to 1,024 bytes, is neither "." nor "..", holds no "/" (so it
    // is its own last path component), is valid UTF-8 without control characters; then the content type
    // is a valid clipboard type identifier.
    static std::optional<ClipboardFileMetadata> make(std::string suggestedFilename,
                                                     std::string contentTypeIdentifier);

    // Made-up metadata for a pasteboard item without a file of its own whose representations include an
    // image: the image representation to offer as a file, and a file name for it built from the proposed
    // name (if that is usable) and the image type's preferred extension ("Image.png" without a name).
    // Nothing when no representation is an image type with a preferred extension, or when the result
    // breaks a rule of make().
    static std::optional<ClipboardFileMetadata> inferred(
        std::span<const ClipboardRepresentation> representations,
        std::optional<std::string_view> proposedFilename);

    const std::string& suggestedFilename() const { return suggestedFilename_; }

    // The longest file name Linux file systems take (NAME_MAX), in bytes.
    static constexpr std::size_t maximumLocalFilenameByteCount = 255;
    // The name the item's file is written under on this system: the suggested name, shortened as
    // shortenedFilename() does when it is longer than 255 bytes (names of up to 1,024 bytes are valid on
    // the wire).
    std::string localFilename() const;
    // A valid UTF-8 file name cut to at most `maximumByteCount` bytes at a character boundary. Its extension
    // (what follows its last dot, as long as that dot neither starts nor ends the name) is kept whole when
    // that leaves at least one character before it; otherwise the name is simply cut. A name that fits is
    // returned as it is. `maximumByteCount` must be at least 4 (one character of any length).
    static std::string shortenedFilename(std::string_view filename, std::size_t maximumByteCount);
    const std::string& contentTypeIdentifier() const { return contentTypeIdentifier_; }

    // Strings compare by canonical equivalence.
    friend bool operator==(const ClipboardFileMetadata& left, const ClipboardFileMetadata& right);

private:
    ClipboardFileMetadata(std::string suggestedFilename, std::string contentTypeIdentifier)
        : suggestedFilename_(std::move(suggestedFilename)),
          contentTypeIdentifier_(std::move(contentTypeIdentifier)) {}

    std::string suggestedFilename_;
    std::string contentTypeIdentifier_;
};

}  // namespace quillbridge
