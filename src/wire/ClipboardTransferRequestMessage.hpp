#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"
#include "wire/ClipboardTransferOperation.hpp"

namespace quillbridge {

// Control message `clipboardTransferRequest`: the headset starts a clipboard transfer with an identifier
// of its choosing, in the direction of `operation`.
struct ClipboardTransferRequestMessage {
    std::uint64_t transferID = 0;
    ClipboardTransferOperation operation = ClipboardTransferOperation::copyFromMac;
};

template <>
struct JsonFields<ClipboardTransferRequestMessage> {
    static auto fields() {
        return std::tuple{jsonField("transferID", &ClipboardTransferRequestMessage::transferID),
                          jsonField("operation", &ClipboardTransferRequestMessage::operation)};
    }
};

}  // namespace quillbridge
