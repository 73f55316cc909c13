#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `clockSynchronizationResult`: the headset's estimate of the offset between its clock and
// the host clock, and the initial presentation lead of the media it sends to the host.
struct ClockSynchronizationResultMessage {
    std::int64_t visionToMacOffsetNanoseconds = 0;
    std::uint64_t initialReverseMediaLeadNanoseconds = 0;
};

template <>
struct JsonFields<ClockSynchronizationResultMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("visionToMacOffsetNanoseconds",
                      &ClockSynchronizationResultMessage::visionToMacOffsetNanoseconds),
            jsonField("initialReverseMediaLeadNanoseconds",
                      &ClockSynchronizationResultMessage::initialReverseMediaLeadNanoseconds),
        };
    }
};

}  // namespace quillbridge
