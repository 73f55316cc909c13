#pragma once

#include <cstdint>
#include <vector>

#include "core/Bytes.hpp"

namespace quillbridge {

enum class AudioSampleFormat { float32, float64, int16, int32 };

// The layout of PCM audio: what the accumulator and the encoder compare to notice a format change.
struct AudioPCMFormat {
    double sampleRate = 0;
    std::uint32_t channelCount = 0;
    AudioSampleFormat sampleFormat = AudioSampleFormat::float32;
    bool isInterleaved = false;

    bool operator==(const AudioPCMFormat&) const = default;
};

// One buffer of PCM audio that the capture side hands to the session.
struct AudioPCMBuffer {
    AudioPCMFormat format;
    std::uint32_t frameLength = 0;
    // Non-interleaved 32-bit float samples: one array of `frameLength` samples per channel. Empty for every
    // other layout ("no float channel data").
    std::vector<std::vector<float>> floatChannels;
    // The samples of any other layout, interleaved as `format` says.
    Bytes interleavedData;
    // CLOCK_MONOTONIC nanoseconds of the first frame.
    std::uint64_t presentationTimeNanoseconds = 0;

    bool hasFloatChannelData() const {
        return format.sampleFormat == AudioSampleFormat::float32 && !format.isInterleaved &&
               floatChannels.size() == format.channelCount;
    }
};

}  // namespace quillbridge
