#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <asio/ip/udp.hpp>

#include "core/Bytes.hpp"
#include "core/LogRateLimiter.hpp"
#include "core/SecureRandom.hpp"
#include "platform/linux/quic/QuicEndpoint.hpp"
#include "platform/linux/quic/QuicRuntime.hpp"
#include "support/quic/RunOnEngine.hpp"
#include "support/quic/UdpSendFaults.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// A plain UDP socket on 127.0.0.1 that collects every datagram it receives on a thread of its own.
class UdpCollector {
public:
    UdpCollector() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int bufferSize = 16 * 1024 * 1024;
        if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bufferSize, sizeof bufferSize) != 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
        }
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address_), sizeof address_) != 0) {
            throw std::runtime_error("cannot bind 127.0.0.1");
        }
        socklen_t length = sizeof address_;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length);
        thread_ = std::thread([this] { collect(); });
    }
    ~UdpCollector() {
        stopping_ = true;
        thread_.join();
        ::close(fd_);
    }

    int fd() const { return fd_; }
    ngtcp2_addr address() { return {reinterpret_cast<ngtcp2_sockaddr*>(&address_), sizeof address_}; }

    // Waits (bounded) until `count` datagrams arrived; returns all that did.
    std::vector<Bytes> waitFor(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
        return received_;
    }
    // Everything that arrived so far, once nothing waits unread in the socket.
    std::vector<Bytes> drained(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (unreadBytes(fd_) == 0 || std::chrono::steady_clock::now() > deadline) {
                    return received_;
                }
            }
            std::this_thread::yield();
        }
    }

    static int unreadBytes(int fd) {
        int bytes = 0;
        ::ioctl(fd, FIONREAD, &bytes);
        return bytes;
    }

private:
    void collect() {
        std::vector<std::uint8_t> buffer(65536);
        while (!stopping_) {
            pollfd descriptor{fd_, POLLIN, 0};
            if (::poll(&descriptor, 1, 20) <= 0) {
                continue;
            }
            // Read and kept under the lock, so that drained() sees either the datagram or its bytes.
            std::lock_guard lock(mutex_);
            const ssize_t length = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (length > 0) {
                received_.emplace_back(buffer.begin(), buffer.begin() + length);
                changed_.notify_all();
            }
        }
    }

    int fd_ = -1;
    sockaddr_in address_{};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> received_;
    std::thread thread_;
};

// One endpoint on 127.0.0.1, driven from the test through its engine thread.
class UdpBackPressureTests : public ::testing::Test {
protected:
    UdpBackPressureTests() {
        asio::ip::udp::socket socket(runtime->context(),
                                     asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0));
        endpointSocket = socket.native_handle();
        endpoint = std::make_shared<QuicEndpoint>(runtime, std::move(socket), secureRandomBytes(32), nullptr);
    }
    ~UdpBackPressureTests() override {
        UdpSendFaults::reset();
        onEngine([this] { endpoint->shutDown(); });
        runtime->shutdown([] {});
    }

    template <typename Work>
    auto onEngine(Work work) -> decltype(work()) {
        return runOnEngine(*runtime, std::move(work));
    }

    // A packet that says which it is in its first four bytes.
    static Bytes numberedPacket(std::uint32_t number, std::size_t length) {
        Bytes packet(length, 0xab);
        std::memcpy(packet.data(), &number, sizeof number);
        return packet;
    }
    static std::uint32_t numberOf(const Bytes& packet) {
        std::uint32_t number = UINT32_MAX;
        if (packet.size() >= sizeof number) {
            std::memcpy(&number, packet.data(), sizeof number);
        }
        return number;
    }

    UdpSendFaults::Scope faults;
    std::shared_ptr<QuicRuntime> runtime = std::make_shared<QuicRuntime>();
    std::shared_ptr<QuicEndpoint> endpoint;
    int endpointSocket = -1;
    UdpCollector peer;
};

TEST_F(UdpBackPressureTests, PacketsKeptWhileTheSocketWouldBlockLeaveInTheirOrderOnceItIsWritable) {
    constexpr int blockedCalls = 5;
    UdpSendFaults::blockSends(endpointSocket, blockedCalls);
    const bool blockedAtOnce = onEngine([this] {
        auto remote = peer.address();
        for (std::uint32_t number = 0; number < 10; ++number) {
            const auto packet = numberedPacket(number, 100);
            endpoint->sendPackets(remote, packet.data(), packet.size(), packet.size());
        }
        // Three packets in one segmented send.
        Bytes batch;
        for (std::uint32_t number = 10; number < 13; ++number) {
            appendBytes(batch, numberedPacket(number, 100));
        }
        endpoint->sendPackets(remote, batch.data(), batch.size(), 100);
        return endpoint->isSendBlocked() && endpoint->blockedBytes() == 1300;
    });
    EXPECT_TRUE(blockedAtOnce);

    const auto received = peer.waitFor(13);
    ASSERT_EQ(received.size(), 13u);
    for (std::uint32_t number = 0; number < 13; ++number) {
        EXPECT_EQ(received[number], numberedPacket(number, 100)) << number;
    }
    EXPECT_EQ(UdpSendFaults::blockedSends(), blockedCalls);
    EXPECT_TRUE(onEngine([this] { return !endpoint->isSendBlocked() && endpoint->blockedBytes() == 0; }));
}

TEST_F(UdpBackPressureTests, TheQueueOfBlockedPacketsIsBoundedAndKeepsTheOldest) {
    constexpr std::size_t packetLength = 1200;
    constexpr std::size_t kept = QuicEndpoint::maximumBlockedBytes / packetLength;
    constexpr std::size_t offered = kept + 100;
    UdpSendFaults::blockSends(endpointSocket, -1);
    ScopedLogCapture capture;
    const auto [blockedBytes, dropped] = onEngine([this] {
        auto remote = peer.address();
        for (std::uint32_t number = 0; number < offered; ++number) {
            const auto packet = numberedPacket(number, packetLength);
            endpoint->sendPackets(remote, packet.data(), packet.size(), packet.size());
        }
        return std::pair{endpoint->blockedBytes(), endpoint->droppedBlockedPackets()};
    });
    EXPECT_EQ(blockedBytes, kept * packetLength);
    EXPECT_EQ(dropped, offered - kept);
    // Each drop is not a line of its own.
    EXPECT_LE(capture.messages("QuicTransport").size(), LogRateLimiter::Limits{}.maximumMessages);

    UdpSendFaults::unblockSends();
    const auto received = peer.waitFor(kept);
    ASSERT_EQ(received.size(), kept);
    for (std::uint32_t number = 0; number < kept; ++number) {
        ASSERT_EQ(numberOf(received[number]), number);
    }
    EXPECT_TRUE(onEngine([this] { return !endpoint->isSendBlocked() && endpoint->blockedBytes() == 0; }));
}

// A client's first Initial as far as the endpoint reads it before it decrypts anything: a long header of
// version 1 with an 8-byte destination ID, padded to 1200 bytes.
Bytes initialPacket(std::uint8_t seed) {
    Bytes packet{0xc3, 0x00, 0x00, 0x00, 0x01, 8};
    for (int i = 0; i < 8; ++i) {
        packet.push_back(static_cast<std::uint8_t>(seed + i));
    }
    packet.push_back(8);
    for (int i = 0; i < 8; ++i) {
        packet.push_back(static_cast<std::uint8_t>(0x80 + seed + i));
    }
    packet.push_back(0);  // no token
    const std::size_t remaining = 1200 - packet.size() - 2;
    packet.push_back(static_cast<std::uint8_t>(0x40 | (remaining >> 8)));
    packet.push_back(static_cast<std::uint8_t>(remaining & 0xff));
    packet.resize(1200, 0);
    return packet;
}

TEST_F(UdpBackPressureTests, InitialsRefusedWhileNotListeningGetFewAnswersAndFewLogLines) {
    onEngine([this] { endpoint->start(); });
    sockaddr_in target{};
    socklen_t targetLength = sizeof target;
    ::getsockname(endpointSocket, reinterpret_cast<sockaddr*>(&target), &targetLength);
    ScopedLogCapture capture;

    constexpr int offered = 1000;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < offered; ++i) {
        const auto packet = initialPacket(static_cast<std::uint8_t>(i));
        ASSERT_EQ(::sendto(peer.fd(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&target),
                           targetLength),
                  static_cast<ssize_t>(packet.size()));
    }
    // Once the endpoint's socket holds nothing unread, the handler that read the last of them has finished
    // when work posted after that runs.
    for (int i = 0; i < 1000 && UdpCollector::unreadBytes(endpointSocket) > 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(UdpCollector::unreadBytes(endpointSocket), 0);
    onEngine([] {});
    const auto elapsedSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    const auto answers = peer.drained();
    ASSERT_FALSE(answers.empty());
    // A close from the host, in a long-header packet.
    EXPECT_EQ(answers.front()[0] & 0x80, 0x80);
    // At most so many per second of the monotonic clock the burst touched.
    EXPECT_LE(answers.size(), QuicEndpoint::refusalsPerSecond * static_cast<std::size_t>(elapsedSeconds + 2));
    EXPECT_LT(answers.size(), static_cast<std::size_t>(offered));

    std::size_t refusalLines = 0;
    for (const auto& message : capture.messages("QuicTransport")) {
        refusalLines += message.starts_with("Refused a handshake");
    }
    EXPECT_LE(refusalLines, LogRateLimiter::Limits{}.maximumMessages);
}

}  // namespace
}  // namespace quillbridge
