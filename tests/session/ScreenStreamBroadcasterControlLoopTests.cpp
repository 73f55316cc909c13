#include <chrono>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/ScreenStreamBroadcasterFixture.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Gate = ScreenStreamBroadcaster::ControlMessageGate;

// One message of every case: default payloads, with values that have a visible effect where the default
// would not.
template <std::size_t... Index>
std::vector<StreamControlMessage> defaultMessages(std::index_sequence<Index...>) {
    return {StreamControlMessage{StreamControlMessage::Payload(
        std::in_place_index<Index>, std::variant_alternative_t<Index, StreamControlMessage::Payload>{})}...};
}

std::vector<StreamControlMessage> sampleMessages() {
    auto messages = defaultMessages(std::make_index_sequence<StreamControlMessage::caseCount>{});
    auto set = [&]<Case C>(StreamControlMessage::PayloadType<C> payload) {
        messages[static_cast<std::size_t>(C)] = StreamControlMessage::make<C>(std::move(payload));
    };
    set.operator()<Case::personaCameraSharingState>({true});
    set.operator()<Case::microphoneSharingState>({true});
    set.operator()<Case::receiverReport>({4, std::nullopt, 8});
    set.operator()<Case::keyboardTypePreference>({KeyboardTypePreference::iso});
    set.operator()<Case::textInput>({"hi"});
    set.operator()<Case::microphoneFormat>({48000, 1});
    return messages;
}

// Everything a message can visibly do.
struct Effects {
    std::vector<std::string> replies;
    std::vector<std::string> input;
    std::vector<State> states;
    std::size_t configurations = 0;
    std::vector<bool> cameraSharing;
    std::vector<bool> microphoneSharing;
    std::size_t clockSynchronizations = 0;
    std::size_t cameraFormats = 0;
    std::size_t microphoneFormats = 0;
    std::vector<std::string> logs;
    bool closed = false;
    bool forcesKeyFrame = false;
    std::optional<std::uint64_t> highestReceivedFrameID;
    bool changesKeyboardTypePreference = false;

    bool operator==(const Effects&) const = default;
};

class BroadcasterControlLoopTest : public ScreenStreamBroadcasterFixture {
protected:
    void SetUp() override {
        ScreenStreamBroadcasterFixture::SetUp();
        startListening();
    }

    void clearOutputs() {
        updates();
        taken(broadcaster->configurations());
        taken(broadcaster->personaCameraSharingStates());
        taken(broadcaster->microphoneSharingStates());
        taken(broadcaster->pairingPrompts());
        input.events.clear();
        input.scrolls.clear();
        coordinator->synchronizations.clear();
        camera->formats.clear();
        microphone->formats.clear();
    }

    Effects effectsOf(const StreamControlMessage& message, bool authorised) {
        auto headset = connect();
        if (authorised) {
            authorize();
            Access::isPersonaCameraRequested(*broadcaster) = true;
            Access::isMicrophoneRequested(*broadcaster) = true;
        }
        Access::forceNextKeyFrame(*broadcaster) = false;
        clearOutputs();
        const auto preference = Access::keyboardTypePreference(*broadcaster);
        Effects effects;
        {
            ScopedLogCapture logs;
            send(headset, message);
            while (auto reply = receive(headset)) {
                effects.replies.emplace_back(reply->caseName());
            }
            effects.logs = logs.messages("ScreenStreamBroadcaster");
        }
        effects.input = input.events;
        effects.states = updates();
        effects.configurations = taken(broadcaster->configurations()).size();
        effects.cameraSharing = taken(broadcaster->personaCameraSharingStates());
        effects.microphoneSharing = taken(broadcaster->microphoneSharingStates());
        effects.clockSynchronizations = coordinator->synchronizations.size();
        effects.cameraFormats = camera->formats.size();
        effects.microphoneFormats = microphone->formats.size();
        effects.closed = isClosed(headset);
        effects.forcesKeyFrame = Access::forceNextKeyFrame(*broadcaster);
        effects.highestReceivedFrameID = Access::highestReceivedFrameID(*broadcaster);
        effects.changesKeyboardTypePreference = Access::keyboardTypePreference(*broadcaster) != preference;
        // Back to listening for the next case.
        run(broadcaster->endSession(nullptr, std::nullopt, true, true));
        drain();
        Access::forceNextKeyFrame(*broadcaster) = false;
        clearOutputs();
        return effects;
    }

    Headset authorisedHeadset() {
        auto headset = connect();
        authorize();
        clearOutputs();
        return headset;
    }

    void advanceOneTick() {
        clock.advance(std::chrono::nanoseconds(16'666'666));
        drain();
    }
};

TEST(ControlMessageGateTest, OnlyAdmissionDisconnectAndHostSentMessagesPassBeforeAuthorisation) {
    const std::set<Case> authorised{Case::streamConfiguration,
                                    Case::requestKeyFrame,
                                    Case::certificateRotation,
                                    Case::receiverReport,
                                    Case::clockSynchronizationRequest,
                                    Case::clockSynchronizationResult,
                                    Case::personaCameraSharingState,
                                    Case::microphoneSharingState,
                                    Case::receiverReady,
                                    Case::mouseClick,
                                    Case::mouseMove,
                                    Case::mouseScroll,
                                    Case::mousePosition,
                                    Case::keyboardEvent,
                                    Case::keyboardTypePreference,
                                    Case::textInput,
                                    Case::systemAction,
                                    Case::clipboardTransferRequest,
                                    Case::clipboardTransferCancel};
    for (std::size_t index = 0; index < StreamControlMessage::caseCount; ++index) {
        const auto messageCase = static_cast<Case>(index);
        Gate expected = authorised.contains(messageCase) ? Gate::authorized : Gate::any;
        if (messageCase == Case::personaCameraFormat) {
            expected = Gate::authorizedWithCameraRequested;
        } else if (messageCase == Case::microphoneFormat) {
            expected = Gate::authorizedWithMicrophoneRequested;
        }
        EXPECT_EQ(ScreenStreamBroadcaster::gate(messageCase), expected)
            << StreamControlMessage::name(messageCase);
    }
}

TEST_F(BroadcasterControlLoopTest, GatedCasesDoNothingUntilAuthorisedAndOpenCasesActTheSameEitherWay) {
    const Effects nothing{};
    for (const auto& message : sampleMessages()) {
        SCOPED_TRACE(std::string(message.caseName()));
        const Effects before = effectsOf(message, false);
        const Effects after = effectsOf(message, true);
        if (ScreenStreamBroadcaster::gate(message.messageCase()) == Gate::any) {
            EXPECT_EQ(before.replies, after.replies);
            EXPECT_EQ(before.closed, after.closed);
            EXPECT_EQ(before.states, after.states);
            EXPECT_EQ(before.logs, after.logs);
        } else {
            EXPECT_EQ(before.replies, nothing.replies);
            EXPECT_EQ(before.input, nothing.input);
            EXPECT_EQ(before.states, nothing.states);
            EXPECT_EQ(before.logs, nothing.logs);
            EXPECT_TRUE(before == nothing) << "dropped silently before authorisation";
            EXPECT_FALSE(after == nothing) << "acts once authorised";
            // A rotation that does not verify against a paired headset ends the session (the admission
            // tests cover the accepted one); every other case leaves it open.
            EXPECT_EQ(after.closed, message.messageCase() == Case::certificateRotation);
        }
    }
}

TEST_F(BroadcasterControlLoopTest, ClockSynchronisationEchoesTheRequestWithReceiveAndSendStamps) {
    auto headset = authorisedHeadset();
    send(headset, StreamControlMessage::make<Case::clockSynchronizationRequest>({7, 123456789}));
    auto reply = receive(headset);
    ASSERT_TRUE(reply.has_value());
    const auto* response = reply->get<Case::clockSynchronizationResponse>();
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->sequenceNumber, 7u);
    EXPECT_EQ(response->clientSendTimeNanoseconds, 123456789u);
    // The receive stamp is the host clock's reading as the frame came in, the send stamp the next reading,
    // taken while the reply was built: nothing read the clock in between.
    EXPECT_LT(response->hostReceiveTimeNanoseconds, response->hostSendTimeNanoseconds);
    EXPECT_EQ(response->hostSendTimeNanoseconds - response->hostReceiveTimeNanoseconds, 1000u);
    EXPECT_EQ(response->hostSendTimeNanoseconds, hostTime);
}

TEST_F(BroadcasterControlLoopTest, ClockSynchronisationResultReachesTheTimingCoordinatorSaturated) {
    auto headset = authorisedHeadset();
    send(headset, StreamControlMessage::make<Case::clockSynchronizationResult>({-5000, 30'000'000}));
    send(headset, StreamControlMessage::make<Case::clockSynchronizationResult>(
                      {7, std::numeric_limits<std::uint64_t>::max()}));
    using Synchronization = RecordingPersonaAVTimingCoordinator::Synchronization;
    EXPECT_EQ(
        coordinator->synchronizations,
        (std::vector<Synchronization>{{-5000, 30'000'000}, {7, std::numeric_limits<std::int64_t>::max()}}));
}

TEST_F(BroadcasterControlLoopTest, ReceiverReportsOnlyRaiseTheHighestIdentifiers) {
    struct Step {
        StreamReceiverReportMessage report;
        std::optional<std::uint64_t> frame;
        std::optional<std::uint64_t> audio;
    };
    const std::vector<Step> steps{
        {{std::nullopt, std::nullopt, std::nullopt}, std::nullopt, std::nullopt},
        {{10, 999, std::nullopt}, 10, std::nullopt},
        {{4, std::nullopt, 3}, 10, 3},
        {{std::nullopt, std::nullopt, 2}, 10, 3},
        {{11, std::nullopt, 30}, 11, 30},
    };
    auto headset = authorisedHeadset();
    for (const auto& step : steps) {
        send(headset, StreamControlMessage::make<Case::receiverReport>(step.report));
        EXPECT_EQ(Access::highestReceivedFrameID(*broadcaster), step.frame);
        EXPECT_EQ(Access::highestReceivedAudioChunkID(*broadcaster), step.audio);
    }
}

TEST_F(BroadcasterControlLoopTest, SharingStatesAreYieldedOnlyWhenTheyChange) {
    auto headset = authorisedHeadset();
    for (bool value : {false, true, true, false}) {
        send(headset, StreamControlMessage::make<Case::personaCameraSharingState>({value}));
    }
    EXPECT_EQ(taken(broadcaster->personaCameraSharingStates()), (std::vector<bool>{true, false}));
}

TEST_F(BroadcasterControlLoopTest, PersonaCameraFormatRepliesWithTheReceiversReportOrLogsARefusal) {
    auto headset = authorisedHeadset();
    Access::isPersonaCameraRequested(*broadcaster) = true;
    camera->report = PersonaCameraReceiverReportMessage{41};
    send(headset, StreamControlMessage::make<Case::personaCameraFormat>({}));
    auto reply = receive(headset);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, StreamControlMessage::make<Case::personaCameraReceiverReport>({41}));

    camera->rejectsFormats = true;
    ScopedLogCapture logs;
    send(headset, StreamControlMessage::make<Case::personaCameraFormat>({}));
    EXPECT_FALSE(receive(headset).has_value());
    EXPECT_EQ(logs.messages("ScreenStreamBroadcaster"),
              std::vector<std::string>{"Invalid Persona camera format: The format cannot be used"});
    EXPECT_FALSE(isClosed(headset));
}

TEST_F(BroadcasterControlLoopTest, SendControlMessageWithoutAControlStreamSendsNothingAndSucceeds) {
    run(broadcaster->sendControlMessage(StreamControlMessage::make<Case::heartbeat>()));
    auto headset = connect();
    run(broadcaster->sendControlMessage(StreamControlMessage::make<Case::heartbeat>()));
    auto message = receive(headset);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->messageCase(), Case::heartbeat);
}

TEST_F(BroadcasterControlLoopTest, InvalidFrameLengthEndsTheSessionQuietlyAsAnExpectedEnd) {
    auto headset = connect();
    updates();
    ScopedLogCapture logs;
    sendRaw(headset, Bytes{0, 0, 0, 0});
    EXPECT_TRUE(isClosed(headset));
    EXPECT_EQ(updates(), std::vector<State>{State::listening()});
    EXPECT_TRUE(logs.messages("ScreenStreamBroadcaster").empty());
}

// Scroll momentum.

MouseScrollMessage fingerScroll(MouseScrollPhase phase, std::optional<double> velocityX = std::nullopt,
                                std::optional<double> velocityY = std::nullopt) {
    return MouseScrollMessage{1, 2, phase, MouseScrollMomentumPhase::none, velocityX, velocityY};
}

TEST_F(BroadcasterControlLoopTest, MomentumStartsOnlyFromAnEndedGestureWithEnoughVelocity) {
    struct Row {
        const char* name;
        MouseScrollMessage message;
        bool starts;
    };
    const std::vector<Row> cases{
        {"slow", fingerScroll(MouseScrollPhase::ended, 0.5, 0.9), false},
        {"no velocity", fingerScroll(MouseScrollPhase::ended), false},
        {"one velocity", fingerScroll(MouseScrollPhase::ended, 300, std::nullopt), false},
        {"still moving", fingerScroll(MouseScrollPhase::changed, 300, 300), false},
        {"own momentum",
         MouseScrollMessage{1, 2, MouseScrollPhase::ended, MouseScrollMomentumPhase::begin, 300, 300}, false},
        {"vertical", fingerScroll(MouseScrollPhase::ended, 0.5, 2), true},
        {"negative", fingerScroll(MouseScrollPhase::ended, -400, 0), true},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        auto headset = authorisedHeadset();
        send(headset, StreamControlMessage::make<Case::mouseScroll>(testCase.message));
        EXPECT_EQ(Access::isScrollMomentumRunning(*broadcaster), testCase.starts);
        ASSERT_FALSE(input.scrolls.empty());
        // The gesture's own scroll goes first, unchanged.
        EXPECT_EQ(input.scrolls[0], (RecordingRemoteInputSink::Scroll{1, 2, testCase.message.phase,
                                                                      testCase.message.momentumPhase}));
        run(broadcaster->endSession(nullptr, std::nullopt, true, true));
        drain();
    }
}

TEST_F(BroadcasterControlLoopTest, MomentumDecaysTickByTickAndEndsOnce) {
    auto headset = authorisedHeadset();
    send(headset,
         StreamControlMessage::make<Case::mouseScroll>(fingerScroll(MouseScrollPhase::ended, 0.5, 600)));
    for (int tick = 0; tick < 200 && Access::isScrollMomentumRunning(*broadcaster); ++tick) {
        advanceOneTick();
    }
    ASSERT_FALSE(Access::isScrollMomentumRunning(*broadcaster));
    const auto& scrolls = input.scrolls;
    ASSERT_GE(scrolls.size(), 4u);
    // 600 units/s falls below 1 after about ln(600)/6 s: some 64 ticks.
    EXPECT_NEAR(static_cast<double>(scrolls.size()), 66.0, 3.0);
    EXPECT_EQ(scrolls[1].momentumPhase, MouseScrollMomentumPhase::begin);
    for (std::size_t index = 1; index + 1 < scrolls.size(); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(scrolls[index].deltaX, 0.0)
            << "a horizontal velocity below 1 is dropped from the first tick";
        EXPECT_EQ(scrolls[index].phase, MouseScrollPhase::none);
        if (index > 1) {
            EXPECT_EQ(scrolls[index].momentumPhase, MouseScrollMomentumPhase::continuous);
            EXPECT_LT(scrolls[index].deltaY, scrolls[index - 1].deltaY);
        }
    }
    EXPECT_NEAR(scrolls[1].deltaY, 600 * std::exp(-6.0 / 60) / 60, 1e-6);
    EXPECT_EQ(scrolls.back(), (RecordingRemoteInputSink::Scroll{0, 0, MouseScrollPhase::none,
                                                                MouseScrollMomentumPhase::end}));
    const auto ends = std::count_if(scrolls.begin(), scrolls.end(), [](const auto& scroll) {
        return scroll.momentumPhase == MouseScrollMomentumPhase::end;
    });
    EXPECT_EQ(ends, 1);
}

TEST_F(BroadcasterControlLoopTest, LateTickScalesItsDeltaByTheElapsedTime) {
    auto headset = authorisedHeadset();
    send(headset,
         StreamControlMessage::make<Case::mouseScroll>(fingerScroll(MouseScrollPhase::ended, 0, 3000)));
    clock.advance(50ms);
    drain();
    ASSERT_EQ(input.scrolls.size(), 3u);
    const double firstVelocity = 3000 * std::exp(-6.0 / 60);
    const double secondVelocity = firstVelocity * std::exp(-6.0 * 0.05);
    EXPECT_NEAR(input.scrolls[2].deltaY, secondVelocity * 0.05, 1e-6);
}

TEST_F(BroadcasterControlLoopTest, WhatInterruptsMomentum) {
    using Scroll = RecordingRemoteInputSink::Scroll;
    const Scroll end{0, 0, MouseScrollPhase::none, MouseScrollMomentumPhase::end};
    struct Row {
        const char* name;
        StreamControlMessage message;
        bool stops;
        std::vector<std::string> events;
    };
    const std::vector<Row> cases{
        {"move", StreamControlMessage::make<Case::mouseMove>({3, 4}), false, {"moveBy"}},
        {"click", StreamControlMessage::make<Case::mouseClick>({}), true, {"scroll", "mouseButton"}},
        {"position", StreamControlMessage::make<Case::mousePosition>({0.5, 0.5}), true, {"scroll", "moveTo"}},
        {"finger scroll",
         StreamControlMessage::make<Case::mouseScroll>(fingerScroll(MouseScrollPhase::began)),
         true,
         {"scroll", "scroll"}},
        {"headset momentum",
         StreamControlMessage::make<Case::mouseScroll>(MouseScrollMessage{
             0, 1, MouseScrollPhase::none, MouseScrollMomentumPhase::continuous, std::nullopt, std::nullopt}),
         false,
         {"scroll"}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        auto headset = authorisedHeadset();
        send(headset,
             StreamControlMessage::make<Case::mouseScroll>(fingerScroll(MouseScrollPhase::ended, 0, 900)));
        ASSERT_TRUE(Access::isScrollMomentumRunning(*broadcaster));
        input.events.clear();
        input.scrolls.clear();
        send(headset, testCase.message);
        EXPECT_EQ(input.events, testCase.events);
        EXPECT_EQ(Access::isScrollMomentumRunning(*broadcaster), !testCase.stops);
        if (testCase.stops) {
            ASSERT_FALSE(input.scrolls.empty());
            EXPECT_EQ(input.scrolls[0], end);
            // The stopped task posts nothing more.
            input.scrolls.clear();
            advanceOneTick();
            advanceOneTick();
            EXPECT_TRUE(input.scrolls.empty());
        }
        run(broadcaster->endSession(nullptr, std::nullopt, true, true));
        drain();
    }
}

TEST_F(BroadcasterControlLoopTest, NewMomentumReplacesTheOldWithoutAnEndInBetween) {
    auto headset = authorisedHeadset();
    send(headset,
         StreamControlMessage::make<Case::mouseScroll>(fingerScroll(MouseScrollPhase::ended, 0, 900)));
    advanceOneTick();
    input.scrolls.clear();
    // A gesture that ends with momentum: its own scroll (with momentum phase none) stops the old momentum,
    // which posts one end; the replacement then begins.
    send(headset,
         StreamControlMessage::make<Case::mouseScroll>(fingerScroll(MouseScrollPhase::ended, 0, -900)));
    ASSERT_GE(input.scrolls.size(), 3u);
    EXPECT_EQ(input.scrolls[0].momentumPhase, MouseScrollMomentumPhase::end);
    EXPECT_EQ(input.scrolls[1].momentumPhase, MouseScrollMomentumPhase::none);
    EXPECT_EQ(input.scrolls[2].momentumPhase, MouseScrollMomentumPhase::begin);
    EXPECT_LT(input.scrolls[2].deltaY, 0);
    for (int tick = 0; tick < 200 && Access::isScrollMomentumRunning(*broadcaster); ++tick) {
        advanceOneTick();
    }
    const auto ends = std::count_if(input.scrolls.begin(), input.scrolls.end(), [](const auto& scroll) {
        return scroll.momentumPhase == MouseScrollMomentumPhase::end;
    });
    EXPECT_EQ(ends, 2) << "one for the stopped momentum, one for the replacement";
}

}  // namespace
}  // namespace quillbridge
