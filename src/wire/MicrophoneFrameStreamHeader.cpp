#include "wire/MicrophoneFrameStreamHeader.hpp"

#include "core/BigEndian.hpp"

namespace quillbridge {

std::optional<MicrophoneFrameStreamHeader> MicrophoneFrameStreamHeader::decode(ByteView data) {
    if (data.size() < byteCount)
        return std::nullopt;
    std::size_t cursor = 0;
    auto version = readUInt8(data, cursor);
    auto chunkID = readBigEndianUInt64(data, cursor);
    auto captureTime = readBigEndianUInt64(data, cursor);
    auto frameCount = readBigEndianUInt32(data, cursor);
    auto payloadByteCount = readBigEndianUInt32(data, cursor);
    if (!version || !chunkID || !captureTime || !frameCount || !payloadByteCount)
        return std::nullopt;
    if (*version != supportedProtocolVersion)
        return std::nullopt;
    return MicrophoneFrameStreamHeader{*version, *chunkID, *captureTime, *frameCount, *payloadByteCount};
}

}  // namespace quillbridge
