#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/Bytes.hpp"

namespace quillbridge {

// The 25-byte big-endian header in front of every chunk on a headset-opened microphone stream:
//   protocolVersion (1) | chunkID (8) | captureTimeNanoseconds (8) | frameCount (4) | payloadByteCount (4)
// The host only reads it. The reader bounds neither count; the stream's reader applies its own limits.
struct MicrophoneFrameStreamHeader {
    static constexpr std::size_t byteCount = 25;
    static constexpr std::uint8_t supportedProtocolVersion = 1;

    std::uint8_t protocolVersion = supportedProtocolVersion;
    std::uint64_t chunkID = 0;
    // Capture time on the headset clock.
    std::uint64_t captureTimeNanoseconds = 0;
    std::uint32_t frameCount = 0;
    std::uint32_t payloadByteCount = 0;

    // Reads the first 25 bytes of `data` (more are ignored): nothing when there are fewer or the version is
    // not 1.
    static std::optional<MicrophoneFrameStreamHeader> decode(ByteView data);

    bool operator==(const MicrophoneFrameStreamHeader&) const = default;
};

}  // namespace quillbridge
