#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "wire/ClipboardItem.hpp"

namespace quillbridge {

// The clipboard carried by one transfer: one item per pasteboard item, in order. Built only through
// make(), so it has 1 to 16 items, at most 64 representations in all and at most 64 MiB of data.
class ClipboardTransferPayload {
public:
    static std::optional<ClipboardTransferPayload> make(std::vector<ClipboardItem> items);

    // The size of the payload body that the stream codec writes for these items (1 for none).
    static std::uint64_t encodedByteCount(std::span<const ClipboardItem> items);
    static std::size_t representationCount(std::span<const ClipboardItem> items);

    const std::vector<ClipboardItem>& items() const { return items_; }
    std::uint64_t encodedByteCount() const { return encodedByteCount(items_); }
    std::size_t representationCount() const { return representationCount(items_); }

    // Takes the items out, leaving the payload empty (for handing a received clipboard on without copying).
    std::vector<ClipboardItem> takeItems() && { return std::move(items_); }

private:
    explicit ClipboardTransferPayload(std::vector<ClipboardItem> items) : items_(std::move(items)) {}

    std::vector<ClipboardItem> items_;
};

}  // namespace quillbridge
