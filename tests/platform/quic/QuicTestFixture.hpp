#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include <gtest/gtest.h>

#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/quic/RunWithTimeout.hpp"
#include "support/quic/TestTLSIdentity.hpp"

namespace quillbridge {

using namespace std::chrono_literals;

// A host transport and a headset client on loopback; the host's validator records what it saw.
class QuicTransportFixture : public ::testing::Test {
protected:
    QuicListenerParameters listenerParameters(std::string bindAddress = "::1") {
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
