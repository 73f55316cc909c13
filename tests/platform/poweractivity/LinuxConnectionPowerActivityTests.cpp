#include "platform/linux/dbus/LinuxConnectionPowerActivity.hpp"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/dbus/SdBus.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

struct Inhibitor {
    std::string what;
    std::string who;
    std::string why;
    std::string mode;
};

// logind's list of inhibitor locks, as the (mock) service reports it.
std::vector<Inhibitor> listInhibitors() {
    std::vector<Inhibitor> inhibitors;
    SdBusPointer bus = openSdBus(SdBusKind::system);
    if (!bus) {
        return inhibitors;
    }
    SdBusError error;
    sd_bus_message* rawReply = nullptr;
    if (sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", error.get(), &rawReply,
                           "") < 0) {
        return inhibitors;
    }
    SdBusMessagePointer reply(rawReply);
    sd_bus_message_enter_container(reply.get(), 'a', "(ssssuu)");
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    std::uint32_t uid = 0, pid = 0;
    while (sd_bus_message_read(reply.get(), "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
        inhibitors.push_back({what, who, why, mode});
    }
    return inhibitors;
}

// Waits for a condition of the mock service with a generous bound (it drops a lock in its own main loop).
template <class Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class LinuxConnectionPowerActivityTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_LOGIND") == nullptr) {
            GTEST_SKIP()
                << "needs the mock logind of tests/support/run-desktop-services.sh --system-bus --logind";
        }
    }
};

TEST_F(LinuxConnectionPowerActivityTest, HoldsAnIdleBlockLockUntilTheTokenGoes) {
    LinuxConnectionPowerActivity activity;
    auto token = activity.begin("Active Quillbridge Vision Pro connection");
    ASSERT_NE(token, nullptr);
    const auto inhibitors = listInhibitors();
    ASSERT_EQ(inhibitors.size(), 1u);
    EXPECT_EQ(inhibitors[0].what, "idle");
    EXPECT_EQ(inhibitors[0].who, "Quillbridge");
    EXPECT_EQ(inhibitors[0].why, "Active Quillbridge Vision Pro connection");
    EXPECT_EQ(inhibitors[0].mode, "block");

    token.reset();
    EXPECT_TRUE(eventually([] { return listInhibitors().empty(); }));
}

TEST_F(LinuxConnectionPowerActivityTest, TwoActivitiesAreTwoLocks) {
    LinuxConnectionPowerActivity activity;
    auto first = activity.begin("one");
    auto second = activity.begin("two");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(listInhibitors().size(), 2u);
    first.reset();
    EXPECT_TRUE(eventually([] { return listInhibitors().size() == 1; }));
    EXPECT_EQ(listInhibitors()[0].why, "two");
}

}  // namespace
}  // namespace quillbridge
