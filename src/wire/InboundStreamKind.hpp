#pragma once

#include <cstdint>
#include <optional>

namespace quillbridge {

// The byte that opens every QUIC stream but the control stream; its value is the case's position plus one.
// `audio` never opens a stream: it is the first byte of every audio datagram.
enum class InboundStreamKind : std::uint8_t {
    video = 1,           // the host's media stream of encoded screen frames
    audio = 2,           // first byte of an AudioFrameDatagram
    personaCamera = 3,   // headset-opened stream of Persona camera frames
    microphone = 4,      // headset-opened stream of microphone chunks
    clipboardPaste = 5,  // a clipboard payload stream, opened by either side
};

// The kind of a wire byte, or nothing for 0 and 6 to 255.
constexpr std::optional<InboundStreamKind> inboundStreamKindFromWireByte(std::uint8_t byte) {
    if (byte < 1 || byte > 5)
        return std::nullopt;
    return static_cast<InboundStreamKind>(byte);
}

constexpr std::uint8_t wireByte(InboundStreamKind kind) {
    return static_cast<std::uint8_t>(kind);
}

}  // namespace quillbridge
