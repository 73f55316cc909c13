#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `clockSynchronizationRequest`: the headset's clock when it sent the request.
struct ClockSynchronizationRequestMessage {
    std::uint32_t sequenceNumber = 0;
    std::uint64_t clientSendTimeNanoseconds = 0;
};

template <>
struct JsonFields<ClockSynchronizationRequestMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("sequenceNumber", &ClockSynchronizationRequestMessage::sequenceNumber),
            jsonField("clientSendTimeNanoseconds",
                      &ClockSynchronizationRequestMessage::clientSendTimeNanoseconds),
        };
    }
};

}  // namespace quillbridge
