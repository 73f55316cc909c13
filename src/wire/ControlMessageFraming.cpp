#include "wire/ControlMessageFraming.hpp"

#include "core/BigEndian.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {

ControlMessageFramingError::ControlMessageFramingError(FramingError error)
    : std::runtime_error(error == FramingError::streamClosed ? "control stream closed"
                                                             : "invalid control message length"),
      error_(error) {}

namespace ControlMessageFraming {

Bytes frame(ByteView jsonText) {
    if (jsonText.empty() || jsonText.size() > maximumMessageLength) {
        throw ControlMessageFramingError(FramingError::invalidMessageLength);
    }
    Bytes buffer;
    buffer.reserve(4 + jsonText.size());
    appendBigEndian(buffer, static_cast<std::uint32_t>(jsonText.size()));
    appendBytes(buffer, jsonText);
    return buffer;
}

Bytes encode(const StreamControlMessage& message) {
    auto text = encodeJson(message);
    if (!text)
        throw JsonCodingError(text.error());
    return frame(asBytes(*text));
}

asio::awaitable<Bytes> readMessageData(ByteStreamReader& stream) {
    auto prefix = co_await stream.receive(4);
    if (prefix.content.size() != 4)
        throw ControlMessageFramingError(FramingError::streamClosed);
    std::size_t cursor = 0;
    std::uint32_t length = *readBigEndianUInt32(prefix.content, cursor);
    if (length == 0 || length > maximumMessageLength) {
        throw ControlMessageFramingError(FramingError::invalidMessageLength);
    }
    auto body = co_await stream.receive(length);
    if (body.content.size() != length)
        throw ControlMessageFramingError(FramingError::streamClosed);
    co_return std::move(body.content);
}

}  // namespace ControlMessageFraming
}  // namespace quillbridge
