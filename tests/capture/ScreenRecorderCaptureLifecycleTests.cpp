#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "ScreenRecorderTestFixture.hpp"
#include "capture/CaptureStreamFailure.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using State = ScreenRecorderSession::State;

std::shared_ptr<CapturedVideoFrame> frameWithStatus(std::optional<CapturedFrameStatus> status) {
    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->status = status;
    return frame;
}

class ScreenRecorderCaptureTest : public ScreenRecorderTest {
protected:
    void startStreaming() {
        makeRecorder();
        startServices();
        connectHeadset();
        ASSERT_TRUE(recorder->isRunning());
        ASSERT_EQ(factory->streams.size(), 1u);
        session->calls.clear();
    }

    void deliverFrame(std::optional<CapturedFrameStatus> status) {
        lastStream()->output->captureStreamDidOutputVideoFrame(frameWithStatus(status));
        settle();
    }
};

TEST_F(ScreenRecorderCaptureTest, ConnectedSessionStartsCaptureOfTheSelectedDisplay) {
    startStreaming();
    EXPECT_EQ(lastStream()->filter.display.displayID, 1u);
    EXPECT_TRUE(lastStream()->isRunning);
    EXPECT_FALSE(recorder->isCaptureStarting());
}

TEST_F(ScreenRecorderCaptureTest, VideoFramesAreHandledByTheirStatus) {
    struct Case {
        std::optional<CapturedFrameStatus> status;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {std::nullopt, {"encode"}},
        {CapturedFrameStatus::complete, {"encode"}},
        {CapturedFrameStatus::idle, {"completePendingFrames"}},
        {CapturedFrameStatus::blank, {}},
        {CapturedFrameStatus::suspended, {}},
        {CapturedFrameStatus::started, {}},
        {CapturedFrameStatus::stopped, {}},
    };
    startStreaming();
    for (const auto& testCase : cases) {
        session->calls.clear();
        deliverFrame(testCase.status);
        EXPECT_EQ(session->callsAmong({"encode", "completePendingFrames"}), testCase.expected);
        // Every frame makes sure the keyboard layout is watched; a connected session needs no listener.
        EXPECT_EQ(session->count("observeKeyboard"), 1);
        EXPECT_EQ(session->count("startListening"), 0);
    }
}

TEST_F(ScreenRecorderCaptureTest, AudioBuffersGoToTheSession) {
    startStreaming();
    auto buffer = std::make_shared<AudioPCMBuffer>();
    buffer->format = AudioPCMFormat{.sampleRate = 48000, .channelCount = 2};
    buffer->frameLength = 4;
    buffer->floatChannels.assign(2, std::vector<float>(4, 0.25f));
    lastStream()->output->captureStreamDidOutputAudioBuffer(buffer);
    settle();
    EXPECT_EQ(session->count("sendAudio"), 1);
}

TEST_F(ScreenRecorderCaptureTest, FramesInFlightBringTheListenerBackOnlyWhileListeningIsAllowed) {
    struct Case {
        std::string name;
        bool lidClosed;
        bool externalDisplay;
        bool screenGranted;
        int expectedListenerStarts;
    };
    const std::vector<Case> cases{
        {"lid open", false, false, true, 1},
        {"lid closed with an external display", true, true, true, 1},
        {"lid closed without an external display", true, false, true, 0},
        {"screen capture withdrawn", false, true, false, 0},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        lid->lidClosed = false;
        displayConfiguration->externalDisplayOnline = true;
        startStreaming();
        // The connection went away and the host's state changed, but the capture stream still delivers.
        session->connected = false;
        lid->lidClosed = testCase.lidClosed;
        displayConfiguration->externalDisplayOnline = testCase.externalDisplay;
        probe->screenCaptureGranted = testCase.screenGranted;
        recorder->refreshPermissionState();
        deliverFrame(CapturedFrameStatus::complete);
        EXPECT_EQ(session->count("startListening"), testCase.expectedListenerStarts);
        probe->screenCaptureGranted = true;
        session->updates().finish();
        session->configurations().finish();
        settle();
        recorder.reset();
        settle();
        session = std::make_shared<FakeScreenRecorderSession>();
        factory = std::make_shared<FakeCaptureStreamFactory>();
    }
}

TEST_F(ScreenRecorderCaptureTest, ClosingTheLidWithoutExternalDisplayStopsEverythingEvenWithFramesInFlight) {
    startStreaming();
    recorder->startHostAvailabilityMonitoring();
    displayConfiguration->externalDisplayOnline = false;
    // A frame is waiting in the mailbox when the lid closes.
    lastStream()->output->captureStreamDidOutputVideoFrame(frameWithStatus(CapturedFrameStatus::complete));
    lid->setLidClosed(true);
    waitFor([&] { return !recorder->isConnected(); });
    settle();
    EXPECT_FALSE(recorder->isRunning());
    EXPECT_FALSE(recorder->isConnected());
    EXPECT_EQ(session->count("stop"), 1);
    EXPECT_FALSE(lastStream()->isRunning);
    // More frames of the stopped stream arrive late: no listener comes back.
    lastStream()->output->captureStreamDidOutputVideoFrame(frameWithStatus(CapturedFrameStatus::complete));
    settle();
    EXPECT_EQ(session->count("startListening"), 0);
}

TEST_F(ScreenRecorderCaptureTest, AFrameDrainedAcrossShutdownLeavesTheSessionStopped) {
    startStreaming();
    // The drain asks whether a headset is connected; the session answers only once shutdown has run.
    asio::steady_timer answer(context, asio::steady_timer::time_point::max());
    bool isFirstQuestion = true;
    session->beforeConnectionAnswer = [&answer, &isFirstQuestion]() -> asio::awaitable<void> {
        if (!std::exchange(isFirstQuestion, false)) {
            co_return;
        }
        asio::error_code released;
        co_await answer.async_wait(asio::redirect_error(asio::use_awaitable, released));
    };
    session->connected = false;
    lastStream()->output->captureStreamDidOutputVideoFrame(frameWithStatus(CapturedFrameStatus::complete));
    settle();
    ASSERT_EQ(session->count("encode"), 0) << "the drain should be waiting for the session's answer";
    run(recorder->shutdown());
    ASSERT_EQ(session->count("stop"), 1);
    answer.cancel();
    settle();
    EXPECT_EQ(session->count("encode"), 1);
    EXPECT_THAT(session->callsAmong({"stop", "startListening"}), ElementsAre("stop"));
}

TEST_F(ScreenRecorderCaptureTest, ClosingTheLidWithAnExternalDisplayKeepsStreaming) {
    startStreaming();
    recorder->startHostAvailabilityMonitoring();
    displayConfiguration->externalDisplayOnline = true;
    lid->setLidClosed(true);
    settle();
    EXPECT_TRUE(recorder->isRunning());
    EXPECT_TRUE(recorder->isConnected());
    EXPECT_EQ(session->count("stop"), 0);
}

TEST_F(ScreenRecorderCaptureTest, TwoStartsForTheSameDisplayStartOneStream) {
    factory->prepare = [](FakeCaptureStream& stream) { stream.holdsStart = true; };
    makeRecorder();
    startServices();
    session->connected = true;
    spawn(recorder->handleSessionState(State::connected("Headset")));  // the start waits in the engine
    run(recorder->startCaptureIfNeeded());
    ASSERT_EQ(factory->streams.size(), 1u);
    lastStream()->completeStart();
    settle();
    EXPECT_TRUE(recorder->isRunning());
    EXPECT_EQ(factory->streams.size(), 1u);
}

TEST_F(ScreenRecorderCaptureTest, StopDuringAPendingStartStopsTheNewStream) {
    factory->prepare = [](FakeCaptureStream& stream) { stream.holdsStart = true; };
    makeRecorder();
    startServices();
    session->connected = true;
    spawn(recorder->handleSessionState(State::connected("Headset")));
    ASSERT_TRUE(recorder->isCaptureStarting());
    const auto generation = recorder->captureLifecycleGeneration();
    run(recorder->stopCapture());
    EXPECT_GT(recorder->captureLifecycleGeneration(), generation);
    lastStream()->completeStart();
    settle();
    EXPECT_FALSE(recorder->isRunning());
    EXPECT_FALSE(recorder->isCaptureStarting());
    EXPECT_FALSE(lastStream()->isRunning);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::isRunning), 0);
}

TEST_F(ScreenRecorderCaptureTest, AStartForANewlySelectedDisplaySupersedesThePendingOne) {
    factory->prepare = [](FakeCaptureStream& stream) { stream.holdsStart = true; };
    makeRecorder();
    startServices();
    session->connected = true;
    spawn(recorder->handleSessionState(State::connected("Headset")));
    ASSERT_EQ(factory->streams.size(), 1u);
    auto first = lastStream();

    // The selected display changes mode while its start is pending.
    displays->displays[0] = makeTestDisplay(1, 1280, 720);
    spawn(recorder->refreshAvailableContent());
    ASSERT_EQ(factory->streams.size(), 2u);
    auto second = lastStream();
    EXPECT_EQ(second->configuration.width, 1280u);

    // The late completion of the first start changes nothing.
    first->completeStart();
    settle();
    EXPECT_FALSE(recorder->isRunning());
    EXPECT_TRUE(recorder->isCaptureStarting());
    EXPECT_FALSE(first->isRunning);

    second->completeStart();
    settle();
    EXPECT_TRUE(recorder->isRunning());
    EXPECT_TRUE(second->isRunning);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::isRunning), 1);
}

TEST_F(ScreenRecorderCaptureTest, FailedStartRecordsAWithdrawnScreenGrant) {
    factory->prepare = [](FakeCaptureStream& stream) { stream.failsStart = true; };
    makeRecorder();
    startServices();
    probe->screenCaptureGranted = false;
    connectHeadset();
    EXPECT_FALSE(recorder->isRunning());
    EXPECT_FALSE(recorder->isCaptureStarting());
    EXPECT_TRUE(recorder->permissionIssues().contains(MandatoryPermissionIssue::screenAndAudioCapture));
}

TEST_F(ScreenRecorderCaptureTest, StreamStoppingByItselfRestartsAfterAQuarterSecondUnlessTheUserStoppedIt) {
    struct Case {
        CaptureStreamFailure failure;
        std::size_t expectedStreams;
    };
    const std::vector<Case> cases{
        {{std::string(captureStreamErrorDomain), captureStreamErrorCode::displayUnavailable, "gone"}, 2},
        {{std::string(captureStreamErrorDomain), captureStreamErrorCode::userStopped, "stopped"}, 1},
        {{"OtherDomain", captureStreamErrorCode::userStopped, "other"}, 2},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.failure.message);
        startStreaming();
        lastStream()->output->captureStreamDidStop(testCase.failure);
        settle();
        EXPECT_FALSE(recorder->isRunning());
        clock->advance(std::chrono::milliseconds(249));
        settle();
        EXPECT_EQ(factory->streams.size(), 1u);
        clock->advance(std::chrono::milliseconds(1));
        settle();
        EXPECT_EQ(factory->streams.size(), testCase.expectedStreams);
        EXPECT_EQ(recorder->isRunning(), testCase.expectedStreams == 2);
        session->updates().finish();
        session->configurations().finish();
        settle();
        recorder.reset();
        settle();
        session = std::make_shared<FakeScreenRecorderSession>();
        factory = std::make_shared<FakeCaptureStreamFactory>();
    }
}

TEST_F(ScreenRecorderCaptureTest, SessionEndStopsCapture) {
    startStreaming();
    report(State::idle());
    EXPECT_FALSE(recorder->isRunning());
    EXPECT_FALSE(lastStream()->isRunning);
    EXPECT_FALSE(recorder->hasActiveClient());
}

TEST_F(ScreenRecorderCaptureTest, ShutdownStopsTheSessionLastAndOnlyOnce) {
    startStreaming();
    session->journal = factory->journal;
    run(recorder->shutdown());
    run(recorder->shutdown());
    const auto& journal = *factory->journal;
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), "session.stop");
    EXPECT_EQ(session->count("stop"), 1);
    EXPECT_FALSE(lastStream()->isRunning);
    EXPECT_TRUE(recorder->isTerminating());
    // Terminating: the services stay down.
    run(recorder->startHostServicesIfPermitted());
    EXPECT_EQ(session->count("startListening"), 0);
}

}  // namespace
}  // namespace quillbridge
