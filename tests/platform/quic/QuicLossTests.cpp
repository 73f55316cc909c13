#include <chrono>
#include <cstddef>
#include <memory>

#include <gtest/gtest.h>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/quic/QuicTestFixture.hpp"
#include "support/quic/LossyUdpRelay.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;

constexpr std::size_t transferLength = 16u << 20;
constexpr std::size_t pieceLength = 256u << 10;
constexpr int datagramCount = 200;

// netem is not available in this kernel; a relay that drops 1% of the datagrams each way and delays each by
// 20 ms stands in for the lossy network.
TEST_F(QuicTransportFixture, SixteenMebibytesSurviveOnePercentLossWhileDatagramsKeepFlowing) {
    auto listener = listen(listenerParameters());
    LossyUdpRelay relay(listener->localPort(),
                        LossyUdpRelay::Options{0.01, std::chrono::milliseconds(20), 7});
    auto [server, client] = run(
        [](QuicListener& listener, QuicTestClient& headset, std::uint16_t port)
            -> asio::awaitable<std::pair<std::shared_ptr<QuicConnection>, std::shared_ptr<QuicConnection>>> {
            auto [server, client] = co_await (listener.accept() && headset.connect(port));
            co_return std::pair{server, client};
        }(*listener, headset, relay.port()),
        20s);

    auto transfer = [](std::shared_ptr<QuicConnection> server,
                       std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        auto sendStream = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
            auto stream = co_await server->openStream(QuicStreamDirectionality::unidirectional);
            for (std::size_t offset = 0; offset < transferLength; offset += pieceLength) {
                co_await stream->send(patternBytes(offset, pieceLength),
                                      offset + pieceLength == transferLength);
            }
        };
        auto receiveStream = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<std::size_t> {
            auto stream = co_await client->acceptStream();
            co_return co_await receivePatternToEnd(*stream, 1u << 20);
        };
        // Audio-like datagrams every 10 ms during the transfer.
        auto sendDatagrams = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
            asio::steady_timer timer(co_await asio::this_coro::executor);
            for (int i = 0; i < datagramCount; ++i) {
                Bytes datagram(300, static_cast<std::uint8_t>(i));
                co_await server->sendDatagram(std::move(datagram));
                timer.expires_after(std::chrono::milliseconds(10));
                co_await timer.async_wait(asio::use_awaitable);
            }
        };
        auto receiveDatagrams = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<int> {
            int count = 0;
            asio::steady_timer timer(co_await asio::this_coro::executor);
            for (;;) {
                timer.expires_after(std::chrono::milliseconds(500));
                auto result = co_await (client->receiveDatagram() || timer.async_wait(asio::use_awaitable));
                if (result.index() == 1) {
                    co_return count;
                }
                ++count;
            }
        };
        auto [received, datagrams] = co_await ((sendStream(server) && receiveStream(client)) &&
                                               (sendDatagrams(server) && receiveDatagrams(client)));
        EXPECT_EQ(received, transferLength);
        // Each datagram is lost with about 1%; congestion may drop a few more, but most arrive.
        EXPECT_GE(datagrams, datagramCount * 8 / 10);
    };
    run(transfer(server, client), 120s);
    EXPECT_GT(relay.dropped(), 0u);
}

}  // namespace
}  // namespace quillbridge
