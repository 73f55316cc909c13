// Builds audio datagrams from arbitrary field values and checks the builder's promises: it refuses every
// inconsistent or oversized value, and what it builds has exactly the announced layout and size.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "core/BigEndian.hpp"
#include "core/Bytes.hpp"
#include "wire/AudioFrameDatagram.hpp"

using namespace quillbridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The fixed fields below take 35 bytes.
    if (size < 35)
        return 0;
    ByteView input(data, size);
    std::size_t cursor = 0;
    auto fields = [&]() -> std::optional<AudioFrameDatagram> {
        AudioFrameDatagram value;
        auto revision = readBigEndianUInt32(input, cursor);
        auto version = readUInt8(input, cursor);
        auto chunk = readBigEndianUInt64(input, cursor);
        auto time = readBigEndianUInt64(input, cursor);
        auto packetCount = readBigEndianUInt16(input, cursor);
        auto descriptionBytes = readBigEndianUInt32(input, cursor);
        auto payloadBytes = readBigEndianUInt32(input, cursor);
        // How many descriptions and payload bytes the value really holds: near the announced counts, so
        // that both agreeing and disagreeing values are tried, and never more than the input can pay for.
        auto descriptionCount = readBigEndianUInt16(input, cursor);
        auto payloadLength = readBigEndianUInt16(input, cursor);
        value.formatRevision = *revision;
        value.header =
            AudioFrameStreamHeader{*version, *chunk, *time, *packetCount, *descriptionBytes, *payloadBytes};
        std::size_t descriptions = std::min<std::size_t>(*descriptionCount % 256, (size - cursor) / 8);
        for (std::size_t index = 0; index < descriptions; ++index) {
            value.packetDescriptions.push_back(
                {*readBigEndianUInt32(input, cursor), *readBigEndianUInt32(input, cursor)});
        }
        std::size_t payload = std::min<std::size_t>(*payloadLength % 2048, size - cursor);
        value.payload.assign(input.begin() + cursor, input.begin() + cursor + payload);
        return value;
    }();
    if (!fields)
        return 0;
    const AudioFrameDatagram& value = *fields;

    std::size_t count = value.packetDescriptions.size();
    std::size_t total = AudioFrameDatagram::fixedByteCount + 8 * count + value.payload.size();
    bool consistent = count == value.header.packetCount &&
                      8 * count == value.header.packetDescriptionsByteCount &&
                      value.payload.size() == value.header.payloadByteCount &&
                      total <= AudioFrameDatagram::maximumByteCount;

    auto encoded = value.encodedData();
    if (encoded.has_value() != consistent)
        std::abort();
    if (!encoded)
        return 0;
    if (encoded->size() != total || (*encoded)[0] != 2)
        std::abort();
    std::size_t at = 1;
    if (readBigEndianUInt32(*encoded, at) != value.formatRevision)
        std::abort();
    Bytes header = value.header.encodedData();
    if (!std::equal(header.begin(), header.end(), encoded->begin() + 5))
        std::abort();
    at = AudioFrameDatagram::fixedByteCount;
    for (const auto& description : value.packetDescriptions) {
        if (readBigEndianUInt32(*encoded, at) != description.dataByteSize)
            std::abort();
        if (readBigEndianUInt32(*encoded, at) != description.variableFramesInPacket)
            std::abort();
    }
    if (!std::equal(value.payload.begin(), value.payload.end(), encoded->begin() + at))
        std::abort();
    return 0;
}
