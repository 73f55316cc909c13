#include <chrono>
#include <memory>
#include <string_view>

#include <gtest/gtest.h>
#include <asio/experimental/awaitable_operators.hpp>

#include "support/FakeQuicTransport.hpp"
#include "support/quic/RunWithTimeout.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;
using namespace std::chrono_literals;
using namespace std::string_view_literals;

// The fake behaves like the real transport on the paths the session uses.
TEST(FakeQuicTransport, PairsStreamsDatagramsAndClosesLikeTheRealOne) {
    FakeQuicTransport transport;
    QuicListenerParameters parameters;
    parameters.certificateValidator = [](ByteView leaf) { return !leaf.empty(); };
    auto listener = runWithTimeout(transport.listen(parameters), 1s);
    auto* fake = transport.latestListener();
    ASSERT_NE(fake, nullptr);
    EXPECT_EQ(fake->connect({}), nullptr);  // refused by the validator
    auto headset = fake->connect(Bytes{1, 2, 3});
    ASSERT_NE(headset, nullptr);

    runWithTimeout(
        [](QuicListener& listener, std::shared_ptr<FakeQuicConnection> headset) -> asio::awaitable<void> {
            auto host = co_await listener.accept();
            EXPECT_EQ(host->peerCertificateDER(), (Bytes{1, 2, 3}));
            auto control = co_await headset->openStream(QuicStreamDirectionality::bidirectional);
            co_await control->send(toBytes("hello"sv), true);
            auto accepted = co_await host->acceptStream();
            auto chunk = co_await accepted->receive(1, 100);
            EXPECT_EQ(chunk, (QuicStreamChunk{toBytes("hello"sv), true}));
            co_await host->sendDatagram(Bytes(1198, 0));  // dropped as too large
            co_await host->sendDatagram(Bytes(3, 1));
            auto datagram = co_await headset->receiveDatagram();
            EXPECT_EQ(datagram, Bytes(3, 1));
            EXPECT_EQ(host->statistics().datagramsDroppedOversized, 1u);
            auto copy = co_await host->openStream(QuicStreamDirectionality::bidirectional);
            copy->reset(clipboardStreamApplicationErrorCode);
            auto copyAccepted = co_await headset->acceptStream();
            try {
                co_await copyAccepted->receive(1, 1);
                ADD_FAILURE();
            } catch (const QuicStreamAbortedError& error) {
                EXPECT_EQ(error.applicationErrorCode(), clipboardStreamApplicationErrorCode);
            }
            host->close(7);
            try {
                co_await headset->acceptStream();
                ADD_FAILURE() << "the closed connection still accepted";
            } catch (const std::system_error& error) {
                EXPECT_EQ(error.code(), QuicError::closedByPeer);
            }
            EXPECT_EQ(headset->closeInfo().applicationErrorCode, 7u);
            auto after = co_await host->acceptStream();
            EXPECT_EQ(after, nullptr);
        }(*listener, headset),
        1s);
}

TEST(FakeQuicTransport, StreamWaitsEndWhenTheConnectionEnds) {
    auto [host, headset] = FakeQuicConnection::makePair();
    runWithTimeout(
        [](std::shared_ptr<FakeQuicConnection> host,
           std::shared_ptr<FakeQuicConnection> headset) -> asio::awaitable<void> {
            auto control = co_await headset->openStream(QuicStreamDirectionality::bidirectional);
            co_await control->send(toBytes("hi"sv), false);
            auto accepted = co_await host->acceptStream();
            EXPECT_EQ((co_await accepted->receiveExactly(2)).data, toBytes("hi"sv));
            // Both sides wait for more when the host closes the connection.
            auto closeSoon = [](std::shared_ptr<FakeQuicConnection> host) -> asio::awaitable<void> {
                host->close(0);
                co_return;
            };
            auto expectEnd = [](std::shared_ptr<QuicStream> stream,
                                QuicError expected) -> asio::awaitable<void> {
                try {
                    co_await stream->receive(1, 10);
                    ADD_FAILURE() << "a receive went on after the connection ended";
                } catch (const std::system_error& error) {
                    EXPECT_EQ(error.code(), expected);
                }
            };
            co_await (expectEnd(accepted, QuicError::connectionClosed) &&
                      expectEnd(control, QuicError::closedByPeer) && closeSoon(host));
            try {
                co_await control->send(toBytes("late"sv), false);
                ADD_FAILURE() << "a send went on after the connection ended";
            } catch (const std::system_error& error) {
                EXPECT_EQ(error.code(), QuicError::closedByPeer);
            }
        }(host, headset),
        1s);
}

}  // namespace
}  // namespace quillbridge
