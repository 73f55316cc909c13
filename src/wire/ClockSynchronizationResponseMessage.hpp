#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `clockSynchronizationResponse`: the request's two fields copied back, with the host
// clock when the request had been read (before decoding) and just before this response is encoded.
struct ClockSynchronizationResponseMessage {
    std::uint32_t sequenceNumber = 0;
    std::uint64_t clientSendTimeNanoseconds = 0;
    std::uint64_t hostReceiveTimeNanoseconds = 0;
    std::uint64_t hostSendTimeNanoseconds = 0;
};

template <>
struct JsonFields<ClockSynchronizationResponseMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("sequenceNumber", &ClockSynchronizationResponseMessage::sequenceNumber),
            jsonField("clientSendTimeNanoseconds",
                      &ClockSynchronizationResponseMessage::clientSendTimeNanoseconds),
            jsonField("hostReceiveTimeNanoseconds",
                      &ClockSynchronizationResponseMessage::hostReceiveTimeNanoseconds),
            jsonField("hostSendTimeNanoseconds",
                      &ClockSynchronizationResponseMessage::hostSendTimeNanoseconds),
        };
    }
};

}  // namespace quillbridge
