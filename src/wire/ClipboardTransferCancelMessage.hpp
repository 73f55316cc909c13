#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"
#include "wire/ClipboardTransferOperation.hpp"

namespace quillbridge {

// Control message `clipboardTransferCancel`: the headset gives up the transfer with this identifier.
struct ClipboardTransferCancelMessage {
    std::uint64_t transferID = 0;
    ClipboardTransferOperation operation = ClipboardTransferOperation::copyFromMac;
};

template <>
struct JsonFields<ClipboardTransferCancelMessage> {
    static auto fields() {
        return std::tuple{jsonField("transferID", &ClipboardTransferCancelMessage::transferID),
                          jsonField("operation", &ClipboardTransferCancelMessage::operation)};
    }
};

}  // namespace quillbridge
