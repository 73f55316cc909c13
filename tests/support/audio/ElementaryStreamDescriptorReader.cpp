#include "support/audio/ElementaryStreamDescriptorReader.hpp"

#include <cstddef>
#include <cstdint>

#include "core/BigEndian.hpp"

namespace quillbridge {

namespace {

struct Descriptor {
    std::uint8_t tag = 0;
    ByteView body;
};

std::optional<Descriptor> readDescriptor(ByteView bytes, std::size_t& cursor) {
    auto tag = readUInt8(bytes, cursor);
    if (!tag)
        return std::nullopt;
    std::size_t size = 0;
    for (int group = 0;; ++group) {
        auto byte = readUInt8(bytes, cursor);
        if (!byte || group == 4)
            return std::nullopt;
        size = size << 7 | (*byte & 0x7F);
        if (!(*byte & 0x80))
            break;
    }
    if (size > bytes.size() - cursor)
        return std::nullopt;
    Descriptor descriptor{*tag, bytes.subspan(cursor, size)};
    cursor += size;
    return descriptor;
}

std::optional<std::uint32_t> readUInt24(ByteView bytes, std::size_t& cursor) {
    if (bytes.size() - cursor < 3)
        return std::nullopt;
    std::uint32_t value =
        std::uint32_t{bytes[cursor]} << 16 | std::uint32_t{bytes[cursor + 1]} << 8 | bytes[cursor + 2];
    cursor += 3;
    return value;
}

}  // namespace

std::optional<ElementaryStreamDescriptor> readElementaryStreamDescriptor(ByteView bytes) {
    std::size_t cursor = 0;
    auto elementaryStream = readDescriptor(bytes, cursor);
    if (!elementaryStream || elementaryStream->tag != 0x03 || cursor != bytes.size())
        return std::nullopt;

    ElementaryStreamDescriptor result;
    ByteView body = elementaryStream->body;
    cursor = 0;
    auto elementaryStreamID = readBigEndianUInt16(body, cursor);
    auto flags = readUInt8(body, cursor);
    if (!elementaryStreamID || !flags)
        return std::nullopt;
    result.elementaryStreamID = *elementaryStreamID;
    if (*flags & 0x80)
        cursor += 2;  // dependsOn_ES_ID
    if (*flags & 0x40) {
        auto urlLength = readUInt8(body, cursor);
        if (!urlLength)
            return std::nullopt;
        cursor += *urlLength;
    }
    if (*flags & 0x20)
        cursor += 2;  // OCR_ES_Id
    if (cursor > body.size())
        return std::nullopt;

    auto decoderConfig = readDescriptor(body, cursor);
    auto slConfig = readDescriptor(body, cursor);
    if (!decoderConfig || decoderConfig->tag != 0x04 || !slConfig || slConfig->tag != 0x06 ||
        cursor != body.size() || slConfig->body.size() != 1 || slConfig->body[0] != 0x02) {
        return std::nullopt;
    }

    ByteView config = decoderConfig->body;
    cursor = 0;
    auto objectType = readUInt8(config, cursor);
    auto streamType = readUInt8(config, cursor);
    auto bufferSize = readUInt24(config, cursor);
    auto maximumBitRate = readBigEndianUInt32(config, cursor);
    auto averageBitRate = readBigEndianUInt32(config, cursor);
    if (!objectType || *objectType != 0x40 || !streamType || *streamType >> 2 != 0x05 || !bufferSize ||
        !maximumBitRate || !averageBitRate) {
        return std::nullopt;
    }
    auto specificInfo = readDescriptor(config, cursor);
    if (!specificInfo || specificInfo->tag != 0x05 || cursor != config.size())
        return std::nullopt;

    result.bufferSizeBytes = *bufferSize;
    result.maximumBitRateBitsPerSecond = *maximumBitRate;
    result.averageBitRateBitsPerSecond = *averageBitRate;
    result.audioSpecificConfig.assign(specificInfo->body.begin(), specificInfo->body.end());
    return result;
}

}  // namespace quillbridge
