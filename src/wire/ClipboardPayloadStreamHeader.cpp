#include "wire/ClipboardPayloadStreamHeader.hpp"

#include "core/BigEndian.hpp"
#include "wire/ClipboardLimits.hpp"

namespace quillbridge {

Bytes ClipboardPayloadStreamHeader::encodedData() const {
    Bytes data;
    data.reserve(encodedByteCount);
    appendBigEndian(data, protocolVersion);
    appendBigEndian(data, rawValue(operation));
    appendBigEndian(data, transferID);
    appendBigEndian(data, payloadByteCount);
    return data;
}

std::optional<ClipboardPayloadStreamHeader> ClipboardPayloadStreamHeader::decode(ByteView data) {
    if (data.size() != encodedByteCount)
        return std::nullopt;
    std::size_t cursor = 0;
    auto version = readUInt8(data, cursor);
    auto operationByte = readUInt8(data, cursor);
    auto transferID = readBigEndianUInt64(data, cursor);
    auto payloadByteCount = readBigEndianUInt32(data, cursor);
    if (!version || !operationByte || !transferID || !payloadByteCount)
        return std::nullopt;
    if (*version != currentProtocolVersion)
        return std::nullopt;
    auto operation = clipboardTransferOperationFromRawValue(*operationByte);
    if (!operation)
        return std::nullopt;
    if (*transferID == 0)
        return std::nullopt;
    if (*payloadByteCount < 1 || *payloadByteCount > ClipboardLimits::maximumPayloadBodyByteCount)
        return std::nullopt;
    return ClipboardPayloadStreamHeader{*version, *operation, *transferID, *payloadByteCount};
}

}  // namespace quillbridge
