#include "wire/AudioFrameStreamHeader.hpp"

#include "core/BigEndian.hpp"

namespace quillbridge {

Bytes AudioFrameStreamHeader::encodedData() const {
    Bytes data;
    data.reserve(byteCount);
    appendEncoded(data);
    return data;
}

void AudioFrameStreamHeader::appendEncoded(Bytes& buffer) const {
    appendBigEndian(buffer, protocolVersion);
    appendBigEndian(buffer, chunkID);
    appendBigEndian(buffer, presentationTimeNanoseconds);
    appendBigEndian(buffer, packetCount);
    appendBigEndian(buffer, packetDescriptionsByteCount);
    appendBigEndian(buffer, payloadByteCount);
}

}  // namespace quillbridge
