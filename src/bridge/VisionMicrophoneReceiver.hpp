#pragma once

#include <cstdint>

#include <asio/awaitable.hpp>

namespace quillbridge {

// Receives the headset's microphone chunks for the virtual microphone. Runs on its own executor; the
// awaitables complete on the caller's.
class VisionMicrophoneReceiver {
public:
    virtual ~VisionMicrophoneReceiver() = default;

    // Takes the stream format the headset announced; only 48,000 Hz mono is accepted (others are logged and
    // refused by the receiver).
    virtual asio::awaitable<void> updateFormat(double sampleRate, std::uint32_t channelCount) = 0;

    // Forgets the stream format and the active stream.
    virtual asio::awaitable<void> reset() = 0;
};

}  // namespace quillbridge
