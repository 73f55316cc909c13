#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include <gtest/gtest.h>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/quic/RunWithTimeout.hpp"
#include "support/quic/TestLoopback.hpp"
#include "support/quic/TestTLSIdentity.hpp"

namespace quillbridge {

using namespace std::chrono_literals;

// A host transport and a headset client on loopback; the host's validator records what it saw.
class QuicTransportFixture : public ::testing::Test {
protected:
    QuicListenerParameters listenerParameters(std::string bindAddress = testLoopbackAddress()) {
        QuicListenerParameters parameters;
        parameters.port = 0;
        parameters.bindAddress = std::move(bindAddress);
        parameters.identity = hostIdentity;
        parameters.certificateValidator = [this](ByteView leaf) {
            std::lock_guard lock(validatorMutex);
            ++validatorCalls;
            validatedCertificate.assign(leaf.begin(), leaf.end());
            return validatorAccepts.load();
        };
        return parameters;
    }

    std::unique_ptr<QuicListener> listen(QuicListenerParameters parameters) {
        return runWithTimeout(host.listen(std::move(parameters)), 5s);
    }

    template <typename T>
    T run(asio::awaitable<T> awaitable, std::chrono::milliseconds timeout = 10s) {
        return runWithTimeout(std::move(awaitable), timeout);
    }
    void run(asio::awaitable<void> awaitable, std::chrono::milliseconds timeout = 10s) {
        runWithTimeout(std::move(awaitable), timeout);
    }

    TLSIdentity hostIdentity = makeTestTLSIdentity("Test Host");
    LinuxQuicTransport host;
    QuicTestClient headset;
    std::atomic<bool> validatorAccepts{true};
    std::mutex validatorMutex;
    int validatorCalls = 0;
    Bytes validatedCertificate;
};

using QuicConnectionPair = std::pair<std::shared_ptr<QuicConnection>, std::shared_ptr<QuicConnection>>;

// One new connection: the host's end (from the listener) and the headset's end.
inline asio::awaitable<QuicConnectionPair> acceptAndConnect(QuicListener& listener, QuicTestClient& client,
                                                            QuicTestClient::Options options = {}) {
    using namespace asio::experimental::awaitable_operators;
    auto [server, headset] = co_await (listener.accept() && client.connect(listener.localPort(), options));
    co_return QuicConnectionPair{server, headset};
}

// Waits until the condition holds, looking every few milliseconds; false when it still did not hold after
// `bound` (generous: a condition that should hold never makes a test wait that long).
inline asio::awaitable<bool> waitUntil(std::function<bool()> condition,
                                       std::chrono::milliseconds bound = 5s) {
    asio::steady_timer timer(co_await asio::this_coro::executor);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            co_return false;
        }
        timer.expires_after(5ms);
        co_await timer.async_wait(asio::use_awaitable);
    }
    co_return true;
}

// Deterministic test data: byte i of a transfer is a function of i.
inline std::uint8_t patternByte(std::uint64_t index) {
    return static_cast<std::uint8_t>((index * 2654435761u) >> 13);
}

inline Bytes patternBytes(std::uint64_t offset, std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = patternByte(offset + i);
    }
    return bytes;
}

// Reads a stream of pattern bytes to its end, in receives of up to `maximumChunk` bytes; returns how many
// arrived and records a failure for any byte that differs from the pattern.
inline asio::awaitable<std::size_t> receivePatternToEnd(QuicStream& stream, std::size_t maximumChunk) {
    std::size_t received = 0;
    std::size_t mismatches = 0;
    for (;;) {
        auto chunk = co_await stream.receive(1, maximumChunk);
        for (std::size_t i = 0; i < chunk.data.size(); ++i) {
            mismatches += chunk.data[i] != patternByte(received + i);
        }
        received += chunk.data.size();
        if (chunk.isComplete) {
            EXPECT_EQ(mismatches, 0u);
            co_return received;
        }
    }
}

}  // namespace quillbridge
