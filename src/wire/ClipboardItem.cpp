#include "wire/ClipboardItem.hpp"

#include <string>
#include <unordered_set>

#include "core/UnicodeText.hpp"
#include "wire/ClipboardLimits.hpp"

namespace quillbridge {

std::optional<ClipboardItem> ClipboardItem::make(std::vector<ClipboardRepresentation> representations,
                                                 std::optional<ClipboardFileMetadata> fileMetadata) {
    if (representations.size() < ClipboardLimits::minimumRepresentationCountPerItem ||
        representations.size() > ClipboardLimits::maximumRepresentationCountPerItem) {
        return std::nullopt;
    }
    // Canonically equivalent identifiers share a decomposition, so distinct decompositions mean distinct
    // identifiers.
    std::unordered_set<std::string> identifiers;
    for (const auto& representation : representations) {
        if (!identifiers.insert(canonicalDecomposition(representation.typeIdentifier())).second)
            return std::nullopt;
    }
    if (fileMetadata &&
        !identifiers.contains(canonicalDecomposition(fileMetadata->contentTypeIdentifier()))) {
        return std::nullopt;
    }
    return ClipboardItem(std::move(representations), std::move(fileMetadata));
}

const ClipboardRepresentation* ClipboardItem::representation(std::string_view typeIdentifier) const {
    for (const auto& candidate : representations_) {
        if (canonicallyEquivalent(candidate.typeIdentifier(), typeIdentifier))
            return &candidate;
    }
    return nullptr;
}

}  // namespace quillbridge
