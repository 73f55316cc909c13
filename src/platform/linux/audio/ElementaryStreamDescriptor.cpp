#include "platform/linux/audio/ElementaryStreamDescriptor.hpp"

#include <algorithm>

#include "core/BigEndian.hpp"

namespace quillbridge {

namespace {

enum DescriptorTag : std::uint8_t {
    esDescriptorTag = 0x03,
    decoderConfigDescriptorTag = 0x04,
    decoderSpecificInfoTag = 0x05,
    slConfigDescriptorTag = 0x06,
};

// A descriptor: its tag, its size in 7-bit groups (most significant first, each but the last with the top
// bit set), then its body.
void appendDescriptor(Bytes& buffer, std::uint8_t tag, ByteView body) {
    buffer.push_back(tag);
    std::uint8_t groups[10];
    std::size_t groupCount = 0;
    std::size_t size = body.size();
    do {
        groups[groupCount++] = static_cast<std::uint8_t>(size & 0x7F);
        size >>= 7;
    } while (size > 0);
    while (groupCount > 0) {
        --groupCount;
        buffer.push_back(static_cast<std::uint8_t>(groups[groupCount] | (groupCount > 0 ? 0x80 : 0x00)));
    }
    appendBytes(buffer, body);
}

void appendBigEndianUInt24(Bytes& buffer, std::uint32_t value) {
    buffer.push_back(static_cast<std::uint8_t>(value >> 16));
    buffer.push_back(static_cast<std::uint8_t>(value >> 8));
    buffer.push_back(static_cast<std::uint8_t>(value));
}

}  // namespace

Bytes ElementaryStreamDescriptor::encodedData() const {
    Bytes decoderConfig;
    decoderConfig.push_back(mpeg4AudioObjectTypeIndication);
    // streamType (6 bits), upStream 0, reserved 1.
    decoderConfig.push_back(static_cast<std::uint8_t>(audioStreamType << 2 | 0x01));
    appendBigEndianUInt24(decoderConfig, std::min(bufferSizeBytes, maximumBufferSizeBytes));
    appendBigEndian(decoderConfig, maximumBitRateBitsPerSecond);
    appendBigEndian(decoderConfig, averageBitRateBitsPerSecond);
    appendDescriptor(decoderConfig, decoderSpecificInfoTag, audioSpecificConfig);

    Bytes elementaryStream;
    appendBigEndian(elementaryStream, elementaryStreamID);
    // No stream dependence, no URL, no OCR stream, priority 0.
    elementaryStream.push_back(0x00);
    appendDescriptor(elementaryStream, decoderConfigDescriptorTag, decoderConfig);
    const std::uint8_t slConfig[] = {predefinedSLConfig};
    appendDescriptor(elementaryStream, slConfigDescriptorTag, slConfig);

    Bytes descriptor;
    appendDescriptor(descriptor, esDescriptorTag, elementaryStream);
    return descriptor;
}

}  // namespace quillbridge
