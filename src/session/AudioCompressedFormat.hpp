#pragma once

#include <cstdint>

#include "wire/AudioCodec.hpp"

namespace quillbridge {

// The format of a converter's compressed output.
struct AudioCompressedFormat {
    AudioCodec codec = AudioCodec::aacELD;
    double sampleRate = 0;
    std::uint32_t channelCount = 0;

    bool operator==(const AudioCompressedFormat&) const = default;
};

}  // namespace quillbridge
