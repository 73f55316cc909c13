// Lending the headset's Persona camera and microphone to the host's virtual devices: sharing reports,
// demand from the host's applications, the ordered transport requests, the microphone passthrough and the
// microphone packets on their way to the device.

#include <cstdint>
#include <future>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScreenRecorderTestFixture.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/Logger.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using State = ScreenRecorderSession::State;
using PermissionState = PersonaVirtualCameraController::PermissionState;
using Request = std::pair<bool, std::uint64_t>;

VirtualMicrophonePacket packet(std::int64_t frameCount, bool startsNewTimeline = false,
                               MicrophoneFormatMessage format = {48000, 1}) {
    VirtualMicrophonePacket result;
    result.format = format;
    result.captureTimeNanoseconds = 1000;
    result.targetHostTimeNanoseconds = 2000;
    result.targetBufferFrameCount = 960;
    result.startsNewTimeline = startsNewTimeline;
    result.frameCount = frameCount;
    result.payload = Bytes(static_cast<std::size_t>(frameCount) * 4, 0);
    return result;
}

class DeviceSharingTest : public ScreenRecorderTest {
protected:
    void SetUp() override { makeRecorder(); }
    // A failing test must not leave the microphone queue waiting inside publication.
    void TearDown() override {
        if (isHeld && !isReleased) {
            release();
        }
    }

    // The headset reports its microphone sharing (handled to its end; the stream path has a test of its own).
    void shareMicrophone(bool isEnabled) { run(recorder->handleMicrophoneSharing(isEnabled)); }
    void shareCamera(bool isEnabled) {
        session->personaCameraSharingStates().yield(isEnabled);
        settle();
    }
    void demandMicrophone(bool isDemanded) {
        microphone->reportDemand(isDemanded);
        settle();
    }
    void endSession(State state = State::idle()) {
        session->connected = false;
        report(std::move(state));
    }

    // Makes publication wait inside the microphone queue until release() is called.
    void holdPublication() {
        isHeld = true;
        microphone->onPublish = [gate = gate.get_future().share()] { gate.wait(); };
    }
    void release() {
        isReleased = true;
        gate.set_value();
    }

    std::promise<void> gate;
    bool isHeld = false;
    bool isReleased = false;
};

// Camera.

TEST_F(DeviceSharingTest, StartingUpAsksARunningCameraExtensionForItsDemandAfterTheHandlersAreInstalled) {
    EXPECT_EQ(cameraController->demandQueryCount, 1);
    EXPECT_TRUE(cameraController->handlersWereInstalledAtDemandQuery);
}

TEST_F(DeviceSharingTest, CameraSharingActivatesTheExtensionAndItsStateIsShown) {
    shareCamera(true);
    EXPECT_TRUE(recorder->isPersonaCameraSharingEnabled());
    EXPECT_EQ(cameraController->activationCount, 1);
    EXPECT_EQ(cameraController->propertiesRequestCount, 1);

    cameraController->permissionStateChanged(PermissionState::requiresApproval);
    cameraController->permissionStateChanged(PermissionState::requiresApproval);
    EXPECT_EQ(recorder->personaCameraExtensionPermissionState(), PermissionState::requiresApproval);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::personaCameraExtensionPermissionState), 1);

    // While sharing is on, a permission refresh also asks for the extension's state.
    recorder->refreshPermissionState();
    EXPECT_EQ(cameraController->propertiesRequestCount, 2);

    shareCamera(false);
    EXPECT_FALSE(recorder->isPersonaCameraSharingEnabled());
    EXPECT_EQ(cameraController->activationCount, 1);
    recorder->refreshPermissionState();
    EXPECT_EQ(cameraController->propertiesRequestCount, 2);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::isPersonaCameraSharingEnabled), 2);
}

TEST_F(DeviceSharingTest, CameraIsRequestedOnlyWhileConnectedAndDemandedEachChangeOnceInOrder) {
    cameraController->demandChanged(true);
    EXPECT_THAT(cameraFeeder->feeding, ElementsAre(true));
    settle();
    EXPECT_THAT(session->cameraRequests, IsEmpty()) << "nothing is asked for without a headset";

    connectHeadset();
    cameraController->demandChanged(true);
    cameraController->demandChanged(false);
    cameraController->demandChanged(true);
    settle();
    EXPECT_THAT(cameraFeeder->feeding, ElementsAre(true, false, true));
    EXPECT_THAT(session->cameraRequests, ElementsAre(Request{true, 1}, Request{false, 2}, Request{true, 3}));

    endSession();
    endSession(State::listening());
    EXPECT_THAT(session->cameraRequests,
                ElementsAre(Request{true, 1}, Request{false, 2}, Request{true, 3}, Request{false, 4}));
    EXPECT_FALSE(recorder->isPersonaCameraTransportRequested());
}

// Microphone passthrough.

TEST_F(DeviceSharingTest, SharingReportsFromTheSessionReachTheRecorder) {
    connectHeadset();
    session->personaCameraSharingStates().yield(true);
    session->microphoneSharingStates().yield(true);
    waitFor([&] { return recorder->isPersonaCameraSharingEnabled() && microphone->isPublished(); });
    EXPECT_TRUE(recorder->isPersonaCameraSharingEnabled());
    EXPECT_TRUE(recorder->isMicrophoneSharingEnabled());
    EXPECT_TRUE(microphone->isPublished());
}

TEST_F(DeviceSharingTest, MicrophoneSharingWithoutAHeadsetStopsThePassthrough) {
    demandMicrophone(true);
    shareMicrophone(true);
    EXPECT_TRUE(recorder->isMicrophoneSharingEnabled());
    EXPECT_EQ(microphone->publishCount, 0);
    EXPECT_EQ(microphone->stopCount, 1);
    EXPECT_THAT(session->microphoneRequests, IsEmpty());
    EXPECT_THAT(timing->microphoneDemands, ElementsAre(false, false));
}

TEST_F(DeviceSharingTest, ConnectedSharingAndDemandPublishRequestAndEndWithTheSession) {
    shareMicrophone(true);
    connectHeadset();
    EXPECT_EQ(microphone->publishCount, 1);
    EXPECT_TRUE(recorder->isVirtualMicrophonePassthroughDesired());
    EXPECT_THAT(session->microphoneRequests, IsEmpty()) << "no application reads the microphone yet";

    demandMicrophone(true);
    EXPECT_THAT(session->microphoneRequests, ElementsAre(Request{true, 1}));
    EXPECT_TRUE(timing->microphoneDemands.back());
    // Sharing reported again: the running passthrough is kept.
    shareMicrophone(true);
    EXPECT_EQ(microphone->publishCount, 1);

    const int resetsBefore = timing->resetCount;
    const int stopsBefore = microphone->stopCount;
    endSession(State::failed("Connection lost"));
    EXPECT_FALSE(recorder->isVirtualMicrophonePassthroughDesired());
    EXPECT_EQ(microphone->stopCount, stopsBefore + 1);
    EXPECT_THAT(session->microphoneRequests, ElementsAre(Request{true, 1}, Request{false, 2}));
    EXPECT_FALSE(timing->microphoneDemands.back());
    EXPECT_EQ(timing->resetCount, resetsBefore + 1);

    // Local Network denial ends the session too, but keeps the media timing.
    connectHeadset();
    endSession(State::localNetworkPermissionDenied());
    EXPECT_EQ(timing->resetCount, resetsBefore + 1);
}

TEST_F(DeviceSharingTest, FailedStartShowsTheErrorAndLogsIt) {
    ScopedLogCapture logs;
    microphone->publishFailure =
        VirtualMicrophoneDeviceError{VirtualMicrophoneDeviceError::Kind::publishDriver, -50};
    shareMicrophone(true);
    connectHeadset();
    EXPECT_FALSE(recorder->isVirtualMicrophonePassthroughDesired());
    EXPECT_EQ(recorder->virtualMicrophoneErrorMessage(),
              std::optional<std::string>("Could not make Quillbridge Microphone available (-50)."));
    EXPECT_THAT(logs.messages("ScreenRecorder"),
                ::testing::Contains("Could not start microphone passthrough: Could not make Quillbridge "
                                    "Microphone available (-50)."));

    // Sharing turned off clears the message; the session's end clears it too.
    shareMicrophone(false);
    EXPECT_FALSE(recorder->virtualMicrophoneErrorMessage().has_value());
    microphone->publishFailure =
        VirtualMicrophoneDeviceError{VirtualMicrophoneDeviceError::Kind::driverNotInstalled};
    shareMicrophone(true);
    EXPECT_EQ(recorder->virtualMicrophoneErrorMessage(),
              std::optional<std::string>(
                  "Quillbridge Microphone must be installed before microphone sharing can be used."));
    endSession();
    EXPECT_FALSE(recorder->virtualMicrophoneErrorMessage().has_value());
}

TEST_F(DeviceSharingTest, AStopDuringAStartMakesItsResultStaleAndASecondStartReturnsAtOnce) {
    connectHeadset();
    holdPublication();
    microphone->publishFailure =
        VirtualMicrophoneDeviceError{VirtualMicrophoneDeviceError::Kind::driverDeviceUnavailable};
    bool started = false;
    bool startedAgain = false;
    bool stopped = false;
    asio::co_spawn(context, recorder->startVirtualMicrophonePassthrough(),
                   [&](std::exception_ptr) { started = true; });
    asio::co_spawn(context, recorder->startVirtualMicrophonePassthrough(),
                   [&](std::exception_ptr) { startedAgain = true; });
    settle();
    EXPECT_TRUE(startedAgain);
    EXPECT_FALSE(started);
    asio::co_spawn(context, recorder->stopVirtualMicrophonePassthrough(),
                   [&](std::exception_ptr) { stopped = true; });
    settle();
    release();
    waitFor([&] { return started && stopped; });
    ASSERT_TRUE(started && stopped);
    EXPECT_EQ(microphone->publishCount, 1);
    EXPECT_EQ(microphone->stopCount, 1);
    EXPECT_FALSE(recorder->isVirtualMicrophonePassthroughDesired());
    EXPECT_FALSE(recorder->virtualMicrophoneErrorMessage().has_value()) << "the stale failure is not shown";
}

// Microphone packets.

TEST_F(DeviceSharingTest, OnlyMono48kHzPacketsWithFourBytesAFrameReachARenderingDevice) {
    struct Row {
        const char* name;
        VirtualMicrophonePacket packet;
        bool rendering;
        bool submitted;
    };
    auto shortPayload = packet(480);
    shortPayload.payload.pop_back();
    auto negativeFrames = packet(0);
    negativeFrames.frameCount = -1;
    const std::vector<Row> rows{
        {"mono 48 kHz", packet(480), true, true},
        {"44.1 kHz", packet(480, false, {44100, 1}), true, false},
        {"stereo", packet(480, false, {48000, 2}), true, false},
        {"payload short of a byte", shortPayload, true, false},
        {"negative frame count", negativeFrames, true, false},
        {"renderer stopped", packet(480), false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeVirtualMicrophoneDevice device;
        device.rendererRunning = row.rendering;
        ScreenRecorder::consumeMicrophonePacket(device, row.packet);
        EXPECT_EQ(device.submissions.size(), row.submitted ? 1u : 0u);
        EXPECT_EQ(device.generation, 0u);
    }

    FakeVirtualMicrophoneDevice device;
    ScreenRecorder::consumeMicrophonePacket(device, packet(480));
    EXPECT_THAT(device.submissions,
                ElementsAre(FakeVirtualMicrophoneDevice::Submission{1000, 2000, 960, 480, 1920}));
}

TEST_F(DeviceSharingTest, ANewTimelineAdvancesTheGenerationEvenWhenDroppedAndWrapsToOne) {
    FakeVirtualMicrophoneDevice device;
    device.rendererRunning = false;
    ScreenRecorder::consumeMicrophonePacket(device, packet(480, true));
    EXPECT_EQ(device.generation, 1u);
    device.generation = std::numeric_limits<std::uint64_t>::max();
    ScreenRecorder::consumeMicrophonePacket(device, packet(480, true, {44100, 2}));
    EXPECT_EQ(device.generation, 1u);
    EXPECT_EQ(ScreenRecorder::nextHalAudioGeneration(0), 1u);
    EXPECT_EQ(ScreenRecorder::nextHalAudioGeneration(41), 42u);
}

TEST_F(DeviceSharingTest, PacketsReachTheDeviceInOrderThroughTheMailbox) {
    for (std::int64_t frames : {480, 240, 960}) {
        EXPECT_TRUE(recorder->enqueueMicrophonePacket(packet(frames)));
    }
    waitFor([&] {
        std::lock_guard lock(microphone->mutex);
        return microphone->submissions.size() == 3;
    });
    std::lock_guard lock(microphone->mutex);
    ASSERT_EQ(microphone->submissions.size(), 3u);
    EXPECT_EQ(microphone->submissions[0].frameCount, 480);
    EXPECT_EQ(microphone->submissions[1].frameCount, 240);
    EXPECT_EQ(microphone->submissions[2].frameCount, 960);
}

TEST_F(DeviceSharingTest, WithdrawnDemandEmptiesTheMailboxAndStartsANewTimeline) {
    shareMicrophone(true);
    connectHeadset();
    demandMicrophone(true);
    // Hold the microphone queue so that packets wait in the mailbox.
    run(recorder->stopVirtualMicrophonePassthrough());
    holdPublication();
    bool started = false;
    asio::co_spawn(context, recorder->startVirtualMicrophonePassthrough(),
                   [&](std::exception_ptr) { started = true; });
    settle();
    const std::uint64_t generationBefore = microphone->halAudioGeneration();
    // 4 x 960 frames: the oldest is dropped to keep at most 2880 waiting.
    for (int index = 0; index < 4; ++index) {
        recorder->enqueueMicrophonePacket(packet(960));
    }
    EXPECT_EQ(recorder->virtualMicrophoneAudioDispatcher().pendingFrameCount(), 2880);
    EXPECT_EQ(recorder->virtualMicrophoneAudioDispatcher().pendingPacketCount(), 3u);

    demandMicrophone(false);
    EXPECT_EQ(recorder->virtualMicrophoneAudioDispatcher().pendingPacketCount(), 0u);
    EXPECT_FALSE(timing->microphoneDemands.back());
    release();
    waitFor([&] { return started && microphone->halAudioGeneration() == generationBefore + 1; });
    std::lock_guard lock(microphone->mutex);
    EXPECT_THAT(microphone->submissions, IsEmpty());
    EXPECT_EQ(microphone->generation, generationBefore + 1);
}

}  // namespace
}  // namespace quillbridge
