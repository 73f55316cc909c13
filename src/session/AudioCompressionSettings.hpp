#pragma once

#include <cstdint>

#include "wire/AudioCodec.hpp"

namespace quillbridge {

// What an audio converter is asked to produce: the codec, the output's sample rate and channel count, and
// the target bit rate.
struct AudioCompressionSettings {
    AudioCodec codec = AudioCodec::aacELD;
    double sampleRate = 0;
    std::uint32_t channelCount = 0;
    std::uint32_t bitRateBitsPerSecond = 0;

    bool operator==(const AudioCompressionSettings&) const = default;
};

}  // namespace quillbridge
