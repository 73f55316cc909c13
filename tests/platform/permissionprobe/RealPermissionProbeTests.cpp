// The host's grants against a real X server and a real PulseAudio (run under run-desktop-services.sh --x11
// --pulse): granted while both answer; once PulseAudio is stopped, the screen-capture grant is missing.
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/linux/host/CachedMandatoryPermissionProbe.hpp"
#include "platform/linux/host/LinuxMandatoryPermissionProbe.hpp"
#include "platform/linux/pulse/PulseMonitorCaptureCheck.hpp"
#include "platform/linux/x11/X11MandatoryPermissionProbe.hpp"
#include "support/ScopedEnvironment.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Outcome = PulseMonitorCaptureCheck::Outcome;

class RealPermissionProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr ||
            std::getenv("QUILLBRIDGE_TEST_PULSE_PID") == nullptr) {
            GTEST_SKIP()
                << "needs an X server and PulseAudio (run under run-desktop-services.sh --x11 --pulse)";
        }
    }

    static std::unique_ptr<LinuxMandatoryPermissionProbe> makeProbe() {
        return std::make_unique<LinuxMandatoryPermissionProbe>(
            std::make_unique<X11MandatoryPermissionProbe>(), [] { return PulseMonitorCaptureCheck::check(); },
            LinuxMandatoryPermissionProbe::sessionTypeFromEnvironment());
    }
};

TEST_F(RealPermissionProbeTest, TheDefaultOutputsMonitorOpensAndAMissingServerIsSeen) {
    EXPECT_EQ(PulseMonitorCaptureCheck::check(), Outcome::available);
    ScopedEnvironment nowhere("PULSE_SERVER", "unix:/nonexistent/quillbridge/pulse/native");
    EXPECT_EQ(PulseMonitorCaptureCheck::check(), Outcome::noServer);
}

// Last in the suite: it stops the suite's PulseAudio.
TEST_F(RealPermissionProbeTest, StoppingTheSoundServerWithdrawsScreenCapture) {
    auto probe = makeProbe();
    EXPECT_TRUE(probe->isScreenCaptureGranted());
    EXPECT_TRUE(probe->isSyntheticInputGranted());
    {
        ScopedEnvironment wayland("WAYLAND_DISPLAY", "wayland-0");
        EXPECT_FALSE(makeProbe()->isScreenCaptureGranted()) << "a Wayland session";
    }

    // The cached probe the host uses sees the change and reports it.
    int changes = 0;
    CachedMandatoryPermissionProbe cached(makeProbe());
    cached.setChangeHandler([&] { ++changes; });
    ASSERT_TRUE(cached.isScreenCaptureGranted());

    const pid_t pulse = static_cast<pid_t>(std::atoi(std::getenv("QUILLBRIDGE_TEST_PULSE_PID")));
    ASSERT_EQ(::kill(pulse, SIGTERM), 0);
    for (int attempt = 0; attempt < 200 && ::kill(pulse, 0) == 0; ++attempt) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_FALSE(probe->isScreenCaptureGranted());
    EXPECT_TRUE(probe->isSyntheticInputGranted()) << "input does not need the sound server";
    EXPECT_EQ(PulseMonitorCaptureCheck::check(), Outcome::noServer);

    // Each question asks for a fresh reading behind it; the change arrives within a few readings.
    bool granted = true;
    for (int attempt = 0; attempt < 100 && granted; ++attempt) {
        granted = cached.isScreenCaptureGranted();
        if (granted) {
            std::this_thread::sleep_for(20ms);
        }
    }
    EXPECT_FALSE(granted);
    EXPECT_GE(changes, 1);
}

}  // namespace
}  // namespace quillbridge
