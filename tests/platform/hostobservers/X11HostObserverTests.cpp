#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/hostobservers/EventRecorder.hpp"
#include "platform/linux/x11/RandRDisplayChangeObserver.hpp"
#include "platform/linux/x11/X11MandatoryPermissionProbe.hpp"
#include "platform/linux/x11/XScreenSaverPowerEventSource.hpp"

namespace quillbridge {
namespace {

class X11HostObserverTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr) {
            GTEST_SKIP() << "needs an X server (run under run-desktop-services.sh --x11)";
        }
    }
};

TEST_F(X11HostObserverTest, GrantsFollowTheDisplay) {
    X11MandatoryPermissionProbe probe;
    EXPECT_TRUE(probe.isScreenCaptureGranted());
    EXPECT_TRUE(probe.isSyntheticInputGranted());
    probe.requestScreenCaptureAccess();
    probe.requestSyntheticInputAccess();
    EXPECT_TRUE(probe.isScreenCaptureGranted());

    // A display that cannot be opened grants nothing.
    X11MandatoryPermissionProbe missing(":4242");
    EXPECT_FALSE(missing.isScreenCaptureGranted());
    EXPECT_FALSE(missing.isSyntheticInputGranted());
}

TEST_F(X11HostObserverTest, ScreenSaverActivationSleepsAndWakesTheScreens) {
    EventRecorder<HostPowerEvent> recorder;
    XScreenSaverPowerEventSource source(recorder.executor());
    ASSERT_TRUE(runCommand("xset s reset"));
    ASSERT_TRUE(source.start([&](HostPowerEvent event, SleepDelayRelease token) {
        EXPECT_FALSE(token.isPending());
        recorder.add(event);
    }));

    ASSERT_TRUE(runCommand("xset s activate"));
    ASSERT_EQ(recorder.waitFor(1), (std::vector<HostPowerEvent>{HostPowerEvent::screensDidSleep}));
    ASSERT_TRUE(runCommand("xset s reset"));
    EXPECT_EQ(recorder.waitFor(2),
              (std::vector<HostPowerEvent>{HostPowerEvent::screensDidSleep, HostPowerEvent::screensDidWake}));

    source.stop();
    recorder.drain();
    ASSERT_TRUE(runCommand("xset s activate"));
    ASSERT_TRUE(runCommand("xset s reset"));
    EXPECT_EQ(recorder.events().size(), 2u);
}

TEST_F(X11HostObserverTest, ARandRChangeIsReported) {
    EventRecorder<bool> recorder;
    RandRDisplayChangeObserver observer(recorder.executor());
    // Xvfb's one output is not a built-in panel.
    EXPECT_TRUE(observer.isExternalDisplayOnline());
    ASSERT_TRUE(observer.start([&] { recorder.add(true); }));

    // A mode change of the one output, and back.
    ASSERT_TRUE(runCommand("xrandr --newmode quillbridge_small 0 1280 1280 1280 1280 720 720 720 720"));
    ASSERT_TRUE(runCommand("xrandr --addmode screen quillbridge_small"));
    ASSERT_TRUE(runCommand("xrandr --output screen --mode quillbridge_small"));
    EXPECT_GE(recorder.waitFor(1).size(), 1u);
    ASSERT_TRUE(runCommand("xrandr --output screen --mode 1920x1080"));

    // Once stopped, changes are no longer reported.
    observer.stop();
    recorder.drain();
    std::size_t reported = recorder.events().size();
    ASSERT_TRUE(runCommand("xrandr --output screen --mode quillbridge_small"));
    ASSERT_TRUE(runCommand("xrandr --output screen --mode 1920x1080"));
    EXPECT_EQ(recorder.events().size(), reported);

    EXPECT_FALSE(RandRDisplayChangeObserver(recorder.executor(), ":4242").isExternalDisplayOnline());
}

TEST(RandRConnectorNameTest, BuiltInPanels) {
    struct Case {
        const char* name;
        bool builtIn;
    };
    const Case cases[] = {{"eDP-1", true},   {"eDP1", true},    {"LVDS-1", true}, {"lvds1", true},
                          {"DSI-1", true},   {"HDMI-1", false}, {"DP-2", false},  {"DisplayPort-0", false},
                          {"screen", false}, {"", false},       {"VGA-1", false}};
    for (const Case& testCase : cases) {
        EXPECT_EQ(RandRDisplayChangeObserver::isBuiltInConnectorName(testCase.name), testCase.builtIn)
            << testCase.name;
    }
}

}  // namespace
}  // namespace quillbridge
