#pragma once

#include <optional>
#include <vector>

#include "wire/ClipboardFileMetadata.hpp"
#include "wire/ClipboardRepresentation.hpp"

namespace quillbridge {

// One pasteboard item: its forms in order, and the file it stands for, if any. Built only through make(),
// so it has 1 to 32 representations with pairwise different type identifiers, and file metadata names one
// of them.
class ClipboardItem {
public:
    static std::optional<ClipboardItem> make(std::vector<ClipboardRepresentation> representations,
                                             std::optional<ClipboardFileMetadata> fileMetadata);

    const std::vector<ClipboardRepresentation>& representations() const { return representations_; }
    const std::optional<ClipboardFileMetadata>& fileMetadata() const { return fileMetadata_; }

    // The first representation whose type identifier is canonically equivalent to `typeIdentifier`.
    const ClipboardRepresentation* representation(std::string_view typeIdentifier) const;

    friend bool operator==(const ClipboardItem& left, const ClipboardItem& right) {
        return left.representations_ == right.representations_ && left.fileMetadata_ == right.fileMetadata_;
    }

private:
    ClipboardItem(std::vector<ClipboardRepresentation> representations,
                  std::optional<ClipboardFileMetadata> fileMetadata)
        : representations_(std::move(representations)), fileMetadata_(std::move(fileMetadata)) {}

    std::vector<ClipboardRepresentation> representations_;
    std::optional<ClipboardFileMetadata> fileMetadata_;
};

}  // namespace quillbridge
