#pragma once

#include <cstdint>

#include "session/AudioPCMBuffer.hpp"

namespace quillbridge {

// One chunk of PCM audio cut by the accumulator: exactly its target frame count (512) of non-interleaved
// float samples in the accumulator's current format, and the host time of its first frame.
struct TimestampedAudioChunk {
    // `buffer.presentationTimeNanoseconds` carries the same time as the chunk.
    AudioPCMBuffer buffer;
    std::uint64_t presentationTimeNanoseconds = 0;
};

}  // namespace quillbridge
