#include "input/MacKeyboardLockController.hpp"

#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/input/FakeKeyboardLockPort.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;

class MacKeyboardLockControllerTest : public ::testing::Test {
protected:
    FakeKeyboardLockPort::State state;
    ScopedLogCapture logs;

    std::unique_ptr<MacKeyboardLockController> make() {
        return std::make_unique<MacKeyboardLockController>(std::make_unique<FakeKeyboardLockPort>(state));
    }
    std::vector<std::string> errors() const { return logs.messages("MacKeyboardLockController"); }
};

TEST_F(MacKeyboardLockControllerTest, ReadsTheInitialStateAndTogglesBackAndForth) {
    state.capsLock = true;
    auto controller = make();
    EXPECT_TRUE(controller->cachedCapsLockIsEnabled());
    EXPECT_EQ(controller->toggleCapsLock(), false);
    EXPECT_EQ(controller->toggleCapsLock(), true);
    EXPECT_TRUE(state.capsLock);
    EXPECT_EQ(state.openCalls, 1);
}

TEST_F(MacKeyboardLockControllerTest, RefreshReportsAChangeOnce) {
    auto controller = make();
    EXPECT_EQ(controller->refreshCapsLockState(), std::nullopt);
    state.capsLock = true;  // switched on by a real keyboard
    EXPECT_EQ(controller->refreshCapsLockState(), true);
    EXPECT_EQ(controller->refreshCapsLockState(), std::nullopt);
    state.failReads = true;
    state.capsLock = false;
    EXPECT_EQ(controller->refreshCapsLockState(), std::nullopt);
    EXPECT_TRUE(controller->cachedCapsLockIsEnabled());
}

TEST_F(MacKeyboardLockControllerTest, ToggleUsesTheCacheWhenTheReadFails) {
    auto controller = make();
    state.failReads = true;
    state.capsLock = true;
    EXPECT_EQ(controller->toggleCapsLock(), true) << "opposite of the cached false, not of the unread true";
}

TEST_F(MacKeyboardLockControllerTest, FailuresAreLoggedOnceAndLeaveTheCache) {
    struct Case {
        KeyboardLockPort::OpenResult open;
        const char* message;
    };
    const Case cases[] = {
        {{false, KeyboardLockPort::OpenFailure::serviceUnavailable, 0},
         "IOHIDSystem service is unavailable; Caps Lock cannot be locked"},
        {{false, KeyboardLockPort::OpenFailure::openFailed, -5}, "Failed to open IOHIDSystem: -5"},
    };
    for (const Case& c : cases) {
        logs.clear();
        state.openCalls = 0;
        state.openResult = c.open;
        auto controller = make();
        EXPECT_EQ(controller->toggleCapsLock(), std::nullopt);
        EXPECT_EQ(controller->refreshCapsLockState(), std::nullopt);
        EXPECT_FALSE(controller->setCapsLock(true));
        EXPECT_THAT(errors(), ElementsAre(c.message));
        EXPECT_EQ(state.openCalls, 1);
    }
    logs.clear();
    state.openResult = {true, KeyboardLockPort::OpenFailure::serviceUnavailable, 0};
    state.setStatus = 7;
    auto controller = make();
    EXPECT_EQ(controller->toggleCapsLock(), std::nullopt);
    EXPECT_FALSE(controller->cachedCapsLockIsEnabled());
    EXPECT_THAT(errors(), ElementsAre("Failed to set Caps Lock state: 7"));
}

}  // namespace
}  // namespace quillbridge
