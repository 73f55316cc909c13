#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Bytes.hpp"

namespace quillbridge {

// The 27-byte big-endian header of an audio datagram:
//   protocolVersion (1) | chunkID (8) | presentationTimeNanoseconds (8) | packetCount (2)
//   | packetDescriptionsByteCount (4) | payloadByteCount (4)
struct AudioFrameStreamHeader {
    static constexpr std::size_t byteCount = 27;
    static constexpr std::uint8_t currentProtocolVersion = 1;

    std::uint8_t protocolVersion = currentProtocolVersion;
    std::uint64_t chunkID = 0;
    // Presentation time of the chunk's first sample.
    std::uint64_t presentationTimeNanoseconds = 0;
    std::uint16_t packetCount = 0;
    // 8 × packetCount.
    std::uint32_t packetDescriptionsByteCount = 0;
    std::uint32_t payloadByteCount = 0;

    Bytes encodedData() const;
    void appendEncoded(Bytes& buffer) const;

    bool operator==(const AudioFrameStreamHeader&) const = default;
};

}  // namespace quillbridge
