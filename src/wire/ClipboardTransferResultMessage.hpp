#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"
#include "wire/ClipboardTransferOperation.hpp"
#include "wire/ClipboardTransferResultCode.hpp"

namespace quillbridge {

// Control message `clipboardTransferResult`: the host reports how a clipboard transfer ended.
struct ClipboardTransferResultMessage {
    std::uint64_t transferID = 0;
    ClipboardTransferOperation operation = ClipboardTransferOperation::copyFromMac;
    ClipboardTransferResultCode result = ClipboardTransferResultCode::failed;
};

template <>
struct JsonFields<ClipboardTransferResultMessage> {
    static auto fields() {
        return std::tuple{jsonField("transferID", &ClipboardTransferResultMessage::transferID),
                          jsonField("operation", &ClipboardTransferResultMessage::operation),
                          jsonField("result", &ClipboardTransferResultMessage::result)};
    }
};

}  // namespace quillbridge
