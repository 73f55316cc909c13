#pragma once

#include <exception>
#include <optional>
#include <utility>

#include <asio.hpp>

namespace quillbridge {

// An event loop for code that never waits on real time or I/O (fake transports): each call runs every
// handler that is ready until none is left, and never blocks.
class DrainingEventLoop {
public:
    // Runs every handler that is ready until none is left.
    void drain() {
        for (;;) {
            context.restart();
            if (context.poll() == 0) {
                return;
            }
        }
    }

    // Starts the awaitable and drains; returns its result, which must be there by then.
    template <class T>
    T run(asio::awaitable<T> awaitable) {
        std::optional<T> result;
        asio::co_spawn(context, std::move(awaitable),
                       [&](std::exception_ptr, T value) { result = std::move(value); });
        drain();
        return std::move(*result);
    }

    void run(asio::awaitable<void> awaitable) {
        asio::co_spawn(context, std::move(awaitable), asio::detached);
        drain();
    }

    asio::io_context context;
};

}  // namespace quillbridge
