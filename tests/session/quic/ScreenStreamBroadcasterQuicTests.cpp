// The broadcaster over the real QUIC transport on loopback, with a headset made of the test client. Service
// discovery is faked (nothing multicasts); everything else is real, on the steady clock.

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "core/Logger.hpp"
#include "core/SteadyClock.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/QuicError.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/quic/LoopbackBroadcasterTest.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/session/LoopbackBroadcasterServices.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using State = ScreenStreamBroadcaster::State;
using Case = StreamControlMessage::Case;

class BroadcasterOverQuicTest : public LoopbackBroadcasterTest {
protected:
    struct Headset {
        std::shared_ptr<QuicConnection> connection;
        std::shared_ptr<QuicStream> control;
    };

    void SetUp() override { makeBroadcaster(10s); }

    void makeBroadcaster(Clock::Duration setupTimeout) {
        auto dependencies = loopbackDependencies(context.get_executor());
        dependencies.sessionSetupTimeout = setupTimeout;
        startAdvertisedBroadcaster(std::move(dependencies));
        ASSERT_NE(port, 0);
    }

    // Runs the context until the condition holds; false when it did not within a generous bound.
    Headset connect(QuicTestClient& client) {
        Headset headset;
        headset.connection = run(client.connect(port));
        headset.control = run(headset.connection->openStream(QuicStreamDirectionality::bidirectional));
        return headset;
    }

    void send(Headset& headset, const StreamControlMessage& message) {
        run(headset.control->send(ControlMessageFraming::encode(message), false));
    }

    StreamControlMessage receive(Headset& headset) {
        auto decoded = readControlMessage(*headset.control);
        if (!decoded) {
            throw std::runtime_error("undecodable control message");
        }
        return *decoded;
    }

    bool closes(const Headset& headset) {
        return runUntil([&] { return headset.connection->state().kind != QuicConnectionState::Kind::ready; });
    }

    // Sends hello and waits until the host's control loop has read it (QUIC shows a stream to the host only
    // once data arrives on it).
    void greet(Headset& headset, std::string name) {
        ASSERT_TRUE(sendPairingHello(*headset.control, std::move(name)));
        // The host answers with its own hello and then waits for the pairing to start.
        EXPECT_EQ(receive(headset).messageCase(), Case::hello);
    }

    std::vector<State> updates() {
        std::vector<State> states;
        while (broadcaster->updates().bufferedCount() > 0) {
            if (auto state = run(broadcaster->updates().next())) {
                states.push_back(*state);
            }
        }
        return states;
    }
};

TEST_F(BroadcasterOverQuicTest, ControlConversationFromHelloToAcknowledgedDisconnect) {
    QuicTestClient client;
    auto headset = connect(client);
    greet(headset, "Loopback Headset");
    run(broadcaster->authorizeCurrentSession());

    send(headset, StreamControlMessage::make<Case::clockSynchronizationRequest>({7, 555}));
    const auto response = receive(headset);
    const auto* clock = response.get<Case::clockSynchronizationResponse>();
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(clock->sequenceNumber, 7u);
    EXPECT_EQ(clock->clientSendTimeNanoseconds, 555u);
    EXPECT_LE(clock->hostReceiveTimeNanoseconds, clock->hostSendTimeNanoseconds);

    send(headset, StreamControlMessage::make<Case::receiverReady>());
    ASSERT_TRUE(runUntil([&] {
        for (const auto& state : updates()) {
            if (state == State::connected("Loopback Headset")) {
                return true;
            }
        }
        return false;
    }));

    send(headset, StreamControlMessage::make<Case::sessionDisconnectRequest>());
    EXPECT_EQ(receive(headset).messageCase(), Case::sessionDisconnectAcknowledged);
    EXPECT_TRUE(closes(headset));
    EXPECT_EQ(headset.connection->closeInfo().closedByPeer, true);
}

TEST_F(BroadcasterOverQuicTest, BadJsonFrameClosesTheConnection) {
    QuicTestClient client;
    auto headset = connect(client);
    greet(headset, "H");
    updates();
    const std::string_view junk = "{\"hello\":";
    run(headset.control->send(ControlMessageFraming::frame(
                                  ByteView(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size())),
                              false));
    EXPECT_TRUE(closes(headset));
    ASSERT_TRUE(runUntil([&] {
        for (const auto& state : updates()) {
            if (state == State::failed("Connection lost")) {
                return true;
            }
        }
        return false;
    }));
}

TEST_F(BroadcasterOverQuicTest, SecondHeadsetIsClosedWhileTheFirstGoesOn) {
    QuicTestClient firstClient;
    QuicTestClient secondClient;
    auto first = connect(firstClient);
    greet(first, "First");
    run(broadcaster->authorizeCurrentSession());

    // The host declines the second headset once the host's side of its handshake has completed. The headset
    // sees a connection that closes right after it was established or, when the close overtakes the end of
    // its own handshake, a handshake that failed: either is the refusal.
    ScopedLogCapture logs;
    try {
        Headset second;
        second.connection = run(secondClient.connect(port));
        EXPECT_TRUE(closes(second));
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), make_error_code(QuicError::handshakeFailed)) << error.what();
    }
    EXPECT_TRUE(runUntil([&] {
        const auto lines = logs.messages("ScreenStreamBroadcaster");
        return std::ranges::find(lines, "Declined a second connection while a session runs") != lines.end();
    }));

    send(first, StreamControlMessage::make<Case::clockSynchronizationRequest>({1, 2}));
    EXPECT_EQ(receive(first).messageCase(), Case::clockSynchronizationResponse);
    EXPECT_EQ(first.connection->state().kind, QuicConnectionState::Kind::ready);
}

TEST_F(BroadcasterOverQuicTest, HeadsetThatNeverBecomesReadyIsClosedAfterTheSetupTimeout) {
    stopBroadcaster();
    makeBroadcaster(300ms);
    updates();
    QuicTestClient client;
    auto headset = connect(client);
    greet(headset, "Slow");
    EXPECT_TRUE(closes(headset));
    ASSERT_TRUE(runUntil([&] {
        for (const auto& state : updates()) {
            if (state == State::failed("Connection timed out")) {
                return true;
            }
        }
        return false;
    }));
}

}  // namespace
}  // namespace quillbridge
