#pragma once

#include <cstdint>

#include "core/Bytes.hpp"
#include "wire/MicrophoneFormatMessage.hpp"

namespace quillbridge {

// One chunk of microphone audio from the headset on its way to the virtual microphone.
struct VirtualMicrophonePacket {
    MicrophoneFormatMessage format;
    std::uint64_t captureTimeNanoseconds = 0;
    std::int64_t targetHostTimeNanoseconds = 0;
    std::int64_t targetBufferFrameCount = 0;
    bool startsNewTimeline = false;
    std::int64_t frameCount = 0;
    Bytes payload;
};

}  // namespace quillbridge
