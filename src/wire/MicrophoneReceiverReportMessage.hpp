#pragma once

#include <cstdint>
#include <optional>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `microphoneReceiverReport`: the largest microphone chunk identifier the host has
// received (the `chunkID` of the microphone stream header).
struct MicrophoneReceiverReportMessage {
    std::optional<std::uint64_t> highestReceivedChunkID;
};

template <>
struct JsonFields<MicrophoneReceiverReportMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("highestReceivedChunkID", &MicrophoneReceiverReportMessage::highestReceivedChunkID)};
    }
};

}  // namespace quillbridge
