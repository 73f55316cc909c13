#include <memory>

#include <gtest/gtest.h>
#include <asio/experimental/awaitable_operators.hpp>

#include "platform/quic/QuicTestFixture.hpp"
#include "support/quic/UdpSendFaults.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;

TEST_F(QuicTransportFixture, PacketsGoOutOneByOneWhereTheKernelCannotSegmentThem) {
    UdpSendFaults::Scope faults;
    UdpSendFaults::refuseSegmentedSends(true);

    auto listener = listen(listenerParameters());
    auto [server, client] = run(
        [](QuicListener& listener, QuicTestClient& headset)
            -> asio::awaitable<std::pair<std::shared_ptr<QuicConnection>, std::shared_ptr<QuicConnection>>> {
            auto [server, client] = co_await (listener.accept() && headset.connect(listener.localPort()));
            co_return std::pair{server, client};
        }(*listener, headset));
    constexpr std::size_t length = 8u << 20;
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        auto send = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
            auto stream = co_await server->openStream(QuicStreamDirectionality::unidirectional);
            co_await stream->send(patternBytes(0, length), true);
        };
        auto receive = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<Bytes> {
            auto stream = co_await client->acceptStream();
            Bytes all;
            for (;;) {
                auto chunk = co_await stream->receive(1, 1u << 20);
                appendBytes(all, chunk.data);
                if (chunk.isComplete) {
                    co_return all;
                }
            }
        };
        auto received = co_await (send(server) && receive(client));
        EXPECT_EQ(received, patternBytes(0, length));
    }(server, client));
    EXPECT_GT(UdpSendFaults::refusedSegmentedSends(), 0);
}

}  // namespace
}  // namespace quillbridge
