#pragma once

#include <cstdint>
#include <optional>

#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"
#include "core/Uuid.hpp"
#include "wire/MicrophoneFrameStreamHeader.hpp"

namespace quillbridge {

// Receives the headset's microphone chunks for the virtual microphone. Runs on its own executor; the
// awaitables complete on the caller's.
class VisionMicrophoneReceiver {
public:
    virtual ~VisionMicrophoneReceiver() = default;

    // Takes the stream format the headset announced; only 48,000 Hz mono is accepted (others are logged and
    // refused by the receiver).
    virtual asio::awaitable<void> updateFormat(double sampleRate, std::uint32_t channelCount) = 0;

    // Makes the stream with this identity the active one.
    virtual asio::awaitable<void> startStream(Uuid streamID) = 0;
    // One chunk of a stream. Answers the highest chunk identifier to acknowledge, or nothing.
    virtual asio::awaitable<std::optional<std::uint64_t>> receive(Uuid streamID,
                                                                  MicrophoneFrameStreamHeader header,
                                                                  Bytes payload) = 0;
    // Ends the stream when it is the active one; true when it was.
    virtual asio::awaitable<bool> endStream(Uuid streamID) = 0;

    // Forgets the stream format and the active stream.
    virtual asio::awaitable<void> reset() = 0;
};

}  // namespace quillbridge
