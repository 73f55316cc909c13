#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/ScreenStreamBroadcasterFixture.hpp"
#include "session/StreamSessionSetupError.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

class BroadcasterSessionTest : public ScreenStreamBroadcasterFixture {
protected:
    void SetUp() override {
        ScreenStreamBroadcasterFixture::SetUp();
        startListening();
        updates();
        taken(broadcaster->pairingPrompts());
    }

    // A connected headset whose control stream is adopted.
    Headset connected() {
        auto headset = connect();
        EXPECT_TRUE(Access::hasConnection(*broadcaster));
        return headset;
    }

    Headset receiverReady() {
        auto headset = connected();
        authorize();
        send(headset, StreamControlMessage::make<Case::receiverReady>());
        return headset;
    }
};

TEST_F(BroadcasterSessionTest, AcceptWakesTheDisplayAndHoldsThePowerActivityUntilTheSessionEnds) {
    auto headset = connected();
    EXPECT_EQ(*power.heldCount, 1);
    EXPECT_EQ(power.reasons, std::vector<std::string>{"Active Quillbridge Vision Pro connection"});
    EXPECT_EQ(waker.names, std::vector<std::string>{"Quillbridge Vision Pro connection"});
    run(broadcaster->stop());
    drain();
    EXPECT_EQ(*power.heldCount, 0);
    EXPECT_FALSE(run(broadcaster->wakeDisplayForActiveConnection())) << "no connection, no wake";
    EXPECT_EQ(waker.names.size(), 1u);
}

TEST_F(BroadcasterSessionTest, DisplayWakeOutcomes) {
    struct Case {
        DisplayWaker::Outcome outcome;
        bool woken;
    };
    auto headset = connected();
    for (const auto& testCase : {Case{{DisplayWaker::Outcome::Kind::woken, 0}, true},
                                 Case{{DisplayWaker::Outcome::Kind::noDisplay, 0}, false},
                                 Case{{DisplayWaker::Outcome::Kind::failed, 5}, false}}) {
        waker.outcome = testCase.outcome;
        ScopedLogCapture logs;
        EXPECT_EQ(run(broadcaster->wakeDisplayForActiveConnection()), testCase.woken);
        const bool loggedFailure = !logs.messages("ScreenStreamBroadcaster").empty() &&
                                   logs.messages("ScreenStreamBroadcaster").back() ==
                                       "Failed to wake the display for an active connection: 5";
        EXPECT_EQ(loggedFailure, testCase.outcome.kind == DisplayWaker::Outcome::Kind::failed);
    }
}

TEST_F(BroadcasterSessionTest, SecondConnectionIsClosedAndTheFirstIsUndisturbed) {
    auto first = connected();
    auto second = connect(false);
    ASSERT_NE(second.connection, nullptr);
    EXPECT_TRUE(isClosed(second));
    EXPECT_FALSE(isClosed(first));
    authorize();
    send(first, StreamControlMessage::make<Case::clockSynchronizationRequest>({3, 99}));
    auto reply = receive(first);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->messageCase(), Case::clockSynchronizationResponse);
    EXPECT_EQ(updates(), std::vector<State>{});
}

TEST_F(BroadcasterSessionTest, ConnectionArrivingDuringTeardownIsDeclinedAndTheNextOneServed) {
    auto first = connected();
    camera->resetGate = std::make_shared<AsyncChannel<bool>>(AsyncChannel<bool>::unbounded);
    send(first, StreamControlMessage::make<Case::sessionDisconnectRequest>());
    ASSERT_TRUE(Access::isTearingDown(*broadcaster)) << "the teardown waits on the camera receiver";
    auto during = connect(false);
    ASSERT_NE(during.connection, nullptr);
    EXPECT_TRUE(isClosed(during)) << "declined while the old session is torn down";

    camera->resetGate->trySend(true);
    camera->resetGate = nullptr;
    drain();
    EXPECT_FALSE(Access::isTearingDown(*broadcaster));
    EXPECT_FALSE(Access::hasConnection(*broadcaster));

    auto after = connected();
    EXPECT_FALSE(isClosed(after));
    EXPECT_TRUE(Access::hasConnection(*broadcaster));
}

TEST_F(BroadcasterSessionTest, SetupTimeoutEndsASessionThatNeverBecomesReady) {
    auto headset = connected();
    clock.advance(9s);
    drain();
    EXPECT_FALSE(isClosed(headset));
    clock.advance(1s);
    drain();
    EXPECT_TRUE(isClosed(headset));
    EXPECT_EQ(updates(), (std::vector<State>{State::failed("Connection timed out"), State::listening()}));
}

TEST_F(BroadcasterSessionTest, SetupTimerOfAnEarlierSessionDoesNothing) {
    auto first = connected();
    clock.advance(4s);
    send(first, StreamControlMessage::make<Case::sessionDisconnectRequest>());
    ASSERT_FALSE(Access::hasConnection(*broadcaster));
    auto second = connected();
    clock.advance(6s);  // the first session's deadline passes
    drain();
    EXPECT_FALSE(isClosed(second));
    clock.advance(4s);  // the second session's own deadline
    drain();
    EXPECT_TRUE(isClosed(second));
}

TEST_F(BroadcasterSessionTest, ReceiverReadyStopsTheTimeoutAndReportsConnected) {
    auto headset = connected();
    send(headset, StreamControlMessage::make<Case::hello>(
                      SessionHelloMessage{.peerID = {},
                                          .displayName = "Ada's Headset",
                                          .controlProtocolVersion = 19,
                                          .minimumCompatibleControlProtocolVersion = 19}));
    authorize();
    send(headset, StreamControlMessage::make<Case::receiverReady>());
    EXPECT_EQ(updates(), std::vector<State>{State::connected("Ada's Headset")});
    clock.advance(20s);
    drain();
    EXPECT_FALSE(isClosed(headset));
}

TEST_F(BroadcasterSessionTest, ReceiverReadyWithoutHelloNamesTheHeadsetGenerically) {
    auto headset = receiverReady();
    EXPECT_EQ(updates(), std::vector<State>{State::connected("Vision Pro")});
}

TEST_F(BroadcasterSessionTest, TeardownResetsTheSessionWhateverEndsIt) {
    struct Cause {
        const char* name;
        std::function<void(Headset&)> end;
        std::vector<State> states;
        bool logsTransportFailure;
    };
    const std::vector<Cause> causes{
        {"disconnect request",
         [this](Headset& h) { send(h, StreamControlMessage::make<Case::sessionDisconnectRequest>()); },
         {State::listening()},
         false},
        {"connection failed",
         [this](Headset& h) {
             h.connection->fail(make_error_code(QuicError::idleTimeout));
             drain();
         },
         {State::failed("Connection lost"), State::listening()},
         true},
        {"peer closed",
         [this](Headset& h) {
             h.connection->close(7);
             drain();
         },
         {State::failed("Connection lost"), State::listening()},
         true},
        {"bad JSON",
         [this](Headset& h) {
             sendRaw(h, ControlMessageFraming::frame(Bytes{'{', 'x'}));
         },
         {State::failed("Connection lost"), State::listening()},
         true},
        {"control stream ended",
         [this](Headset& h) {
             run(h.control->send({}, true));
             drain();
         },
         {State::listening()},
         false},
        {"stop", [this](Headset&) { run(broadcaster->stop()); }, {State::idle()}, false},
    };
    for (const auto& cause : causes) {
        SCOPED_TRACE(cause.name);
        auto headset = receiverReady();
        send(headset, StreamControlMessage::make<Case::personaCameraSharingState>({true}));
        send(headset, StreamControlMessage::make<Case::microphoneSharingState>({true}));
        send(headset, StreamControlMessage::make<Case::receiverReport>({5, std::nullopt, 9}));
        send(headset, StreamControlMessage::make<Case::mouseScroll>(MouseScrollMessage{
                          0, 4, MouseScrollPhase::ended, MouseScrollMomentumPhase::none, 0, 600}));
        Access::forceNextKeyFrame(*broadcaster) = false;
        Access::nextSentFrameID(*broadcaster) = 12;
        Access::nextSentAudioChunkID(*broadcaster) = 40;
        updates();
        taken(broadcaster->personaCameraSharingStates());
        taken(broadcaster->microphoneSharingStates());
        input.events.clear();
        input.scrolls.clear();
        const int cameraResets = camera->resetCount;
        const int microphoneResets = microphone->resetCount;

        ScopedLogCapture logs;
        cause.end(headset);
        drain();

        EXPECT_TRUE(isClosed(headset));
        EXPECT_FALSE(Access::hasConnection(*broadcaster));
        EXPECT_FALSE(Access::isAuthorized(*broadcaster));
        EXPECT_FALSE(Access::isReceiverReady(*broadcaster));
        EXPECT_FALSE(Access::isTearingDown(*broadcaster));
        EXPECT_TRUE(Access::forceNextKeyFrame(*broadcaster));
        EXPECT_EQ(Access::nextSentFrameID(*broadcaster), 0u);
        EXPECT_EQ(Access::nextSentAudioChunkID(*broadcaster), 0u);
        EXPECT_FALSE(Access::highestReceivedFrameID(*broadcaster).has_value());
        EXPECT_FALSE(Access::highestReceivedAudioChunkID(*broadcaster).has_value());
        EXPECT_EQ(*power.heldCount, 0);
        EXPECT_EQ(taken(broadcaster->personaCameraSharingStates()), std::vector<bool>{false});
        EXPECT_EQ(taken(broadcaster->microphoneSharingStates()), std::vector<bool>{false});
        EXPECT_EQ(camera->resetCount, cameraResets + 1);
        EXPECT_EQ(microphone->resetCount, microphoneResets + 1);
        EXPECT_EQ(taken(broadcaster->pairingPrompts()),
                  std::vector<std::optional<ScreenStreamBroadcaster::PairingPrompt>>{std::nullopt});
        // Momentum ends with one end scroll, then held input is released.
        EXPECT_EQ(input.events, (std::vector<std::string>{"scroll", "releaseAll"}));
        ASSERT_EQ(input.scrolls.size(), 1u);
        EXPECT_EQ(input.scrolls[0].momentumPhase, MouseScrollMomentumPhase::end);
        EXPECT_EQ(updates(), cause.states);
        bool loggedFailure = false;
        for (const auto& message : logs.messages("ScreenStreamBroadcaster")) {
            loggedFailure = loggedFailure || message.starts_with("QUIC transport failed: ");
        }
        EXPECT_EQ(loggedFailure, cause.logsTransportFailure);
        if (std::string_view(cause.name) == "stop") {
            startListening();
            updates();
        }
    }
}

TEST_F(BroadcasterSessionTest, ConcurrentTeardownsTearDownOnce) {
    auto headset = connected();
    camera->resetGate = std::make_shared<AsyncChannel<bool>>(AsyncChannel<bool>::unbounded);
    headset.connection->fail(make_error_code(QuicError::idleTimeout));
    drain();
    ASSERT_TRUE(Access::isTearingDown(*broadcaster));
    run(broadcaster->endSession(nullptr, State::failed("Pairing removed"), true, true));
    camera->resetGate->trySend(true);
    camera->resetGate = nullptr;
    drain();
    EXPECT_EQ(camera->resetCount, 1);
    EXPECT_EQ(updates(), (std::vector<State>{State::failed("Connection lost"), State::listening()}));
    // Once done, a teardown without a session runs again (and restarts nothing twice).
    run(broadcaster->endSession(nullptr, std::nullopt, true, false));
    EXPECT_EQ(camera->resetCount, 2);
    EXPECT_EQ(transport.listenCount(), 1);
}

TEST_F(BroadcasterSessionTest, StopDuringALostConnectionsTeardownStaysStoppedAndReleasesTheBroadcaster) {
    for (const bool stopsListeningOnly : {false, true}) {
        SCOPED_TRACE(stopsListeningOnly ? "stopListeningIfNotConnected" : "stop");
        auto headset = connected();
        const int listens = transport.listenCount();
        camera->resetGate = std::make_shared<AsyncChannel<bool>>(AsyncChannel<bool>::unbounded);
        headset.connection->fail(make_error_code(QuicError::idleTimeout));
        drain();
        ASSERT_TRUE(Access::isTearingDown(*broadcaster));
        // The connection is already gone: the stop itself has no session left to end.
        run(stopsListeningOnly ? broadcaster->stopListeningIfNotConnected() : broadcaster->stop());
        camera->resetGate->trySend(true);
        camera->resetGate = nullptr;
        drain();
        EXPECT_EQ(updates(),
                  (std::vector<State>{State::idle(), State::failed("Connection lost"), State::idle()}));
        EXPECT_EQ(transport.listenCount(), listens) << "the teardown must not listen again after a stop";
        EXPECT_TRUE(discovery.browsers().empty()) << "nor probe the local network";
        // Listening starts again only when asked.
        startListening();
        EXPECT_EQ(transport.listenCount(), listens + 1);
        updates();
    }
    // Nothing the teardown left behind keeps the broadcaster alive once stopped and released.
    run(broadcaster->stop());
    drain();
    std::weak_ptr<ScreenStreamBroadcaster> released = broadcaster;
    broadcaster.reset();
    drain();
    EXPECT_TRUE(released.expired());
}

TEST_F(BroadcasterSessionTest, LateStateOfAnEndedSessionChangesNothing) {
    auto first = connected();
    send(first, StreamControlMessage::make<Case::sessionDisconnectRequest>());
    auto second = connected();
    updates();
    first.connection->fail(make_error_code(QuicError::idleTimeout));
    drain();
    EXPECT_FALSE(isClosed(second));
    EXPECT_EQ(updates(), std::vector<State>{});
}

TEST_F(BroadcasterSessionTest, DisconnectRequestIsAcknowledgedBeforeTheClose) {
    auto headset = connected();
    send(headset, StreamControlMessage::make<Case::sessionDisconnectRequest>());
    auto reply = receive(headset);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->messageCase(), Case::sessionDisconnectAcknowledged);
    EXPECT_TRUE(isClosed(headset));
    EXPECT_EQ(headset.connection->closeInfo().applicationErrorCode, std::optional<std::uint64_t>(0));
    EXPECT_EQ(updates(), std::vector<State>{State::listening()}) << "no state of its own";
}

TEST_F(BroadcasterSessionTest, HostOnlyPairingMessagesAreRefusedAndEndTheSession) {
    const std::vector<StreamControlMessage> messages{
        StreamControlMessage::make<Case::pairingChallenge>({}),
        StreamControlMessage::make<Case::pairingServerChallenge>({}),
        StreamControlMessage::make<Case::pairingServerConfirmation>({}),
        StreamControlMessage::make<Case::pairingAccepted>({}),
    };
    for (const auto& message : messages) {
        SCOPED_TRACE(std::string(message.caseName()));
        auto headset = connected();
        send(headset, message);
        auto reply = receive(headset);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(*reply, StreamControlMessage::make<Case::pairingRejected>(PairingFailureReason::failed));
        EXPECT_TRUE(isClosed(headset));
        EXPECT_EQ(updates(), std::vector<State>{State::listening()});
    }
}

TEST_F(BroadcasterSessionTest, PairingRejectedFromTheHeadsetEndsTheSessionQuietly) {
    auto headset = connected();
    send(headset, StreamControlMessage::make<Case::pairingRejected>(PairingFailureReason::canceled));
    EXPECT_FALSE(receive(headset).has_value());
    EXPECT_TRUE(isClosed(headset));
    EXPECT_EQ(updates(), std::vector<State>{State::listening()});
}

TEST_F(BroadcasterSessionTest, ControlStreamAdoptionReopensTheCertificateCapture) {
    // A connection that fails right after adopting its control stream must not keep the next one out.
    auto first = connected();
    first.connection->fail(make_error_code(QuicError::idleTimeout));
    drain();
    auto second = connect();
    ASSERT_NE(second.connection, nullptr) << "the handshake was refused";
    EXPECT_FALSE(isClosed(second));
}

TEST_F(BroadcasterSessionTest, StreamsBeforeAuthorisationAreIgnoredAndTheControlStreamStaysFirst) {
    auto headset = connected();
    auto early = run(headset.connection->openStream(QuicStreamDirectionality::unidirectional));
    run(early->send(Bytes{3, 1, 2}, false));
    drain();
    // The control stream still works.
    send(headset, StreamControlMessage::make<Case::hello>(
                      SessionHelloMessage{.peerID = {},
                                          .displayName = "X",
                                          .controlProtocolVersion = 19,
                                          .minimumCompatibleControlProtocolVersion = 19}));
    ASSERT_TRUE(Access::currentHello(*broadcaster).has_value());
    EXPECT_EQ(Access::currentHello(*broadcaster)->displayName, "X");
    EXPECT_FALSE(isClosed(headset));
}

}  // namespace
}  // namespace quillbridge
