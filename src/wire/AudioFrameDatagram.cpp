#include "wire/AudioFrameDatagram.hpp"

#include "core/BigEndian.hpp"

namespace quillbridge {

std::optional<Bytes> AudioFrameDatagram::encodedData() const {
    std::size_t count = packetDescriptions.size();
    if (count != header.packetCount)
        return std::nullopt;
    // count fits in 16 bits here, so the product cannot overflow.
    if (AudioPacketDescription::byteCount * count != header.packetDescriptionsByteCount)
        return std::nullopt;
    if (payload.size() != header.payloadByteCount)
        return std::nullopt;
    std::size_t total = fixedByteCount + AudioPacketDescription::byteCount * count + payload.size();
    if (total > maximumByteCount)
        return std::nullopt;

    Bytes data;
    data.reserve(total);
    appendBigEndian(data, kindByte);
    appendBigEndian(data, formatRevision);
    header.appendEncoded(data);
    for (const auto& description : packetDescriptions)
        description.appendEncoded(data);
    appendBytes(data, payload);
    return data;
}

}  // namespace quillbridge
