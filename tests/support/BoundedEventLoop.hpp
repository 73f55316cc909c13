#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>

#include <asio.hpp>

namespace quillbridge {

// An event loop turned by hand: the code under test runs on `context`, which the caller turns while it waits
// for a condition or for an awaitable to finish. Every wait has a bound, so nothing waits forever.
class BoundedEventLoop {
public:
    // How long runUntil waits for a condition, and run for an awaitable, before giving up.
    std::chrono::milliseconds waitBound = std::chrono::seconds(10);
    std::chrono::milliseconds runBound = std::chrono::seconds(10);

    bool runUntil(const std::function<bool()>& condition) { return runUntil(condition, waitBound); }

    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            context.restart();
            context.run_one_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    void runFor(std::chrono::milliseconds duration) {
        context.restart();
        context.run_for(duration);
    }

    // Runs the awaitable to its end and returns its result or rethrows its exception; throws when it has
    // not finished within runBound.
    template <class T>
    T run(asio::awaitable<T> awaitable) {
        std::optional<T> result;
        std::exception_ptr error;
        bool done = false;
        asio::co_spawn(context, std::move(awaitable), [&](std::exception_ptr e, T value) {
            error = e;
            if (!e) {
                result.emplace(std::move(value));
            }
            done = true;
        });
        if (!runUntil([&] { return done; }, runBound)) {
            throw std::runtime_error("timed out");
        }
        if (error) {
            std::rethrow_exception(error);
        }
        return std::move(*result);
    }

    void run(asio::awaitable<void> awaitable) {
        run([](asio::awaitable<void> inner) -> asio::awaitable<bool> {
            co_await std::move(inner);
            co_return true;
        }(std::move(awaitable)));
    }

    asio::io_context context;
};

}  // namespace quillbridge
