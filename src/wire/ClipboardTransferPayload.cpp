#include "wire/ClipboardTransferPayload.hpp"

#include "wire/ClipboardLimits.hpp"

namespace quillbridge {

std::optional<ClipboardTransferPayload> ClipboardTransferPayload::make(std::vector<ClipboardItem> items) {
    if (items.size() < ClipboardLimits::minimumItemCount ||
        items.size() > ClipboardLimits::maximumItemCount) {
        return std::nullopt;
    }
    if (representationCount(items) > ClipboardLimits::maximumRepresentationCountPerPayload)
        return std::nullopt;
    std::uint64_t dataByteCount = 0;
    for (const auto& item : items) {
        for (const auto& representation : item.representations())
            dataByteCount += representation.data().size();
    }
    if (dataByteCount > ClipboardLimits::maximumPayloadDataByteCount)
        return std::nullopt;
    return ClipboardTransferPayload(std::move(items));
}

std::uint64_t ClipboardTransferPayload::encodedByteCount(std::span<const ClipboardItem> items) {
    std::uint64_t total = 1;  // item count
    for (const auto& item : items) {
        total += 2;  // representation count, has-file-metadata
        if (const auto& metadata = item.fileMetadata()) {
            total += 4 + metadata->suggestedFilename().size() + metadata->contentTypeIdentifier().size();
        }
        for (const auto& representation : item.representations()) {
            total += 6 + representation.typeIdentifier().size() + representation.data().size();
        }
    }
    return total;
}

std::size_t ClipboardTransferPayload::representationCount(std::span<const ClipboardItem> items) {
    std::size_t count = 0;
    for (const auto& item : items)
        count += item.representations().size();
    return count;
}

}  // namespace quillbridge
