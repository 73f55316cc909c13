#include "platform/linux/host/DesktopSystemServices.hpp"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
            output += buffer;
        pclose(pipe);
    }
    return output;
}

// Sets an environment variable for the test's scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnvironment() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

TEST(LogindSessionLockerTest, LocksTheSessionThroughLogindAgainAndAgain) {
    if (std::getenv("QUILLBRIDGE_TEST_LOGIND") == nullptr)
        GTEST_SKIP() << "needs the logind mock: run through tests/support/run-desktop-services.sh --logind";
    run("gdbus call --system --dest org.freedesktop.login1 --object-path /org/freedesktop/login1 "
        "--method org.freedesktop.DBus.Mock.AddSession c7 seat0 1000 tester true");
    ScopedEnvironment session("XDG_SESSION_ID", "c7");
    DesktopSystemServices services;
    // The second lock goes over the connection the first one opened.
    EXPECT_TRUE(services.lockScreen());
    EXPECT_TRUE(services.lockScreen());
    std::string calls =
        run("gdbus call --system --dest org.freedesktop.login1 --object-path "
            "/org/freedesktop/login1/session/c7 --method org.freedesktop.DBus.Mock.GetCalls");
    EXPECT_EQ(occurrences(calls, "'Lock'"), 2u) << calls;
}

TEST(LogindSessionLockerTest, MissingSessionOrBusIsAFailure) {
    if (std::getenv("QUILLBRIDGE_TEST_LOGIND") == nullptr)
        GTEST_SKIP() << "needs the logind mock: run through tests/support/run-desktop-services.sh --logind";
    {
        LogindSessionLocker locker;
        ScopedEnvironment session("XDG_SESSION_ID", "no-such-session");
        EXPECT_FALSE(locker.lockSession());
        EXPECT_FALSE(locker.lastError().empty());
    }
    // A locker keeps its connection: only a new one looks for the bus again.
    ScopedEnvironment bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quillbridge-bus");
    LogindSessionLocker locker;
    EXPECT_FALSE(locker.lockSession());
    EXPECT_NE(locker.lastError().find("no system bus"), std::string::npos) << locker.lastError();
}

TEST(PulseOutputVolumeTest, StepsTheDefaultOutputAndTogglesMute) {
    if (std::getenv("QUILLBRIDGE_TEST_PULSE") == nullptr)
        GTEST_SKIP() << "needs a sound server: run through tests/support/run-desktop-services.sh --pulse";
    PulseOutputVolume volume;
    auto before = volume.defaultOutput();
    ASSERT_TRUE(before);
    EXPECT_EQ(before->sinkName, "quillbridge_sink_a");
    ASSERT_TRUE(volume.lowerVolume());
    ASSERT_TRUE(volume.lowerVolume());
    EXPECT_NEAR(volume.defaultOutput()->volumeFraction,
                before->volumeFraction - 2 * PulseOutputVolume::stepFraction, 0.01);
    for (int step = 0; step < 4; ++step)
        ASSERT_TRUE(volume.raiseVolume());
    EXPECT_NEAR(volume.defaultOutput()->volumeFraction, 1.0, 0.001) << "raising stops at the normal volume";
    bool wasMuted = volume.defaultOutput()->muted;
    ASSERT_TRUE(volume.toggleMute());
    EXPECT_EQ(volume.defaultOutput()->muted, !wasMuted);
    ASSERT_TRUE(volume.toggleMute());
    EXPECT_EQ(volume.defaultOutput()->muted, wasMuted);
}

TEST(PulseOutputVolumeTest, WithoutAServerEveryCallFails) {
    ScopedEnvironment server("PULSE_SERVER", "unix:/nonexistent/quillbridge-pulse");
    PulseOutputVolume volume;
    EXPECT_FALSE(volume.raiseVolume());
    EXPECT_FALSE(volume.toggleMute());
    EXPECT_EQ(volume.defaultOutput(), std::nullopt);
}

}  // namespace
}  // namespace quillbridge
