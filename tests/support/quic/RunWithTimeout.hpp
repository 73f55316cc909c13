#pragma once

#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>

#include <asio/awaitable.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

namespace quillbridge {

// Runs one awaitable on a private io_context on this thread. When it has not finished within the time-out
// it is cancelled (and given a moment to unwind) and std::runtime_error("timed out") is thrown: a test that
// waits for the network never hangs.
template <typename T>
T runWithTimeout(asio::awaitable<T> awaitable, std::chrono::milliseconds timeout) {
    asio::io_context context;
    asio::cancellation_signal signal;
    std::optional<T> result;
    std::exception_ptr error;
    bool done = false;
    asio::co_spawn(context, std::move(awaitable),
                   asio::bind_cancellation_slot(signal.slot(), [&](std::exception_ptr e, T value) {
                       error = e;
                       if (!e) {
                           result.emplace(std::move(value));
                       }
                       done = true;
                   }));
    context.run_for(timeout);
    if (!done) {
        signal.emit(asio::cancellation_type::all);
        context.restart();
        context.run_for(std::chrono::seconds(5));
        throw std::runtime_error("timed out");
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return std::move(*result);
}

inline void runWithTimeout(asio::awaitable<void> awaitable, std::chrono::milliseconds timeout) {
    runWithTimeout<bool>(
        [](asio::awaitable<void> inner) -> asio::awaitable<bool> {
            co_await std::move(inner);
            co_return true;
        }(std::move(awaitable)),
        timeout);
}

}  // namespace quillbridge
