#pragma once

#include <cstddef>

#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"

namespace quillbridge {

// What one receive delivered. `endOfStream` is true when the sender finished the stream with (or
// before) these bytes: no further bytes will follow.
struct ReceivedBytes {
    Bytes content;
    bool endOfStream = false;
};

// The reading side of one ordered byte stream (a QUIC stream in production, memory in tests).
// A failed, reset or cancelled stream throws std::system_error from the receive that notices it.
class ByteStreamReader {
public:
    virtual ~ByteStreamReader() = default;

    // Waits until `count` bytes have arrived and returns exactly them, or returns fewer (possibly none)
    // together with endOfStream when the stream ended first. Never returns more than `count` bytes.
    virtual asio::awaitable<ReceivedBytes> receive(std::size_t count) = 0;
};

// The writing side of one ordered byte stream. Bytes handed over are delivered in order; with
// `endOfStream` the stream is finished after them.
class ByteStreamWriter {
public:
    virtual ~ByteStreamWriter() = default;

    virtual asio::awaitable<void> send(Bytes bytes, bool endOfStream) = 0;
};

}  // namespace quillbridge
