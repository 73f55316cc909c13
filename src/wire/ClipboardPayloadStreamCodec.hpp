#pragma once

#include <cstdint>

#include <asio/awaitable.hpp>

#include "wire/ByteStream.hpp"
#include "wire/ClipboardPayloadStreamCodecError.hpp"
#include "wire/ClipboardTransferPayload.hpp"
#include "wire/ClipboardTransferResultCode.hpp"

namespace quillbridge {

// The body of a clipboard payload stream and its one-byte answer, moved in pieces.
//
// On one stream the side that sends the clipboard writes the stream-kind byte 5 and the 14-byte
// ClipboardPayloadStreamHeader (both its caller's job), then write(); then awaits receiveTransferResult().
// The receiving side decodes the header, then read() (or receiveBytes() to discard a body it will not
// apply), then sendTransferResult().
//
// Body layout, big-endian, no padding: item count u8; per item: representation count u8, has-file-metadata
// u8 (0 or 1), [filename length u16, content-type length u16, filename, content type], then per
// representation: identifier length u16, data length u32, identifier, data.
//
// Every broken rule of the format, and an end of stream that comes early, late or not at all, throws
// ClipboardPayloadStreamCodecException(invalidPayload) at once; nothing further is read or written, and the
// stream is left as it is. Stream errors pass through unchanged. Cancellation of the calling coroutine
// ends write(), read() and receiveBytes() with asio::error::operation_aborted at their next checkpoint
// (before each item, each representation and each data slice) at the latest.
//
// The peer's end of stream must come with the last byte of the body (or of the result byte) or on its own
// right after it, as a QUIC peer may send it in a later, empty frame: the readers then wait for it. A byte
// after the last one, or an end before it, is refused.
struct ClipboardPayloadStreamCodec {
    // Writes the body of `payload`; its last data slice ends this side's direction of the stream.
    static asio::awaitable<void> write(const ClipboardTransferPayload& payload, ByteStreamWriter& stream);

    // Reads a body of exactly `byteCount` bytes (the header's payloadByteCount) whose last byte ends the
    // peer's direction. Every bound is checked before the bytes it governs are received. A representation's
    // buffer grows with the data that actually arrives (at most one slice, or twice what has arrived), so a
    // length field alone never makes the reader allocate.
    static asio::awaitable<ClipboardTransferPayload> read(ByteStreamReader& stream, std::uint64_t byteCount);

    // Receives exactly `byteCount` bytes ending with the peer's end of stream, and keeps none of them.
    static asio::awaitable<void> receiveBytes(std::uint64_t byteCount, ByteStreamReader& stream);

    // Sends the result byte of `code`, ending this side's direction with it.
    static asio::awaitable<void> sendTransferResult(ClipboardTransferResultCode code,
                                                    ByteStreamWriter& stream);

    // Receives the peer's result byte, which must be exactly one byte that maps to a code and ends the
    // stream.
    static asio::awaitable<ClipboardTransferResultCode> receiveTransferResult(ByteStreamReader& stream);
};

}  // namespace quillbridge
