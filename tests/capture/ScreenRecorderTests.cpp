#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScreenRecorderTestFixture.hpp"
#include "capture/ScreenRecorder.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using State = ScreenRecorderSession::State;

TEST_F(ScreenRecorderTest, FreshRecorderIsIdleAndUnchecked) {
    makeRecorder();
    EXPECT_EQ(recorder->streamingStatus(), "Idle");
    EXPECT_TRUE(recorder->isResolvingLocalNetworkPermission());
    EXPECT_FALSE(recorder->hasCompletedMandatoryPermissionCheck());
    EXPECT_THAT(recorder->permissionIssues(), IsEmpty());
    EXPECT_FALSE(recorder->canStartStreaming());
    EXPECT_FALSE(recorder->isRunning());
    EXPECT_EQ(recorder->captureSettings(), CaptureSettings{});
    EXPECT_EQ(recorder->requestedVideoCodec(), StreamCodec::h264);
    // Nothing listens yet; the session only learnt the codec.
    EXPECT_THAT(session->calls, ElementsAre("codec=h264"));
    EXPECT_TRUE(changes.empty());
}

TEST_F(ScreenRecorderTest, PeerToPeerPreferenceIsReadFromDefaults) {
    struct Case {
        std::optional<DefaultsValue> stored;
        bool expected;
    };
    const std::vector<Case> cases{{std::nullopt, false},
                                  {DefaultsValue{true}, true},
                                  {DefaultsValue{false}, false},
                                  {DefaultsValue{std::string("yes")}, false}};
    for (const auto& testCase : cases) {
        defaults = std::make_shared<FakeDefaultsStore>();
        if (testCase.stored) {
            defaults->setValue(ScreenRecorder::peerToPeerDefaultsKey, *testCase.stored);
        }
        makeRecorder();
        EXPECT_EQ(recorder->enablePeerToPeer(), testCase.expected);
    }
}

TEST_F(ScreenRecorderTest, PeerToPeerChangeRestartsTheListenerOnlyWhenTheSessionFlagChangesWhileIdle) {
    makeRecorder();
    recorder->setEnablePeerToPeer(true);
    settle();
    EXPECT_EQ(changeCount(ScreenRecorderProperty::enablePeerToPeer), 1);
    EXPECT_EQ(defaults->boolean(ScreenRecorder::peerToPeerDefaultsKey), true);
    EXPECT_TRUE(session->peerToPeer);
    EXPECT_EQ(session->count("restartListening"), 1);

    // The same value: stored again, no notification, no restart.
    defaults->removeValue(ScreenRecorder::peerToPeerDefaultsKey);
    recorder->setEnablePeerToPeer(true);
    settle();
    EXPECT_EQ(changeCount(ScreenRecorderProperty::enablePeerToPeer), 1);
    EXPECT_EQ(defaults->boolean(ScreenRecorder::peerToPeerDefaultsKey), true);
    EXPECT_EQ(session->count("restartListening"), 1);

    // During a session the flag changes but the listener and the connection are left alone.
    session->connected = true;
    recorder->setEnablePeerToPeer(false);
    settle();
    EXPECT_FALSE(session->peerToPeer);
    EXPECT_EQ(session->count("restartListening"), 1);
    EXPECT_EQ(session->count("stop"), 0);
}

TEST_F(ScreenRecorderTest, ObservablePropertiesAnnounceOnlyRealChanges) {
    makeRecorder();
    startServices();
    changes.clear();
    connectHeadset();
    connectHeadset();
    EXPECT_EQ(changeCount(ScreenRecorderProperty::isConnected), 1);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::isRunning), 1);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::streamingStatus), 1);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::localNetworkPermissionIsGranted), 1);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::isResolvingLocalNetworkPermission), 1);

    report(State::listening());
    report(State::listening());
    EXPECT_EQ(changeCount(ScreenRecorderProperty::isConnected), 2);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::isRunning), 2);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::streamingStatus), 2);
    EXPECT_FALSE(recorder->isConnected());
    EXPECT_FALSE(recorder->isRunning());
}

TEST_F(ScreenRecorderTest, SessionStatesFromTheStreamAreApplied) {
    makeRecorder();
    startServices();
    session->connected = true;
    session->updates().yield(State::connected("Headset"));
    waitFor([&] { return recorder->isRunning(); });
    EXPECT_TRUE(recorder->isConnected());
    EXPECT_TRUE(recorder->isRunning());
}

TEST_F(ScreenRecorderTest, LocalNetworkStatesDriveThePermissionFlags) {
    struct Case {
        State state;
        bool resolving;
        bool granted;
        bool issue;
    };
    const std::vector<Case> cases{
        {State::localNetworkPermissionChecking(), true, false, false},
        {State::localNetworkPermissionGranted(), false, true, false},
        {State::localNetworkPermissionCheckFailed("no"), false, false, true},
        {State::localNetworkPermissionDenied(), false, false, true},
        {State::connected("Headset"), false, true, false},
    };
    makeRecorder();
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.state.statusText());
        report(testCase.state);
        EXPECT_EQ(recorder->isResolvingLocalNetworkPermission(), testCase.resolving);
        EXPECT_EQ(recorder->localNetworkPermissionIsGranted(), testCase.granted);
        EXPECT_EQ(recorder->permissionIssues().contains(MandatoryPermissionIssue::localNetwork),
                  testCase.issue);
    }
}

TEST_F(ScreenRecorderTest, GrantedStateKeepsTheStatusText) {
    makeRecorder();
    report(State::listening());
    const auto status = recorder->streamingStatus();
    report(State::localNetworkPermissionGranted());
    EXPECT_EQ(recorder->streamingStatus(), status);
}

}  // namespace
}  // namespace quillbridge
