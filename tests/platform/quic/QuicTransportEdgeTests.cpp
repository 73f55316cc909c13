#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/quic/QuicTestFixture.hpp"
#include "support/quic/UdpSendFaults.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;
using namespace std::string_view_literals;

using ConnectionPair = std::pair<std::shared_ptr<QuicConnection>, std::shared_ptr<QuicConnection>>;

QuicTestClient::Options overIPv4() {
    QuicTestClient::Options options;
    options.host = "127.0.0.1";
    return options;
}

asio::awaitable<ConnectionPair> connectPair(QuicListener& listener, QuicTestClient& client) {
    auto [server, headset] = co_await (listener.accept() && client.connect(listener.localPort(), overIPv4()));
    co_return ConnectionPair{server, headset};
}

asio::awaitable<void> sleepFor(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::use_awaitable);
}

// Polls (bounded) until the condition holds; returns whether it did.
template <typename Condition>
asio::awaitable<bool> eventually(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) {
            co_return true;
        }
        co_await sleepFor(10ms);
    }
    co_return condition();
}

Bytes numbered(std::uint32_t number) {
    Bytes bytes(8, 0x5c);
    std::memcpy(bytes.data(), &number, sizeof number);
    return bytes;
}

std::uint32_t numberOf(const Bytes& bytes) {
    std::uint32_t number = UINT32_MAX;
    if (bytes.size() == 8) {
        std::memcpy(&number, bytes.data(), sizeof number);
    }
    return number;
}

class QuicTransportEdgeTests : public QuicTransportFixture {
protected:
    std::unique_ptr<QuicListener> listener = listen(listenerParameters("127.0.0.1"));
};

TEST_F(QuicTransportEdgeTests, AConnectionReadyBeforeAnyoneAcceptsWaitsForTheNextAccept) {
    // The headset's connect completes only once the host confirmed the handshake: by then the host holds a
    // ready connection that nobody has asked for yet.
    auto client = run(headset.connect(listener->localPort(), overIPv4()));
    auto server = run(listener->accept(), 5s);
    ASSERT_TRUE(server);
    EXPECT_EQ(server->peerCertificateDER(), headset.identity().certificateDER);
    EXPECT_EQ(server->state().kind, QuicConnectionState::Kind::ready);
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        co_await client->sendDatagram(toBytes("early"sv));
        EXPECT_EQ(co_await server->receiveDatagram(), toBytes("early"sv));
    }(server, client));
}

TEST_F(QuicTransportEdgeTests, ACancelledAcceptTakesNoConnectionAway) {
    run([](QuicListener& listener) -> asio::awaitable<void> {
        auto result = co_await (listener.accept() || sleepFor(50ms));
        EXPECT_EQ(result.index(), 1u);
    }(*listener));
    // The connection that comes next goes to the next accept, not to the cancelled one.
    auto [server, client] = run(connectPair(*listener, headset), 5s);
    EXPECT_EQ(server->peerCertificateDER(), headset.identity().certificateDER);
}

Bytes connectionID(std::uint8_t seed) {
    Bytes id;
    for (int i = 0; i < 8; ++i) {
        id.push_back(static_cast<std::uint8_t>(seed + i));
    }
    return id;
}

// A long-header packet of an unknown version with 8-byte connection IDs, padded to `length` bytes.
Bytes unknownVersionPacket(std::uint8_t destinationSeed, std::uint8_t sourceSeed, std::size_t length) {
    Bytes packet{0xc0, 0x1a, 0x2a, 0x3a, 0x4a, 8};
    appendBytes(packet, connectionID(destinationSeed));
    packet.push_back(8);
    appendBytes(packet, connectionID(sourceSeed));
    packet.resize(length, 0);
    return packet;
}

TEST_F(QuicTransportEdgeTests, AnUnknownVersionIsAnsweredWithVersionNegotiationOnlyForAFullSizePacket) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in host{};
    host.sin_family = AF_INET;
    host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    host.sin_port = htons(listener->localPort());
    // A short packet could be a reflection attack's trigger: it gets no answer. The full-size one sent after
    // it does, so an answer to the short one would arrive first.
    for (const auto& packet :
         {unknownVersionPacket(0x10, 0x20, 200), unknownVersionPacket(0x30, 0x40, 1200)}) {
        ASSERT_EQ(
            ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&host), sizeof host),
            static_cast<ssize_t>(packet.size()));
    }
    pollfd descriptor{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&descriptor, 1, 5000), 1);
    std::uint8_t answer[1500];
    const ssize_t length = ::recv(fd, answer, sizeof answer, 0);
    ::close(fd);
    ASSERT_GE(length, 1 + 4 + 1 + 8 + 1 + 8 + 4);
    EXPECT_EQ(answer[0] & 0x80, 0x80);
    EXPECT_EQ(Bytes(answer + 1, answer + 5), (Bytes{0, 0, 0, 0}));
    // The IDs come back swapped: the answer goes to the sender's source ID.
    EXPECT_EQ(answer[5], 8);
    EXPECT_EQ(Bytes(answer + 6, answer + 14), connectionID(0x40));
    EXPECT_EQ(answer[14], 8);
    EXPECT_EQ(Bytes(answer + 15, answer + 23), connectionID(0x30));
    std::vector<Bytes> versions;
    for (ssize_t offset = 23; offset + 4 <= length; offset += 4) {
        versions.emplace_back(answer + offset, answer + offset + 4);
    }
    EXPECT_NE(std::find(versions.begin(), versions.end(), Bytes{0, 0, 0, 1}), versions.end());
}

enum class Direction { hostToHeadset, headsetToHost };

const char* nameOf(Direction direction) {
    return direction == Direction::hostToHeadset ? "host to headset" : "headset to host";
}

TEST_F(QuicTransportEdgeTests, DatagramsNobodyTakesOverflowTheReceiveQueueOldestFirstBothWays) {
    constexpr std::uint32_t sent = 300;
    constexpr std::uint32_t queued = 256;
    for (auto direction : {Direction::hostToHeadset, Direction::headsetToHost}) {
        SCOPED_TRACE(nameOf(direction));
        auto [server, client] = run(connectPair(*listener, headset));
        auto sender = direction == Direction::hostToHeadset ? server : client;
        auto receiver = direction == Direction::hostToHeadset ? client : server;
        run([](std::shared_ptr<QuicConnection> sender,
               std::shared_ptr<QuicConnection> receiver) -> asio::awaitable<void> {
            // In small steps, each once the last has arrived: none is lost on the way out.
            for (std::uint32_t number = 0; number < sent; ++number) {
                co_await sender->sendDatagram(numbered(number));
                if (number % 16 == 15 || number + 1 == sent) {
                    const bool arrived = co_await eventually(
                        [&] { return receiver->statistics().datagramsReceived == number + 1; });
                    if (!arrived) {
                        ADD_FAILURE() << receiver->statistics().datagramsReceived << " of " << number + 1
                                      << " datagrams arrived";
                        co_return;
                    }
                }
            }
            EXPECT_EQ(sender->statistics().datagramsDroppedUnsent, 0u);
            EXPECT_EQ(receiver->statistics().datagramsDroppedOnReceive, sent - queued);
            for (std::uint32_t number = sent - queued; number < sent; ++number) {
                EXPECT_EQ(numberOf(co_await receiver->receiveDatagram()), number);
            }
        }(sender, receiver));
    }
}

TEST_F(QuicTransportEdgeTests, DatagramsThatCannotLeaveOverflowTheSendQueueAndExpireBothWays) {
    constexpr std::uint32_t offered = 100;
    constexpr std::uint32_t queueLimit = 64;
    for (auto direction : {Direction::hostToHeadset, Direction::headsetToHost}) {
        SCOPED_TRACE(nameOf(direction));
        auto [server, client] = run(connectPair(*listener, headset));
        auto sender = direction == Direction::hostToHeadset ? server : client;
        auto receiver = direction == Direction::hostToHeadset ? client : server;
        UdpSendFaults::Scope faults;
        // Every socket would block: what the sender had put into packets waits in its endpoint, the rest in
        // its datagram queue.
        UdpSendFaults::blockSends(UdpSendFaults::anySocket, -1);
        const auto [packetised, droppedWhileBlocked] =
            run([](std::shared_ptr<QuicConnection> sender)
                    -> asio::awaitable<std::pair<std::uint64_t, std::uint64_t>> {
                for (std::uint32_t number = 0; number < offered; ++number) {
                    co_await sender->sendDatagram(numbered(number));
                }
                const auto statistics = sender->statistics();
                co_return std::pair{statistics.datagramsSent, statistics.datagramsDroppedUnsent};
            }(sender));
        // The queue keeps the newest: the oldest that did not fit were dropped at once.
        EXPECT_EQ(droppedWhileBlocked, offered - queueLimit - packetised);
        // Long enough for every queued datagram to miss its deadline.
        std::this_thread::sleep_for(100ms);
        UdpSendFaults::unblockSends();

        run([](std::shared_ptr<QuicConnection> sender, std::shared_ptr<QuicConnection> receiver,
               std::uint64_t packetised) -> asio::awaitable<void> {
            constexpr std::uint32_t marker = 1000;
            co_await sender->sendDatagram(numbered(marker));
            std::vector<std::uint32_t> received;
            for (;;) {
                const auto number = numberOf(co_await receiver->receiveDatagram());
                if (number == marker) {
                    break;
                }
                received.push_back(number);
            }
            // Only what had been put into packets before the socket blocked arrives; the rest expired.
            EXPECT_EQ(received.size(), packetised);
            EXPECT_TRUE(std::is_sorted(received.begin(), received.end()));
            EXPECT_EQ(sender->statistics().datagramsDroppedUnsent, offered - packetised);
        }(sender, receiver, packetised));
    }
}

TEST_F(QuicTransportEdgeTests, AHandshakeNobodyAnswersTimesOut) {
    // A bound socket that never answers.
    const int silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);

    auto options = overIPv4();
    options.idleTimeout = 300ms;
    try {
        run(headset.connect(ntohs(address.sin_port), options), 5s);
        ADD_FAILURE() << "a handshake without an answer completed";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), QuicError::handshakeTimeout) << error.what();
    }
    ::close(silent);
}

TEST_F(QuicTransportEdgeTests, ACancelledReceiveGivesBackThePartOfAChunkItTook) {
    auto [server, client] = run(connectPair(*listener, headset));
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        auto stream = co_await client->openStream(QuicStreamDirectionality::unidirectional);
        co_await stream->send(toBytes("0123456789"sv), false);
        auto accepted = co_await server->acceptStream();
        // The first receive takes the head of the chunk ...
        auto head = co_await accepted->receive(1, 3);
        EXPECT_EQ(head.data, toBytes("012"sv));
        // ... the next takes the rest of it, waits for more and is cancelled.
        auto result = co_await (accepted->receiveExactly(20) || sleepFor(100ms));
        EXPECT_EQ(result.index(), 1u);
        co_await stream->send(toBytes("abc"sv), true);
        Bytes rest;
        for (;;) {
            auto chunk = co_await accepted->receive(1, 1 << 16);
            appendBytes(rest, chunk.data);
            if (chunk.isComplete) {
                break;
            }
        }
        EXPECT_EQ(rest, toBytes("3456789abc"sv));
    }(server, client));
}

}  // namespace
}  // namespace quillbridge
