#pragma once

#include <cstdint>

#include "core/Bytes.hpp"

namespace quillbridge {

// One encoded video frame in memory: what the session queues for its media stream, and what it reads from
// the headset's Persona camera stream for the camera receiver. `payload` holds the encoder's output as it
// is: NAL units, each behind a big-endian length prefix of the format's `nalUnitHeaderLength` bytes.
struct EncodedVideoFrame {
    std::uint64_t frameID = 0;
    std::uint64_t presentationTimeNanoseconds = 0;
    bool isKeyFrame = false;
    Bytes payload;
};

}  // namespace quillbridge
