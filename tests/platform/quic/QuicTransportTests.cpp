#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/quic/QuicTestFixture.hpp"
#include "support/quic/LossyUdpRelay.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;
using namespace std::string_view_literals;

using ConnectionPair = std::pair<std::shared_ptr<QuicConnection>, std::shared_ptr<QuicConnection>>;

asio::awaitable<ConnectionPair> connectPair(QuicListener& listener, QuicTestClient& client,
                                            QuicTestClient::Options options = {}) {
    auto [server, headset] = co_await (listener.accept() && client.connect(listener.localPort(), options));
    co_return ConnectionPair{server, headset};
}

asio::awaitable<Bytes> readToEnd(std::shared_ptr<QuicStream> stream) {
    Bytes all;
    for (;;) {
        auto chunk = co_await stream->receive(1, 1 << 20);
        appendBytes(all, chunk.data);
        if (chunk.isComplete) {
            co_return all;
        }
    }
}

asio::awaitable<void> sleepFor(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::use_awaitable);
}

// Waits (bounded) until the connection reports an end.
asio::awaitable<QuicConnectionState> waitForEnd(std::shared_ptr<QuicConnection> connection) {
    for (int i = 0; i < 400; ++i) {
        auto state = connection->state();
        if (state.kind != QuicConnectionState::Kind::ready) {
            co_return state;
        }
        co_await sleepFor(10ms);
    }
    co_return connection->state();
}

TEST_F(QuicTransportFixture, HandshakeOverIPv6AndIPv4ExchangesCertificatesAndIsReady) {
    struct Case {
        const char* bind;
        const char* connectTo;
    };
    for (const Case& c : {Case{"::1", "::1"}, Case{"::", "127.0.0.1"}, Case{"127.0.0.1", "127.0.0.1"}}) {
        SCOPED_TRACE(std::string(c.bind) + " <- " + c.connectTo);
        if (std::string_view(c.bind).starts_with(':') && !hasIPv6Loopback()) {
            std::cout << "Skipped binding " << c.bind << ": this host has no IPv6 loopback\n";
            continue;
        }
        validatorCalls = 0;
        auto listener = listen(listenerParameters(c.bind));
        QuicTestClient::Options options;
        options.host = c.connectTo;
        options.expectedServerCertificateDER = hostIdentity.certificateDER;
        auto [server, client] = run(connectPair(*listener, headset, options));
        ASSERT_TRUE(server && client);
        EXPECT_EQ(server->state().kind, QuicConnectionState::Kind::ready);
        EXPECT_EQ(client->state().kind, QuicConnectionState::Kind::ready);
        EXPECT_EQ(server->peerCertificateDER(), headset.identity().certificateDER);
        EXPECT_EQ(client->peerCertificateDER(), hostIdentity.certificateDER);
        std::lock_guard lock(validatorMutex);
        EXPECT_EQ(validatorCalls, 1);
        EXPECT_EQ(validatedCertificate, headset.identity().certificateDER);
    }
}

TEST_F(QuicTransportFixture, RefusesHandshakesWithoutTheRightALPNOrAnAcceptedClientCertificate) {
    auto listener = listen(listenerParameters());
    struct Case {
        const char* name;
        std::string alpn;
        bool presentsCertificate;
        bool validatorAccepts;
    };
    const Case cases[] = {
        {"wrong ALPN", "h3", true, true},
        {"no ALPN", "", true, true},
        {"no client certificate", "quillbridge-spatial-stream", false, true},
        {"validator rejects", "quillbridge-spatial-stream", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        validatorAccepts = c.validatorAccepts;
        QuicTestClient::Options options;
        options.alpn = c.alpn;
        options.presentsCertificate = c.presentsCertificate;
        try {
            run(headset.connect(listener->localPort(), options));
            ADD_FAILURE() << "the handshake was accepted";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), QuicError::handshakeFailed) << error.what();
        }
    }
    // The listener still serves a proper headset, and refused handshakes never reached accept().
    validatorAccepts = true;
    auto [server, client] = run(connectPair(*listener, headset));
    EXPECT_EQ(server->peerCertificateDER(), headset.identity().certificateDER);
}

TEST_F(QuicTransportFixture, CarriesDataBothWaysOnEveryStreamKindWithTheEndReportedWithTheLastBytes) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));

    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        // Headset-opened bidirectional (the control stream): both ways, the end comes with the last bytes.
        auto control = co_await client->openStream(QuicStreamDirectionality::bidirectional);
        co_await control->send(toBytes("hello"sv), false);
        auto accepted = co_await server->acceptStream();
        EXPECT_EQ(accepted->directionality(), QuicStreamDirectionality::bidirectional);
        EXPECT_FALSE(accepted->isLocallyInitiated());
        auto first = co_await accepted->receiveExactly(5);
        EXPECT_EQ(first, (QuicStreamChunk{toBytes("hello"sv), false}));
        co_await control->send(toBytes("last"sv), true);
        auto last = co_await accepted->receive(1, 100);
        EXPECT_EQ(last, (QuicStreamChunk{toBytes("last"sv), true}));
        auto after = co_await accepted->receive(1, 100);
        EXPECT_EQ(after, (QuicStreamChunk{{}, true}));
        co_await accepted->send(toBytes("reply"sv), true);
        {
            auto value1 = co_await readToEnd(control);
            EXPECT_EQ(value1, toBytes("reply"sv));
        }

        // Headset-opened unidirectional.
        auto upward = co_await client->openStream(QuicStreamDirectionality::unidirectional);
        co_await upward->send(toBytes("camera"sv), true);
        auto upwardAccepted = co_await server->acceptStream();
        EXPECT_EQ(upwardAccepted->directionality(), QuicStreamDirectionality::unidirectional);
        {
            auto value2 = co_await readToEnd(upwardAccepted);
            EXPECT_EQ(value2, toBytes("camera"sv));
        }

        // Host-opened unidirectional (the media stream).
        auto media = co_await server->openStream(QuicStreamDirectionality::unidirectional);
        EXPECT_TRUE(media->isLocallyInitiated());
        co_await media->send(Bytes(1, 1), false);
        co_await media->send(toBytes("frame"sv), false);
        co_await media->send({}, true);
        auto mediaAccepted = co_await client->acceptStream();
        {
            auto value3 = co_await readToEnd(mediaAccepted);
            EXPECT_EQ(value3, (Bytes{1, 'f', 'r', 'a', 'm', 'e'}));
        }

        // Host-opened bidirectional (a clipboard copy): body out, one result byte back.
        auto copy = co_await server->openStream(QuicStreamDirectionality::bidirectional);
        copy->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
        co_await copy->send(toBytes("body"sv), true);
        auto copyAccepted = co_await client->acceptStream();
        {
            auto value4 = co_await readToEnd(copyAccepted);
            EXPECT_EQ(value4, toBytes("body"sv));
        }
        co_await copyAccepted->send(Bytes(1, 1), true);
        {
            auto value5 = co_await copy->receiveExactly(1);
            EXPECT_EQ(value5, (QuicStreamChunk{Bytes{1}, true}));
        }
    }(server, client));
}

TEST_F(QuicTransportFixture, InboundStreamsArriveInTheOrderThePeerOpenedThem) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        auto first = co_await client->openStream(QuicStreamDirectionality::bidirectional);
        auto second = co_await client->openStream(QuicStreamDirectionality::bidirectional);
        // The second stream's bytes go out first; the first stream is still accepted first.
        co_await second->send(Bytes(1, 2), false);
        co_await sleepFor(20ms);
        co_await first->send(Bytes(1, 1), false);
        auto a = co_await server->acceptStream();
        auto b = co_await server->acceptStream();
        EXPECT_EQ(a->id(), first->id());
        EXPECT_EQ(b->id(), second->id());
        {
            auto value6 = (co_await a->receiveExactly(1)).data;
            EXPECT_EQ(value6, Bytes{1});
        }
        {
            auto value7 = (co_await b->receiveExactly(1)).data;
            EXPECT_EQ(value7, Bytes{2});
        }
    }(server, client));
}

TEST_F(QuicTransportFixture, StreamsTheHostHasNotAcceptedCountAgainstThePeersStreamLimit) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        // The headset opens and finishes many small streams while the host takes none of them.
        std::size_t opened = 0;
        auto openMany = [](std::shared_ptr<QuicConnection> client,
                           std::size_t& opened) -> asio::awaitable<void> {
            for (int i = 0; i < 300; ++i) {
                auto stream = co_await client->openStream(QuicStreamDirectionality::unidirectional);
                ++opened;
                co_await stream->send(Bytes(1, 1), true);
            }
        };
        co_await (openMany(client, opened) || sleepFor(1000ms));
        EXPECT_LE(opened, 100u);
        // Once the host takes them, the headset may open more.
        auto openOneMore = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
            auto stream = co_await client->openStream(QuicStreamDirectionality::unidirectional);
            co_await stream->send(Bytes(1, 2), true);
        };
        auto takeAll = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
            for (;;) {
                auto stream = co_await server->acceptStream();
                try {
                    if (co_await readToEnd(stream) == Bytes(1, 2)) {
                        co_return;
                    }
                } catch (const std::system_error&) {
                    // The stream whose opening the time-out above interrupted.
                }
            }
        };
        co_await (openOneMore(client) && takeAll(server));
    }(server, client));
}

TEST_F(QuicTransportFixture, ResetAndStopSendingReachThePeerWithTheirCode) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        // The headset resets its sending side: the host's read fails with the code.
        auto paste = co_await client->openStream(QuicStreamDirectionality::bidirectional);
        co_await paste->send(toBytes("partial"sv), false);
        auto pasteAccepted = co_await server->acceptStream();
        {
            auto value8 = (co_await pasteAccepted->receiveExactly(7)).data;
            EXPECT_EQ(value8, toBytes("partial"sv));
        }
        paste->reset(clipboardStreamApplicationErrorCode);
        try {
            co_await pasteAccepted->receive(1, 10);
            ADD_FAILURE() << "receive after reset succeeded";
        } catch (const QuicStreamAbortedError& error) {
            EXPECT_EQ(error.code(), std::errc::connection_reset);
            EXPECT_EQ(error.applicationErrorCode(), clipboardStreamApplicationErrorCode);
        }

        // The host stops reading a stream: the headset's sends fail (EPIPE) instead of piling up.
        auto ignored = co_await client->openStream(QuicStreamDirectionality::unidirectional);
        co_await ignored->send(toBytes("x"sv), false);
        auto ignoredAccepted = co_await server->acceptStream();
        ignoredAccepted->stopSending(clipboardStreamApplicationErrorCode);
        bool failed = false;
        for (int i = 0; i < 200 && !failed; ++i) {
            try {
                co_await ignored->send(Bytes(1000, 7), false);
                co_await sleepFor(5ms);
            } catch (const std::system_error& error) {
                EXPECT_EQ(error.code(), std::errc::broken_pipe);
                failed = true;
            }
        }
        EXPECT_TRUE(failed);
        // Releasing a stream nobody reads stops it the same way.
        auto dropped = co_await client->openStream(QuicStreamDirectionality::unidirectional);
        co_await dropped->send(toBytes("y"sv), false);
        (void)co_await server->acceptStream();  // released at once
        failed = false;
        for (int i = 0; i < 200 && !failed; ++i) {
            try {
                co_await dropped->send(Bytes(1000, 7), false);
                co_await sleepFor(5ms);
            } catch (const std::system_error& error) {
                failed = error.code() == std::errc::broken_pipe;
            }
        }
        EXPECT_TRUE(failed);
        // The connection itself is unharmed.
        auto still = co_await server->openStream(QuicStreamDirectionality::unidirectional);
        co_await still->send(toBytes("ok"sv), true);
        {
            auto value9 = co_await readToEnd(co_await client->acceptStream());
            EXPECT_EQ(value9, toBytes("ok"sv));
        }
    }(server, client));
}

TEST_F(QuicTransportFixture, StreamsTheHostStopsReadingGiveTheirConnectionCreditBack) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        // Stream after stream of a mebibyte that the host gives up on after its first byte: together far
        // more than the connection's window.
        for (int i = 0; i < 8; ++i) {
            auto ignored = co_await client->openStream(QuicStreamDirectionality::unidirectional);
            auto sending = [](std::shared_ptr<QuicStream> stream) -> asio::awaitable<void> {
                try {
                    co_await stream->send(Bytes(1u << 20, 9), true);
                } catch (const std::system_error&) {
                }
            };
            auto dropping = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
                auto stream = co_await server->acceptStream();
                (void)co_await stream->receiveExactly(1);
            };
            co_await (sending(ignored) && dropping(server));
        }
        // The connection still carries a stream read to its end.
        auto stream = co_await client->openStream(QuicStreamDirectionality::unidirectional);
        auto sendAll = [](std::shared_ptr<QuicStream> stream) -> asio::awaitable<void> {
            co_await stream->send(patternBytes(0, 6u << 20), true);
        };
        auto receiveAll = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<Bytes> {
            co_return co_await readToEnd(co_await server->acceptStream());
        };
        auto received = co_await (sendAll(stream) && receiveAll(server));
        EXPECT_EQ(received, patternBytes(0, 6u << 20));
    }(server, client));
}

TEST_F(QuicTransportFixture, AStreamBlockedByFlowControlDoesNotHoldUpTheOthers) {
    constexpr std::size_t mediaLength = 3u << 20;  // more than the headset's window for one stream
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    auto sendMedia = [](std::shared_ptr<QuicStream> media) -> asio::awaitable<void> {
        co_await media->send(Bytes(mediaLength, 7), false);
    };
    auto others = [](std::shared_ptr<QuicConnection> server,
                     std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        // The headset accepts the media stream but does not read it yet: the host's sends block on it.
        auto mediaAccepted = co_await client->acceptStream();
        co_await sleepFor(50ms);
        // Streams opened later still get through.
        auto control = co_await server->openStream(QuicStreamDirectionality::bidirectional);
        co_await control->send(toBytes("control"sv), true);
        {
            auto value = co_await readToEnd(co_await client->acceptStream());
            EXPECT_EQ(value, toBytes("control"sv));
        }
        auto copy = co_await server->openStream(QuicStreamDirectionality::unidirectional);
        co_await copy->send(toBytes("copy"sv), true);
        {
            auto value = co_await readToEnd(co_await client->acceptStream());
            EXPECT_EQ(value, toBytes("copy"sv));
        }
        // Once the headset reads, the blocked stream's bytes follow.
        auto media = co_await mediaAccepted->receiveExactly(mediaLength);
        EXPECT_EQ(media.data, Bytes(mediaLength, 7));
    };
    run([](std::shared_ptr<QuicConnection> server, std::shared_ptr<QuicConnection> client, auto sendMedia,
           auto others) -> asio::awaitable<void> {
        auto media = co_await server->openStream(QuicStreamDirectionality::unidirectional);
        co_await (sendMedia(media) && others(server, client));
    }(server, client, sendMedia, others));
}

TEST_F(QuicTransportFixture, DatagramsFlowBothWaysAndAnOversizedOneIsDroppedAndCounted) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    EXPECT_GE(server->maximumDatagramSize(), 1100u);
    // The size grows while path MTU discovery runs; on loopback it ends at the peer's limit, DATAGRAM
    // frames of at most 1200 bytes. Sizes are judged once it stopped changing.
    EXPECT_TRUE(run(waitUntil([&] { return server->maximumDatagramSize() == 1197u; })))
        << server->maximumDatagramSize();
    const auto maximum = server->maximumDatagramSize();
    run([](std::shared_ptr<QuicConnection> server, std::shared_ptr<QuicConnection> client,
           std::size_t maximum) -> asio::awaitable<void> {
        co_await client->sendDatagram(toBytes("up"sv));
        {
            auto value10 = co_await server->receiveDatagram();
            EXPECT_EQ(value10, toBytes("up"sv));
        }
        co_await server->sendDatagram(Bytes(maximum, 0xAA));
        {
            auto value11 = co_await client->receiveDatagram();
            EXPECT_EQ(value11, Bytes(maximum, 0xAA));
        }
        co_await server->sendDatagram(Bytes(maximum + 1, 0xBB));  // dropped, not an error
        co_await server->sendDatagram(Bytes(1300, 0xCC));
        co_await server->sendDatagram(toBytes("after"sv));
        {
            auto value12 = co_await client->receiveDatagram();
            EXPECT_EQ(value12, toBytes("after"sv));
        }
    }(server, client, maximum));
    const auto statistics = server->statistics();
    EXPECT_EQ(statistics.datagramsDroppedOversized, 2u);
    EXPECT_EQ(statistics.datagramsSent, 2u);
    EXPECT_EQ(server->state().kind, QuicConnectionState::Kind::ready);
}

TEST_F(QuicTransportFixture, AnIdleConnectionTimesOutOnBothSides) {
    auto parameters = listenerParameters();
    parameters.idleTimeout = 300ms;
    auto listener = listen(parameters);
    QuicTestClient::Options options;
    options.idleTimeout = 300ms;
    auto [server, client] = run(connectPair(*listener, headset, options));

    std::mutex mutex;
    std::vector<QuicConnectionState> seen;
    asio::io_context observer;
    server->setStateHandler(observer.get_executor(), [&](const QuicConnectionState& state) {
        std::lock_guard lock(mutex);
        seen.push_back(state);
    });
    const auto serverEnd = run(waitForEnd(server), 5s);
    const auto clientEnd = run(waitForEnd(client), 5s);
    EXPECT_EQ(serverEnd.kind, QuicConnectionState::Kind::failed);
    EXPECT_EQ(serverEnd.error, QuicError::idleTimeout);
    EXPECT_EQ(clientEnd.error, QuicError::idleTimeout);
    EXPECT_EQ(serverEnd.error, std::errc::timed_out);
    observer.run_for(100ms);
    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, QuicConnectionState::Kind::ready);
    EXPECT_EQ(seen[1], serverEnd);
    // What waited on the connection ends with the cause.
    EXPECT_THROW(run(server->acceptStream()), std::system_error);
}

TEST_F(QuicTransportFixture, ACloseCarriesItsApplicationCodeToThePeer) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        // An accept that waits when the connection is closed here just ends the sequence.
        auto closeSoon = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
            co_await sleepFor(20ms);
            server->close(0x1234);
        };
        {
            auto value13 = co_await (server->acceptStream() && closeSoon(server));
            EXPECT_EQ(value13, nullptr);
        }
        auto end = co_await waitForEnd(client);
        EXPECT_EQ(end.kind, QuicConnectionState::Kind::failed);
        EXPECT_EQ(end.error, QuicError::closedByPeer);
        EXPECT_EQ(end.error, std::errc::connection_reset);
    }(server, client));
    EXPECT_EQ(server->state().kind, QuicConnectionState::Kind::cancelled);
    EXPECT_EQ(client->closeInfo().applicationErrorCode, 0x1234u);
    EXPECT_TRUE(client->closeInfo().closedByPeer);
    EXPECT_THROW(run(client->openStream(QuicStreamDirectionality::bidirectional)), std::system_error);
}

TEST_F(QuicTransportFixture, ReleasingAConnectionClosesItAtOnce) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    server.reset();  // what the session does with a second connection while one is served
    const auto end = run(waitForEnd(client), 5s);
    EXPECT_EQ(end.error, QuicError::closedByPeer);
    EXPECT_EQ(client->closeInfo().applicationErrorCode, 0u);
}

TEST_F(QuicTransportFixture, AStoppedListenerRefusesNewConnectionsWhileTheLiveOneKeepsThePort) {
    auto listener = listen(listenerParameters());
    const auto port = listener->localPort();
    auto [server, client] = run(connectPair(*listener, headset));
    listener.reset();

    QuicTestClient second;
    try {
        run(second.connect(port), 5s);
        ADD_FAILURE() << "a stopped listener took a connection";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), QuicError::handshakeFailed);
    }
    // The live connection still works.
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        auto stream = co_await server->openStream(QuicStreamDirectionality::unidirectional);
        co_await stream->send(toBytes("still here"sv), true);
        {
            auto value14 = co_await readToEnd(co_await client->acceptStream());
            EXPECT_EQ(value14, toBytes("still here"sv));
        }
    }(server, client));

    // Listening again on the same port shares the socket; a second listener at once is refused.
    auto parameters = listenerParameters();
    parameters.port = port;
    auto again = listen(parameters);
    EXPECT_EQ(again->localPort(), port);
    try {
        listen(parameters);
        ADD_FAILURE() << "two listeners on one port";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), QuicError::addressInUse);
    }
    auto [server2, client2] = run(connectPair(*again, second));
    EXPECT_EQ(server2->state().kind, QuicConnectionState::Kind::ready);
    EXPECT_EQ(server->state().kind, QuicConnectionState::Kind::ready);
}

TEST_F(QuicTransportFixture, HandshakesThatNeverFinishDoNotKeepANewClientOut) {
    auto listener = listen(listenerParameters());
    // Clients whose Initials reach the host but whose answers are lost: their handshakes stay open.
    LossyUdpRelay blackHole(listener->localPort(), LossyUdpRelay::Options{0.0, 0ms, 1, false});
    QuicTestClient stalled;
    constexpr int stalledCount = 24;
    asio::io_context context;
    std::vector<std::unique_ptr<asio::cancellation_signal>> signals;
    int ended = 0;
    for (int i = 0; i < stalledCount; ++i) {
        signals.push_back(std::make_unique<asio::cancellation_signal>());
        asio::co_spawn(context, stalled.connect(blackHole.port()),
                       asio::bind_cancellation_slot(
                           signals.back()->slot(),
                           [&](std::exception_ptr, std::shared_ptr<QuicConnection>) { ++ended; }));
    }
    for (int i = 0; i < 200 && blackHole.clientsForwarded() < stalledCount; ++i) {
        context.run_for(50ms);
    }
    ASSERT_EQ(blackHole.clientsForwarded(), static_cast<std::size_t>(stalledCount));
    ASSERT_EQ(ended, 0);

    // They do not keep a new client out: the oldest of them makes room for it.
    auto [first, firstClient] = run(connectPair(*listener, headset), 5s);
    EXPECT_EQ(first->peerCertificateDER(), headset.identity().certificateDER);

    // Once the stalled clients give up (and say so), there is room as well.
    for (auto& signal : signals) {
        signal->emit(asio::cancellation_type::all);
    }
    for (int i = 0; i < 100 && ended < stalledCount; ++i) {
        context.run_for(50ms);
    }
    ASSERT_EQ(ended, stalledCount);
    std::shared_ptr<QuicConnection> server;
    for (int attempt = 0; attempt < 50 && !server; ++attempt) {
        try {
            server = run(connectPair(*listener, headset), 5s).first;
        } catch (const std::system_error&) {
            std::this_thread::sleep_for(100ms);
        }
    }
    ASSERT_TRUE(server);
    EXPECT_EQ(server->peerCertificateDER(), headset.identity().certificateDER);
}

TEST_F(QuicTransportFixture, CancellingAWaitLosesNoData) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        auto stream = co_await client->openStream(QuicStreamDirectionality::bidirectional);
        co_await stream->send(toBytes("ab"sv), false);
        auto accepted = co_await server->acceptStream();
        // Wants 5 bytes, gets 2 and is cancelled: the 2 bytes stay for the next receive.
        auto result = co_await (accepted->receiveExactly(5) || sleepFor(100ms));
        EXPECT_EQ(result.index(), 1u);
        co_await stream->send(toBytes("cde"sv), true);
        {
            auto value15 = co_await readToEnd(accepted);
            EXPECT_EQ(value15, toBytes("abcde"sv));
        }
        // A cancelled accept and datagram receive leave the connection usable.
        auto waited = co_await (server->acceptStream() || sleepFor(50ms));
        EXPECT_EQ(waited.index(), 1u);
        auto datagram = co_await (server->receiveDatagram() || sleepFor(50ms));
        EXPECT_EQ(datagram.index(), 1u);
        co_await client->sendDatagram(toBytes("d"sv));
        {
            auto value16 = co_await server->receiveDatagram();
            EXPECT_EQ(value16, toBytes("d"sv));
        }
    }(server, client));
}

TEST_F(QuicTransportFixture, CancelledReceivesGiveNoFlowControlCreditTwice) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        constexpr std::size_t first = 100u << 10;
        auto stream = co_await client->openStream(QuicStreamDirectionality::unidirectional);
        co_await stream->send(patternBytes(0, first), false);
        auto accepted = co_await server->acceptStream();
        // Each receive takes what is there, waits for more and is cancelled; the bytes stay unread.
        for (int i = 0; i < 30; ++i) {
            auto result = co_await (accepted->receiveExactly(2 * first) || sleepFor(10ms));
            EXPECT_EQ(result.index(), 1u);
        }
        // The headset may now send about one window beyond what the host has taken, not more.
        std::size_t written = 0;
        auto sendMore = [](std::shared_ptr<QuicStream> stream,
                           std::size_t& written) -> asio::awaitable<void> {
            constexpr std::size_t piece = 64u << 10;
            for (std::size_t offset = first; offset < (16u << 20); offset += piece) {
                co_await stream->send(patternBytes(offset, piece), false);
                written += piece;
            }
        };
        co_await (sendMore(stream, written) || sleepFor(1000ms));
        EXPECT_LT(written, 3u << 20);
        // Nothing was lost on the way.
        auto all = co_await accepted->receiveExactly(first + written);
        EXPECT_EQ(all.data, patternBytes(0, first + written));
    }(server, client));
}

TEST_F(QuicTransportFixture, AHostThatForgotTheConnectionAnswersWithAStatelessReset) {
    // Two host transports with one reset key stand for a host before and after a restart.
    const Bytes secret(32, 0x5A);
    LinuxQuicTransport before(LinuxQuicTransport::Options{secret});
    LinuxQuicTransport after(LinuxQuicTransport::Options{secret});
    auto listener = runWithTimeout(before.listen(listenerParameters()), 5s);
    auto restarted = runWithTimeout(after.listen(listenerParameters()), 5s);
    LossyUdpRelay relay(listener->localPort(), LossyUdpRelay::Options{0.0, 0ms, 1});
    auto pair = run([](QuicListener& listener, QuicTestClient& client,
                       std::uint16_t port) -> asio::awaitable<ConnectionPair> {
        auto [server, headset] = co_await (listener.accept() && client.connect(port));
        co_return ConnectionPair{server, headset};
    }(*listener, headset, relay.port()));
    relay.retarget(restarted->localPort());
    run([](std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        // An acknowledgement still on its way may have drawn the reset already.
        try {
            auto stream = co_await client->openStream(QuicStreamDirectionality::unidirectional);
            co_await stream->send(Bytes(200, 1), false);
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), QuicError::statelessReset);
        }
    }(pair.second));
    const auto end = run(waitForEnd(pair.second), 5s);
    EXPECT_EQ(end.error, QuicError::statelessReset);
}

constexpr std::size_t total = 64u << 20;
constexpr std::size_t piece = 1u << 20;

TEST_F(QuicTransportFixture, SixtyFourMebibytesOnOneStreamArriveIntact) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(connectPair(*listener, headset));
    run(
        [](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
            auto sender = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
                auto stream = co_await client->openStream(QuicStreamDirectionality::unidirectional);
                for (std::size_t offset = 0; offset < total; offset += piece) {
                    co_await stream->send(patternBytes(offset, piece), offset + piece == total);
                }
            };
            auto receiver = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<std::size_t> {
                auto stream = co_await server->acceptStream();
                co_return co_await receivePatternToEnd(*stream, 4u << 20);
            };
            auto received = co_await (sender(client) && receiver(server));
            EXPECT_EQ(received, total);
        }(server, client),
        120s);
}

}  // namespace
}  // namespace quillbridge

namespace quillbridge {
namespace {

TEST(QuicTransportShutdown, DestroyingTheTransportEndsEveryWaitAndClosesItsConnections) {
    auto host = std::make_unique<LinuxQuicTransport>();
    QuicTestClient headset;
    QuicListenerParameters parameters;
    parameters.port = 0;
    parameters.bindAddress = testLoopbackAddress();
    parameters.identity = makeTestTLSIdentity("Host");
    auto listener = runWithTimeout(host->listen(parameters), 5s);
    auto [server, client] = runWithTimeout(connectPair(*listener, headset), 10s);
    auto stream = runWithTimeout(server->openStream(QuicStreamDirectionality::bidirectional), 5s);

    asio::io_context context;
    int ended = 0;
    asio::co_spawn(context, server->acceptStream(),
                   [&](std::exception_ptr, std::shared_ptr<QuicStream>) { ++ended; });
    asio::co_spawn(context, stream->receive(1, 10), [&](std::exception_ptr error, QuicStreamChunk) {
        EXPECT_TRUE(error);
        ++ended;
    });
    context.run_for(50ms);
    EXPECT_EQ(ended, 0);
    host.reset();
    context.restart();
    context.run_for(2s);
    EXPECT_EQ(ended, 2);
    // Handles that outlive the transport fail at once instead of waiting forever.
    try {
        runWithTimeout(stream->send(Bytes(1, 1), false), 2s);
        ADD_FAILURE() << "send after shutdown succeeded";
    } catch (const std::system_error& error) {
        EXPECT_TRUE(error.code() == QuicError::transportShutDown ||
                    error.code() == QuicError::connectionClosed)
            << error.what();
    }
    const auto end = runWithTimeout(waitForEnd(client), 5s);
    EXPECT_EQ(end.error, QuicError::closedByPeer);
}

}  // namespace
}  // namespace quillbridge
