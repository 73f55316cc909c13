#include "wire/VideoFrameStreamHeader.hpp"

#include <limits>

#include "core/BigEndian.hpp"

namespace quillbridge {

std::optional<VideoFrameStreamHeader> VideoFrameStreamHeader::forHostFrame(const EncodedVideoFrame& frame) {
    if (frame.payload.size() > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return VideoFrameStreamHeader{hostVersion, frame.frameID, frame.presentationTimeNanoseconds,
                                  static_cast<std::uint32_t>(frame.payload.size()), frame.isKeyFrame};
}

Bytes VideoFrameStreamHeader::encodedData() const {
    Bytes data;
    data.reserve(byteCount);
    appendBigEndian(data, version);
    appendBigEndian(data, frameID);
    appendBigEndian(data, presentationTimeNanoseconds);
    appendBigEndian(data, payloadByteCount);
    appendBigEndian(data, static_cast<std::uint8_t>(isKeyFrame ? 1 : 0));
    return data;
}

std::optional<VideoFrameStreamHeader> VideoFrameStreamHeader::decode(ByteView data) {
    if (data.size() < byteCount)
        return std::nullopt;
    std::size_t cursor = 0;
    auto version = readUInt8(data, cursor);
    auto frameID = readBigEndianUInt64(data, cursor);
    auto presentationTime = readBigEndianUInt64(data, cursor);
    auto payloadByteCount = readBigEndianUInt32(data, cursor);
    auto keyFrame = readUInt8(data, cursor);
    if (!version || !frameID || !presentationTime || !payloadByteCount || !keyFrame)
        return std::nullopt;
    if (*version != readableVersion)
        return std::nullopt;
    return VideoFrameStreamHeader{*version, *frameID, *presentationTime, *payloadByteCount,
                                  (*keyFrame & 1) != 0};
}

}  // namespace quillbridge
