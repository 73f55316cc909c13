#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>
#include <asio.hpp>

namespace quillbridge {

// The event loop of the loopback broadcaster tests: the broadcaster and its tasks run on `context`, which the
// test turns by hand while it waits for a condition or for an awaitable to finish.
class LoopbackEventLoop : public ::testing::Test {
protected:
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
