#include <memory>

#include <gtest/gtest.h>

#include "platform/quic/QuicTestFixture.hpp"
#include "support/FakeQuicTransport.hpp"

namespace quillbridge {
namespace {

// The most one DATAGRAM frame of 1,200 bytes carries: type byte, two-byte length, payload.
constexpr std::size_t largestDatagram = 1197;

asio::awaitable<void> exchangeDatagrams(std::shared_ptr<QuicConnection> server,
                                        std::shared_ptr<QuicConnection> client, std::size_t size) {
    co_await server->sendDatagram(Bytes(size, 0x5A));
    {
        auto received = co_await client->receiveDatagram();
        EXPECT_EQ(received, Bytes(size, 0x5A));
    }
    co_await client->sendDatagram(Bytes(size, 0xA5));
    {
        auto received = co_await server->receiveDatagram();
        EXPECT_EQ(received, Bytes(size, 0xA5));
    }
}

// A connection starts out sending 1,200-byte packets; path MTU discovery then finds that loopback takes
// more, and from then on a datagram as large as the peer allows goes through whole, both ways.
TEST_F(QuicTransportFixture, PathMtuDiscoveryLetsTheLargestDatagramThrough) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(acceptAndConnect(*listener, headset));
    const bool grown = run(waitUntil([&] {
        return server->maximumDatagramSize() == largestDatagram &&
               client->maximumDatagramSize() == largestDatagram;
    }));
    ASSERT_TRUE(grown) << "host " << server->maximumDatagramSize() << ", headset "
                       << client->maximumDatagramSize();
    run(exchangeDatagrams(server, client, largestDatagram));
    EXPECT_EQ(server->statistics().datagramsDroppedOversized, 0u);
    EXPECT_EQ(client->statistics().datagramsDroppedOversized, 0u);
}

// On a path that never grows (the headset takes no UDP payload above 1,200 bytes) the host reports the
// fresh path's size, the one the fake reports, and keeps to it.
TEST_F(QuicTransportFixture, OnAPathThatDoesNotGrowTheSizeIsTheOneTheFakeReports) {
    auto listener = listen(listenerParameters());
    QuicTestClient::Options options;
    options.maximumUdpPayloadSize = 1200;
    auto [server, client] = run(acceptAndConnect(*listener, headset, options));
    const auto fresh = FakeQuicConnection::freshPathMaximumDatagramSize;
    EXPECT_EQ(server->maximumDatagramSize(), fresh);
    run(exchangeDatagrams(server, client, fresh));
    run([](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
        co_await server->sendDatagram(Bytes(FakeQuicConnection::freshPathMaximumDatagramSize + 1, 1));
    }(server));
    EXPECT_EQ(server->statistics().datagramsDroppedOversized, 1u);
    EXPECT_EQ(server->maximumDatagramSize(), fresh);
}

}  // namespace
}  // namespace quillbridge
