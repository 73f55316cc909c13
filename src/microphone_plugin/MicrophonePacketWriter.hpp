#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "microphone_plugin/MicrophoneAudioState.hpp"
#include "virtual_devices/MicrophonePacket.hpp"

namespace quillbridge {

// Copies checked packets into the ring. Only one thread writes at a time (the driver holds its state lock
// while writing, which also keeps the start of IO from resetting the positions half-way through a packet).
class MicrophonePacketWriter {
public:
    explicit MicrophonePacketWriter(MicrophoneAudioState& state) : state_(state) {}

    // `sampleBytes` holds header.frameCount little-endian floats.
    void write(const microphone::MicrophonePacketHeader& header, std::span<const std::uint8_t> sampleBytes);

private:
    MicrophoneAudioState& state_;
    std::optional<std::uint64_t> streamIdentifier_;
};

}  // namespace quillbridge
