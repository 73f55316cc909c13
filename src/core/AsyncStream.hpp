#pragma once

#include <cstddef>
#include <optional>
#include <utility>

#include <asio/awaitable.hpp>

#include "core/AsyncChannel.hpp"

namespace quillbridge {

// An unbounded stream of values whose producer never waits: yield() buffers the value or hands it to a
// waiting consumer and returns at once. Consumers await next() on their own executors. Used for state that
// one actor publishes and another (often the main actor) follows. Thread-safe, like AsyncChannel.
template <class T>
class AsyncStream {
public:
    // Adds a value; false (value dropped) once the stream has finished.
    bool yield(T value) { return channel_.trySend(std::move(value)); }

    // Ends the stream. Values already yielded are still delivered; after them next() yields nothing.
    void finish() { channel_.close(); }

    bool isFinished() const { return !channel_.isOpen(); }
    std::size_t bufferedCount() const { return channel_.bufferedCount(); }

    // The next value, or nothing once the stream has finished and its buffer is drained. A cancelled wait
    // throws asio::system_error(operation_aborted) and takes no value.
    asio::awaitable<std::optional<T>> next() { return channel_.receive(); }

private:
    AsyncChannel<T> channel_{AsyncChannel<T>::unbounded};
};

}  // namespace quillbridge
