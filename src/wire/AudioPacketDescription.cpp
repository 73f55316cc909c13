#include "wire/AudioPacketDescription.hpp"

#include "core/BigEndian.hpp"

namespace quillbridge {

Bytes AudioPacketDescription::encodedData() const {
    Bytes data;
    data.reserve(byteCount);
    appendEncoded(data);
    return data;
}

void AudioPacketDescription::appendEncoded(Bytes& buffer) const {
    appendBigEndian(buffer, dataByteSize);
    appendBigEndian(buffer, variableFramesInPacket);
}

}  // namespace quillbridge
