#pragma once

#include <cstddef>
#include <cstdint>

#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"
#include "wire/ByteStream.hpp"

namespace quillbridge {

enum class QuicStreamDirectionality { bidirectional, unidirectional };

// What one receive delivers: the bytes, and whether the last of them is the stream's final byte. A chunk
// that ends the stream may be shorter than asked for, or empty when the end arrives after all the data.
struct QuicStreamChunk {
    Bytes data;
    bool isComplete = false;

    bool operator==(const QuicStreamChunk&) const = default;
};

// The QUIC application error code of clipboard streams.
inline constexpr std::uint64_t clipboardStreamApplicationErrorCode = 0x51420001;

// One QUIC stream of a connection. Every member may be called from any thread; awaited operations
// complete on the awaiting coroutine's executor and end with asio::error::operation_aborted when that
// coroutine is cancelled. Releasing the last reference to a stream stops reading it (STOP_SENDING) when its
// data was not read to the end, and resets its sending side when that was not ended, both with the
// stream's application error code.
class QuicStream : public ByteStreamReader, public ByteStreamWriter {
public:
    virtual ~QuicStream() = default;

    virtual std::int64_t id() const = 0;
    virtual QuicStreamDirectionality directionality() const = 0;
    // True for a stream this side opened.
    virtual bool isLocallyInitiated() const = 0;

    // Waits until at least minimumLength bytes (at least 1) have arrived, or the stream ended, and takes up
    // to maximumLength of them. At the end of the stream the chunk may be shorter, isComplete set. Throws
    // std::system_error (QuicStreamAbortedError with the peer's code when the peer reset the stream).
    virtual asio::awaitable<QuicStreamChunk> receive(std::size_t minimumLength,
                                                     std::size_t maximumLength) = 0;
    // Exactly `length` bytes, or fewer only when the stream ended first.
    asio::awaitable<QuicStreamChunk> receiveExactly(std::size_t length) { return receive(length, length); }

    // The ordered-byte-stream view of the same receive, as the control stream's framing reads it.
    asio::awaitable<ReceivedBytes> receive(std::size_t count) override {
        auto chunk = co_await receive(count, count);
        co_return ReceivedBytes{std::move(chunk.data), chunk.isComplete};
    }

    // Queues the bytes for sending, optionally ending the stream after them, and completes once they were
    // written to the network (not yet acknowledged: the transport keeps them until they are). Sends of one
    // stream go out in call order. Throws std::system_error when this direction is closed or was stopped by
    // the peer, or when the connection ended.
    asio::awaitable<void> send(Bytes data, bool endOfStream) override = 0;

    // The application error code used when this side aborts the stream, also when it is released unfinished.
    virtual void setApplicationErrorCode(std::uint64_t code) = 0;
    // Abandons the sending side (RESET_STREAM) with the code. Queued data that was not sent is dropped.
    virtual void reset(std::uint64_t applicationErrorCode) = 0;
    // Asks the peer to stop sending (STOP_SENDING) with the code; further receives fail.
    virtual void stopSending(std::uint64_t applicationErrorCode) = 0;
};

}  // namespace quillbridge
