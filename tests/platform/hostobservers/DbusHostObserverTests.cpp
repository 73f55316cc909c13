#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/hostobservers/EventRecorder.hpp"
#include "platform/linux/dbus/LogindHostPowerEventSource.hpp"
#include "platform/linux/dbus/UPowerLidStateObserver.hpp"

namespace quillbridge {
namespace {

const std::string gdbus = "gdbus call --system ";
const std::string logind = "-d org.freedesktop.login1 -o /org/freedesktop/login1 ";
const std::string upower = "-d org.freedesktop.UPower -o /org/freedesktop/UPower ";

std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    return output;
}

bool emitPrepareForSleep(bool sleeping) {
    return runCommand(
        gdbus + logind +
        "-m org.freedesktop.DBus.Mock.EmitSignal org.freedesktop.login1.Manager PrepareForSleep b "
        "\"[<" +
        (sleeping ? "true" : "false") + ">]\"");
}

// The mock's inhibitors, as gdbus prints them ("([],)" when there are none).
std::string inhibitors() {
    return commandOutput(gdbus + logind + "-m org.freedesktop.login1.Manager.ListInhibitors");
}

struct PowerEvent {
    HostPowerEvent event;
    bool sleepDelayPending;
};

class LogindHostPowerEventSourceTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_LOGIND") == nullptr) {
            GTEST_SKIP() << "needs the logind mock (run under run-desktop-services.sh --logind --upower)";
        }
        static int sessions = 0;
        sessionID_ = "t" + std::to_string(++sessions);
        ASSERT_TRUE(runCommand(gdbus + logind + "-m org.freedesktop.DBus.Mock.AddSession " + sessionID_ +
                               " seat0 1000 tester true"));
    }

    bool setSessionActive(bool active) {
        return runCommand(
            gdbus + "-d org.freedesktop.login1 -o /org/freedesktop/login1/session/" + sessionID_ +
            " -m org.freedesktop.DBus.Properties.Set org.freedesktop.login1.Session Active \"<" +
            (active ? "true" : "false") + ">\"");
    }

    std::string sessionID_;
    EventRecorder<PowerEvent> recorder_;
    // Tokens the handler kept, as a coordinator keeps them until streaming is suspended.
    std::vector<std::shared_ptr<SleepDelayRelease>> tokens_;
    std::mutex tokensMutex_;
};

TEST_F(LogindHostPowerEventSourceTest, SleepIsDelayedUntilTheTokenIsReleasedAndWakeTakesANewDelay) {
    LogindHostPowerEventSource source(recorder_.executor(), sessionID_);
    ASSERT_TRUE(source.start([this](HostPowerEvent event, SleepDelayRelease token) {
        recorder_.add({event, token.isPending()});
        std::lock_guard lock(tokensMutex_);
        tokens_.push_back(std::make_shared<SleepDelayRelease>(std::move(token)));
    }));
    EXPECT_TRUE(source.holdsSleepDelay());
    EXPECT_NE(inhibitors().find("delay"), std::string::npos) << inhibitors();

    ASSERT_TRUE(emitPrepareForSleep(true));
    auto events = recorder_.waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, HostPowerEvent::willSleep);
    EXPECT_TRUE(events[0].sleepDelayPending);
    // Streaming is not suspended yet: logind still waits.
    EXPECT_NE(inhibitors().find("delay"), std::string::npos);

    {
        std::lock_guard lock(tokensMutex_);
        tokens_.at(0)->release();
    }
    EXPECT_TRUE(waitUntil([] { return inhibitors().find("delay") == std::string::npos; })) << inhibitors();

    ASSERT_TRUE(emitPrepareForSleep(false));
    events = recorder_.waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].event, HostPowerEvent::didWake);
    EXPECT_FALSE(events[1].sleepDelayPending);
    EXPECT_TRUE(waitUntil([] { return inhibitors().find("delay") != std::string::npos; }));

    // Stopping lets the system sleep freely again.
    source.stop();
    EXPECT_TRUE(waitUntil([] { return inhibitors().find("delay") == std::string::npos; })) << inhibitors();
}

TEST_F(LogindHostPowerEventSourceTest, SessionSwitchesAreReportedOncePerChange) {
    LogindHostPowerEventSource source(recorder_.executor(), sessionID_);
    ASSERT_TRUE(source.start([this](HostPowerEvent event, SleepDelayRelease token) {
        recorder_.add({event, token.isPending()});
    }));

    ASSERT_TRUE(setSessionActive(false));
    ASSERT_TRUE(setSessionActive(false));  // No change: no event.
    ASSERT_TRUE(setSessionActive(true));
    auto events = recorder_.waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event, HostPowerEvent::sessionDidResignActive);
    EXPECT_EQ(events[1].event, HostPowerEvent::sessionDidBecomeActive);
    EXPECT_FALSE(events[0].sleepDelayPending);

    // Once stopped, nothing more arrives.
    source.stop();
    recorder_.drain();
    ASSERT_TRUE(setSessionActive(false));
    ASSERT_TRUE(emitPrepareForSleep(true));
    ASSERT_TRUE(emitPrepareForSleep(false));
    EXPECT_EQ(recorder_.events().size(), 2u);
}

class UPowerLidStateObserverTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_UPOWER") == nullptr) {
            GTEST_SKIP() << "needs the UPower mock (run under run-desktop-services.sh --logind --upower)";
        }
        ASSERT_TRUE(setLidClosed(false));
    }
    static bool setLidClosed(bool closed) {
        return runCommand(gdbus + upower +
                          "-m org.freedesktop.DBus.Properties.Set org.freedesktop.UPower LidIsClosed \"<" +
                          (closed ? "true" : "false") + ">\"");
    }

    EventRecorder<bool> recorder_;
};

TEST_F(UPowerLidStateObserverTest, FollowsTheLid) {
    UPowerLidStateObserver observer(recorder_.executor());
    EXPECT_FALSE(observer.isLidClosed());
    ASSERT_TRUE(setLidClosed(true));
    EXPECT_TRUE(observer.isLidClosed());  // Asked afresh while not started.

    ASSERT_TRUE(observer.start([&] { recorder_.add(observer.isLidClosed()); }));
    EXPECT_TRUE(observer.isLidClosed());
    ASSERT_TRUE(setLidClosed(false));
    ASSERT_TRUE(setLidClosed(false));
    ASSERT_TRUE(setLidClosed(true));
    EXPECT_EQ(recorder_.waitFor(2), (std::vector<bool>{false, true}));

    observer.stop();
    recorder_.drain();
    ASSERT_TRUE(setLidClosed(false));
    EXPECT_FALSE(observer.isLidClosed());
    EXPECT_EQ(recorder_.events().size(), 2u);
}

}  // namespace
}  // namespace quillbridge
