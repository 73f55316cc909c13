#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `microphoneFormat`: the format of the headset's microphone audio.
struct MicrophoneFormatMessage {
    double sampleRate = 0;
    std::uint32_t channelCount = 0;
};

template <>
struct JsonFields<MicrophoneFormatMessage> {
    static auto fields() {
        return std::tuple{jsonField("sampleRate", &MicrophoneFormatMessage::sampleRate),
                          jsonField("channelCount", &MicrophoneFormatMessage::channelCount)};
    }
};

}  // namespace quillbridge
