#pragma once

#include <cstdint>
#include <optional>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `receiverReport`: the highest video frame and audio chunk the headset has received. An
// absent field reports nothing about that stream.
struct StreamReceiverReportMessage {
    std::optional<std::uint64_t> highestReceivedFrameID;
    std::optional<std::uint64_t> highestReceivedFramePresentationTimeNanoseconds;
    std::optional<std::uint64_t> highestReceivedAudioChunkID;
};

template <>
struct JsonFields<StreamReceiverReportMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("highestReceivedFrameID", &StreamReceiverReportMessage::highestReceivedFrameID),
            jsonField("highestReceivedFramePresentationTimeNanoseconds",
                      &StreamReceiverReportMessage::highestReceivedFramePresentationTimeNanoseconds),
            jsonField("highestReceivedAudioChunkID",
                      &StreamReceiverReportMessage::highestReceivedAudioChunkID),
        };
    }
};

}  // namespace quillbridge
