#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/Bytes.hpp"
#include "wire/EncodedVideoFrame.hpp"

namespace quillbridge {

// The 22-byte big-endian header in front of every encoded frame on a video stream:
//   version (1) | frameID (8) | presentationTimeNanoseconds (8) | payloadByteCount (4) | isKeyFrame (1)
// The host writes version 2 on its media stream; the reader takes only version 1, the version of the
// headset's Persona camera frames.
struct VideoFrameStreamHeader {
    static constexpr std::size_t byteCount = 22;
    static constexpr std::uint8_t hostVersion = 2;
    static constexpr std::uint8_t readableVersion = 1;

    std::uint8_t version = hostVersion;
    std::uint64_t frameID = 0;
    std::uint64_t presentationTimeNanoseconds = 0;
    std::uint32_t payloadByteCount = 0;
    bool isKeyFrame = false;

    // The header the host writes in front of `frame`; nothing when the payload is too long to count.
    static std::optional<VideoFrameStreamHeader> forHostFrame(const EncodedVideoFrame& frame);

    // The 22 bytes; the key-frame flag as 1 or 0.
    Bytes encodedData() const;

    // Reads the first 22 bytes of `data` (more are ignored): nothing when there are fewer or the version is
    // not 1. The key-frame flag is bit 0 of its byte.
    static std::optional<VideoFrameStreamHeader> decode(ByteView data);

    bool operator==(const VideoFrameStreamHeader&) const = default;
};

}  // namespace quillbridge
