// The Linux grants from their parts, with a fake display probe and a scripted system-audio check: the
// Wayland session and the system-audio half withhold screen capture, and why is logged once.
#include "platform/linux/host/LinuxMandatoryPermissionProbe.hpp"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "support/FakeHostObservers.hpp"
#include "support/ScopedEnvironment.hpp"

namespace quillbridge {
namespace {

using Outcome = PulseMonitorCaptureCheck::Outcome;
using SessionType = LinuxMandatoryPermissionProbe::SessionType;

// Counts the checks and answers what the test sets.
struct ScriptedAudio {
    Outcome outcome = Outcome::available;
    int checks = 0;
};

std::unique_ptr<LinuxMandatoryPermissionProbe> makeProbe(FakeMandatoryPermissionProbe*& display,
                                                         std::shared_ptr<ScriptedAudio> audio,
                                                         SessionType session) {
    auto owned = std::make_unique<FakeMandatoryPermissionProbe>();
    display = owned.get();
    return std::make_unique<LinuxMandatoryPermissionProbe>(
        std::move(owned),
        [audio] {
            ++audio->checks;
            return audio->outcome;
        },
        session);
}

TEST(LinuxMandatoryPermissionProbeTest, ScreenCaptureNeedsTheDisplayAndSystemAudioOnX11) {
    struct Case {
        std::string name;
        bool displayGrants;
        Outcome audio;
        bool expected;
    };
    const std::vector<Case> cases{
        {"both halves", true, Outcome::available, true},
        {"no sound server", true, Outcome::noServer, false},
        {"no default output", true, Outcome::noDefaultSink, false},
        {"monitor refused", true, Outcome::monitorRefused, false},
        {"display unreadable", false, Outcome::available, false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        auto audio = std::make_shared<ScriptedAudio>();
        audio->outcome = testCase.audio;
        FakeMandatoryPermissionProbe* display = nullptr;
        auto probe = makeProbe(display, audio, SessionType::x11);
        display->screenCaptureGranted = testCase.displayGrants;
        display->syntheticInputGranted = true;
        EXPECT_EQ(probe->isScreenCaptureGranted(), testCase.expected);
        EXPECT_TRUE(probe->isSyntheticInputGranted()) << "input is the display's alone";
        EXPECT_EQ(audio->checks, testCase.displayGrants ? 1 : 0) << "no sound server check without a display";
    }
}

TEST(LinuxMandatoryPermissionProbeTest, AWaylandSessionNeverGrantsScreenCaptureAndSaysWhyOnce) {
    ScopedLogCapture log;
    auto audio = std::make_shared<ScriptedAudio>();
    FakeMandatoryPermissionProbe* display = nullptr;
    auto probe = makeProbe(display, audio, SessionType::wayland);
    EXPECT_FALSE(probe->isScreenCaptureGranted());
    EXPECT_FALSE(probe->isScreenCaptureGranted());
    EXPECT_TRUE(probe->isSyntheticInputGranted());
    EXPECT_EQ(display->screenCaptureChecks, 0) << "a 1x1 grab of the root would succeed under XWayland";
    const auto messages = log.messages("PermissionProbe");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Wayland session"), std::string::npos);
    EXPECT_NE(messages[0].find("\"GNOME on Xorg\""), std::string::npos);
}

TEST(LinuxMandatoryPermissionProbeTest, ASystemAudioFailureIsLoggedOnceUntilItClears) {
    ScopedLogCapture log;
    auto audio = std::make_shared<ScriptedAudio>();
    FakeMandatoryPermissionProbe* display = nullptr;
    auto probe = makeProbe(display, audio, SessionType::x11);
    audio->outcome = Outcome::noServer;
    EXPECT_FALSE(probe->isScreenCaptureGranted());
    EXPECT_FALSE(probe->isScreenCaptureGranted());
    EXPECT_EQ(log.messages("PermissionProbe").size(), 1u);
    audio->outcome = Outcome::monitorRefused;
    EXPECT_FALSE(probe->isScreenCaptureGranted());
    EXPECT_EQ(log.messages("PermissionProbe").size(), 2u) << "another reason";
    audio->outcome = Outcome::available;
    EXPECT_TRUE(probe->isScreenCaptureGranted());
    audio->outcome = Outcome::monitorRefused;
    EXPECT_FALSE(probe->isScreenCaptureGranted());
    const auto messages = log.messages("PermissionProbe");
    ASSERT_EQ(messages.size(), 3u) << "again after a success";
    EXPECT_NE(messages[2].find("the default output's monitor cannot be recorded"), std::string::npos);
}

TEST(LinuxMandatoryPermissionProbeTest, TheSessionTypeComesFromTheEnvironment) {
    struct Case {
        const char* sessionType;
        const char* waylandDisplay;
        SessionType expected;
    };
    const std::vector<Case> cases{
        {"x11", nullptr, SessionType::x11},
        {nullptr, nullptr, SessionType::x11},
        {"tty", "", SessionType::x11},
        {"wayland", nullptr, SessionType::wayland},
        {nullptr, "wayland-0", SessionType::wayland},
        {"x11", "wayland-0", SessionType::wayland},
    };
    for (const auto& testCase : cases) {
        ScopedEnvironment type("XDG_SESSION_TYPE", testCase.sessionType);
        ScopedEnvironment display("WAYLAND_DISPLAY", testCase.waylandDisplay);
        EXPECT_EQ(LinuxMandatoryPermissionProbe::sessionTypeFromEnvironment(), testCase.expected)
            << (testCase.sessionType ? testCase.sessionType : "(unset)") << " / "
            << (testCase.waylandDisplay ? testCase.waylandDisplay : "(unset)");
    }
}

}  // namespace
}  // namespace quillbridge
