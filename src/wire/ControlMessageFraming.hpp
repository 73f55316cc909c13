#pragma once

#include <cstdint>
#include <stdexcept>

#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"
#include "wire/ByteStream.hpp"

namespace quillbridge {

struct StreamControlMessage;

enum class FramingError {
    streamClosed,          // the stream ended before a whole prefix or body arrived
    invalidMessageLength,  // a length of 0 or above 65,536, outgoing or incoming
};

class ControlMessageFramingError : public std::runtime_error {
public:
    explicit ControlMessageFramingError(FramingError error);
    FramingError error() const { return error_; }

private:
    FramingError error_;
};

// The control stream carries one JSON control message per frame: a 4-byte big-endian length L
// (1 to 65,536 inclusive), then L bytes of JSON text. Nothing else is in a frame.
namespace ControlMessageFraming {

inline constexpr std::uint32_t maximumMessageLength = 65536;

// The whole frame of one message, prefix and body in one buffer. Throws JsonCodingError when the message
// cannot be encoded, ControlMessageFramingError(invalidMessageLength) when its text is empty or too long.
Bytes encode(const StreamControlMessage& message);

// Frames JSON text that is already encoded (the same checks as encode).
Bytes frame(ByteView jsonText);

// Reads one frame and returns its body, not decoded. Takes exactly 4 + L bytes from the stream, asking
// for the body only once the length has been checked. Throws ControlMessageFramingError(streamClosed)
// when the stream ends early, ControlMessageFramingError(invalidMessageLength) on a bad length, and the
// stream's own error unchanged when a receive fails.
asio::awaitable<Bytes> readMessageData(ByteStreamReader& stream);

}  // namespace ControlMessageFraming

}  // namespace quillbridge
