#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScreenRecorderTestFixture.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using State = ScreenRecorderSession::State;

TEST_F(ScreenRecorderTest, HostServicesStartOnlyWhenEverythingAllowsIt) {
    struct Case {
        std::string name;
        bool checksEnabled;
        bool screenGranted;
        bool inputGranted;
        int expectedListenerStarts;
        int expectedStopListening;
    };
    const std::vector<Case> cases{
        {"all granted", true, true, true, 1, 0},
        {"local network handling not enabled yet", false, true, true, 0, 1},
        {"screen capture missing", true, false, true, 0, 1},
        {"synthetic input missing", true, true, false, 0, 1},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        session = std::make_shared<FakeScreenRecorderSession>();
        probe->screenCaptureGranted = testCase.screenGranted;
        probe->syntheticInputGranted = testCase.inputGranted;
        makeRecorder();
        recorder->setLocalNetworkPermissionChecksEnabled(testCase.checksEnabled);
        run(recorder->resolveLocalNetworkPermission());
        EXPECT_EQ(session->count("startListening"), testCase.expectedListenerStarts);
        EXPECT_EQ(session->count("stopListeningIfNotConnected"), testCase.expectedStopListening);
        EXPECT_EQ(recorder->isSetup(), testCase.expectedListenerStarts == 1);
        // Direct calls are refused the same way.
        run(recorder->startHostServicesIfPermitted());
        EXPECT_EQ(session->count("startListening"), 2 * testCase.expectedListenerStarts);
        session->updates().finish();
        session->configurations().finish();
        settle();
    }
}

TEST_F(ScreenRecorderTest, HostServicesWithTheLidClosedAndNoExternalDisplayStopTheSession) {
    lid->lidClosed = true;
    displayConfiguration->externalDisplayOnline = false;
    makeRecorder();
    startServices();
    EXPECT_EQ(session->count("stop"), 1);
    EXPECT_EQ(session->count("startListening"), 0);
    EXPECT_FALSE(recorder->isSetup());
}

TEST_F(ScreenRecorderTest, HostServicesReportTheCapturedDisplay) {
    makeRecorder();
    startServices();
    ASSERT_FALSE(session->displayReports.empty());
    const auto& report = session->displayReports.back();
    EXPECT_EQ(report.displayID, 1u);
    EXPECT_EQ(report.frameRate, 60);
    EXPECT_EQ(report.pixelSize, (CaptureSize{1920, 1080}));
    EXPECT_EQ(recorder->availableDisplays().size(), 2u);
}

TEST_F(ScreenRecorderTest, CanStartStreamingNeedsTheCheckBothGrantsAndTheLocalNetwork) {
    makeRecorder();
    EXPECT_FALSE(recorder->canStartStreaming());
    recorder->refreshPermissionState();
    EXPECT_FALSE(recorder->canStartStreaming());
    report(State::localNetworkPermissionGranted());
    EXPECT_TRUE(recorder->canStartStreaming());
    probe->syntheticInputGranted = false;
    recorder->refreshPermissionState();
    EXPECT_FALSE(recorder->canStartStreaming());
}

TEST_F(ScreenRecorderTest, PermissionUpdatesAlwaysNotify) {
    makeRecorder();
    recorder->refreshPermissionState();
    const int afterFirst = changeCount(ScreenRecorderProperty::permissionIssues);
    EXPECT_EQ(afterFirst, 2);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::hasCompletedMandatoryPermissionCheck), 1);
    recorder->refreshPermissionState();
    EXPECT_EQ(changeCount(ScreenRecorderProperty::permissionIssues), 4);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::hasCompletedMandatoryPermissionCheck), 1);
}

TEST_F(ScreenRecorderTest, CheckingUnchangedGrantsDoesNothing) {
    makeRecorder();
    recorder->setLocalNetworkPermissionChecksEnabled(true);
    run(recorder->checkMandatoryPermissions());  // the first check always resolves
    EXPECT_EQ(session->count("startListening"), 1);
    session->calls.clear();
    run(recorder->checkMandatoryPermissions());
    EXPECT_TRUE(session->calls.empty());
}

TEST_F(ScreenRecorderTest, RevokedScreenCaptureStopsListeningAndIsRecorded) {
    makeRecorder();
    startServices();
    probe->screenCaptureGranted = false;
    run(recorder->checkMandatoryPermissions());
    EXPECT_TRUE(recorder->permissionIssues().contains(MandatoryPermissionIssue::screenAndAudioCapture));
    EXPECT_EQ(session->count("stopListeningIfNotConnected"), 1);
}

TEST_F(ScreenRecorderTest, MissingLocalNetworkRestartsTheListenerOnlyWithoutAConnection) {
    for (const bool connected : {false, true}) {
        SCOPED_TRACE(connected ? "connected" : "idle");
        session = std::make_shared<FakeScreenRecorderSession>();
        makeRecorder();
        recorder->setLocalNetworkPermissionChecksEnabled(true);
        report(State::localNetworkPermissionDenied());
        session->calls.clear();
        session->connected = connected;
        run(recorder->resolveLocalNetworkPermission());
        EXPECT_TRUE(recorder->isResolvingLocalNetworkPermission());
        EXPECT_EQ(session->count("restartListening"), connected ? 0 : 1);
        EXPECT_EQ(session->count("startListening"), 0);
        session->updates().finish();
        session->configurations().finish();
        settle();
    }
}

TEST_F(ScreenRecorderTest, PermissionRequestsAskOnlyWhenNotGranted) {
    makeRecorder();
    recorder->requestScreenCapturePermission();
    recorder->requestAccessibilityPermission();
    EXPECT_EQ(probe->screenCaptureRequests, 0);
    EXPECT_EQ(probe->syntheticInputRequests, 0);

    probe->screenCaptureGranted = false;
    probe->syntheticInputGranted = false;
    recorder->requestScreenCapturePermission();
    recorder->requestAccessibilityPermission();
    EXPECT_EQ(probe->screenCaptureRequests, 1);
    EXPECT_EQ(probe->syntheticInputRequests, 1);
    EXPECT_TRUE(recorder->permissionIssues().contains(MandatoryPermissionIssue::screenAndAudioCapture));
    EXPECT_TRUE(recorder->permissionIssues().contains(MandatoryPermissionIssue::syntheticInput));

    probe->grantOnRequest = true;
    recorder->requestScreenCapturePermission();
    EXPECT_FALSE(recorder->permissionIssues().contains(MandatoryPermissionIssue::screenAndAudioCapture));
}

// Host mute.

StreamConfigurationMessage configurationMuting(bool mutes) {
    StreamConfigurationMessage message;
    message.mutesHostAudio = mutes;
    return message;
}

TEST_F(ScreenRecorderTest, MuteAppliesOncePerConnectionAndRestoresWhatTheUserHad) {
    audio->controls["headphones"].muted = true;  // muted by the user beforehand
    makeRecorder();
    startServices();
    configure(configurationMuting(true));
    EXPECT_FALSE(audio->muted("speakers")) << "nothing is muted before the connection";
    connectHeadset();
    EXPECT_TRUE(audio->muted("speakers"));
    EXPECT_TRUE(audio->muted("headphones"));

    // A later configuration of the same connection does not unmute.
    configure(configurationMuting(false));
    EXPECT_TRUE(audio->muted("speakers"));

    report(State::listening());
    EXPECT_FALSE(audio->muted("speakers"));
    EXPECT_TRUE(audio->muted("headphones"));

    // The next connection applies its own request again.
    configure(configurationMuting(true));
    connectHeadset();
    EXPECT_TRUE(audio->muted("speakers"));
}

TEST_F(ScreenRecorderTest, ConfigurationNotMutingLeavesDevicesAlone) {
    makeRecorder();
    startServices();
    connectHeadset();
    configure(configurationMuting(false));
    EXPECT_FALSE(audio->muted("speakers"));
    EXPECT_FALSE(audio->muted("headphones"));
}

TEST_F(ScreenRecorderTest, ShutdownRestoresTheMute) {
    makeRecorder();
    startServices();
    connectHeadset();
    configure(configurationMuting(true));
    ASSERT_TRUE(audio->muted("speakers"));
    std::optional<bool> mutedWhenSessionStopped;
    std::optional<bool> capturingWhenSessionStopped;
    session->onCall = [&](const std::string& call) {
        if (call == "stop") {
            mutedWhenSessionStopped = audio->muted("speakers");
            capturingWhenSessionStopped = lastStream()->isRunning;
        }
    };
    run(recorder->shutdown());
    // The session is stopped last: after the mute is restored and capture has stopped.
    EXPECT_EQ(mutedWhenSessionStopped, false);
    EXPECT_EQ(capturingWhenSessionStopped, false);
    EXPECT_FALSE(audio->muted("speakers"));
    EXPECT_FALSE(recorder->isRunning());
}

// Stream configuration.

TEST_F(ScreenRecorderTest, HDRSelectsHEVCAndResetsThePipelineOnlyWhenTheModeChanges) {
    makeRecorder();
    startServices();
    connectHeadset();
    session->calls.clear();
    StreamConfigurationMessage message;
    message.isHDREnabled = true;
    message.videoCodec = StreamCodec::h264;
    configure(message);
    EXPECT_EQ(recorder->effectiveVideoCodec(), StreamCodec::hevc);
    EXPECT_EQ(session->callsAmong({"codec=hevc", "codec=h264", "pipelineReset"}),
              (std::vector<std::string>{"codec=hevc", "pipelineReset"}));
    // A new stream for the HDR preset.
    EXPECT_EQ(factory->streams.size(), 2u);
    EXPECT_TRUE(recorder->isRunning());

    session->calls.clear();
    configure(message);
    EXPECT_EQ(session->count("pipelineReset"), 0);
    EXPECT_EQ(factory->streams.size(), 2u);
}

// Power and display reactions.

TEST_F(ScreenRecorderTest, SleepEndsTheSessionButKeepsListeningAndReleasesTheSleepDelayAfterwards) {
    makeRecorder();
    startServices();
    recorder->startHostAvailabilityMonitoring();
    connectHeadset();
    configure(configurationMuting(true));
    ASSERT_TRUE(audio->muted("speakers"));
    power->emit(HostPowerEvent::willSleep);
    EXPECT_EQ(power->sleepDelayReleases, 0) << "released only once streaming is suspended";
    waitFor([&] { return power->sleepDelayReleases == 1; });
    EXPECT_EQ(power->sleepDelayReleases, 1);
    EXPECT_EQ(session->count("endSession"), 1);
    EXPECT_EQ(session->count("stop"), 0);
    EXPECT_FALSE(recorder->isConnected());
    EXPECT_FALSE(recorder->isRunning());
    EXPECT_FALSE(audio->muted("speakers"));
}

TEST_F(ScreenRecorderTest, ScreenSleepSuspendsOnlyWhenTheDisplayCannotBeKeptAwake) {
    struct Case {
        bool connected;
        bool staysAwake;
        bool suspended;
    };
    for (const auto& testCase :
         std::vector<Case>{{true, true, false}, {true, false, true}, {false, true, true}}) {
        session = std::make_shared<FakeScreenRecorderSession>();
        power = std::make_shared<FakeHostPowerEventSource>();
        makeRecorder();
        startServices();
        recorder->startHostAvailabilityMonitoring();
        if (testCase.connected) {
            connectHeadset();
        }
        session->displayStaysAwake = testCase.staysAwake;
        run(recorder->handlePowerEvent(HostPowerEvent::screensDidSleep, SleepDelayRelease()));
        EXPECT_EQ(session->count("wakeDisplay"), 1);
        EXPECT_EQ(recorder->isConnected(), testCase.connected && !testCase.suspended);
        EXPECT_EQ(recorder->isRunning(), testCase.connected && !testCase.suspended);
        session->updates().finish();
        session->configurations().finish();
        settle();
        recorder.reset();
        settle();
    }
}

TEST_F(ScreenRecorderTest, WakeBringsTheServicesBack) {
    makeRecorder();
    recorder->setLocalNetworkPermissionChecksEnabled(true);
    recorder->startHostAvailabilityMonitoring();
    power->emit(HostPowerEvent::didWake);
    waitFor([&] { return session->count("startListening") == 1; });
    EXPECT_EQ(session->count("startListening"), 1);
}

TEST_F(ScreenRecorderTest, ABurstOfDisplayChangesRefreshesOnceAfterTheLast) {
    makeRecorder();
    startServices();
    recorder->startHostAvailabilityMonitoring();
    const int queriesBefore = displays->queries;
    session->calls.clear();
    for (int change = 0; change < 5; ++change) {
        displayConfiguration->change(true);
        settle();
        clock->advance(std::chrono::milliseconds(100));
        settle();
    }
    // Every change re-evaluated the lid (and, with it open, resolved the permissions again).
    EXPECT_EQ(session->count("startListening"), 5);
    EXPECT_EQ(displays->queries, queriesBefore);
    clock->advance(std::chrono::milliseconds(150));
    settle();
    EXPECT_EQ(displays->queries, queriesBefore + 1);
}

TEST_F(ScreenRecorderTest, ANewDisplaySignatureRestartsRunningCapture) {
    makeRecorder();
    startServices();
    connectHeadset();
    ASSERT_EQ(factory->streams.size(), 1u);
    displays->displays[0] = makeTestDisplay(1, 1280, 720);
    run(recorder->refreshAvailableContent());
    EXPECT_EQ(factory->streams.size(), 2u);
    EXPECT_TRUE(recorder->isRunning());
    EXPECT_EQ(lastStream()->configuration.width, 1280u);
}

}  // namespace
}  // namespace quillbridge
