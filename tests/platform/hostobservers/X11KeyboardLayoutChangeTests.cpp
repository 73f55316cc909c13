#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "platform/hostobservers/EventRecorder.hpp"
#include "platform/linux/x11/XkbKeyboard.hpp"
#include "platform/linux/x11/XkbKeyboardLayoutChangeObserver.hpp"
#include "session/ScreenStreamBroadcasterStreamsFixture.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// The X server's core keyboard, to switch its groups as a desktop's layout switcher does.
class GroupSwitcher {
public:
    GroupSwitcher() : connection_(XcbConnection::open()) {
        if (connection_) {
            keyboard_ = XkbKeyboard::open(*connection_);
        }
    }
    // Locks the group of the two that is not in effect now.
    bool switchGroup() {
        auto state = keyboard_ ? keyboard_->lockState() : std::nullopt;
        return state && keyboard_->lockGroup(state->effectiveGroup == 0 ? 1 : 0) == 0;
    }

private:
    std::unique_ptr<XcbConnection> connection_;
    std::unique_ptr<XkbKeyboard> keyboard_;
};

// Waits, with the bound given, until the condition holds; `turn` runs between looks.
bool within(
    std::chrono::milliseconds bound, const std::function<bool()>& condition,
    const std::function<void()>& turn = [] {}) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        turn();
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
}

// The observer connects on its own thread after start() returned: switch between two groups until a
// switch is told, so that what follows is measured against a running observer.
bool switchGroupsUntilTold(
    GroupSwitcher& groups, const std::function<bool()>& told, const std::function<void()>& turn = [] {}) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (!groups.switchGroup()) {
            return false;
        }
        if (within(200ms, told, turn)) {
            return true;
        }
    }
    return false;
}

class X11KeyboardLayoutObserverTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr) {
            GTEST_SKIP() << "needs an X server (run under run-desktop-services.sh --x11)";
        }
        ASSERT_TRUE(runCommand("setxkbmap -layout us,de"));
    }
};

TEST_F(X11KeyboardLayoutObserverTest, GroupSwitchesAndNewLayoutsAreToldButRemappedKeysAreNot) {
    EventRecorder<bool> recorder;
    XkbKeyboardLayoutChangeObserver observer;
    ASSERT_TRUE(observer.start([&] { recorder.add(true); }));
    EXPECT_FALSE(observer.start([] {}));
    GroupSwitcher groups;
    ASSERT_TRUE(switchGroupsUntilTold(groups, [&] { return !recorder.events().empty(); }));

    // A group switch is told once.
    std::this_thread::sleep_for(200ms);
    std::size_t told = recorder.events().size();
    ASSERT_TRUE(groups.switchGroup());
    recorder.waitFor(told + 1);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(recorder.events().size(), told + 1);

    // A key remapped for a moment (as remote text entry does) changes no layout: the group switch after it
    // is the one thing told.
    told = recorder.events().size();
    ASSERT_TRUE(runCommand("xmodmap -e 'keycode 250 = ssharp'"));
    ASSERT_TRUE(runCommand("xmodmap -e 'keycode 250 ='"));
    ASSERT_TRUE(groups.switchGroup());
    recorder.waitFor(told + 1);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(recorder.events().size(), told + 1);

    // Another layout set with setxkbmap is told; setting the same one again is not.
    told = recorder.events().size();
    ASSERT_TRUE(runCommand("setxkbmap -layout fr"));
    EXPECT_GT(recorder.waitFor(told + 1).size(), told);
    std::this_thread::sleep_for(200ms);
    told = recorder.events().size();
    ASSERT_TRUE(runCommand("setxkbmap -layout fr"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(recorder.events().size(), told);

    // Once stopped, nothing more is told.
    observer.stop();
    ASSERT_TRUE(runCommand("setxkbmap -layout us"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(recorder.events().size(), told);
}

// The broadcaster with the real observer: a layout change on the X server restarts its layout refresh.
class X11KeyboardLayoutRefreshTest : public ScreenStreamBroadcasterStreamsFixture {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr) {
            GTEST_SKIP() << "needs an X server (run under run-desktop-services.sh --x11)";
        }
        ASSERT_TRUE(runCommand("setxkbmap -layout us,de"));
        ScreenStreamBroadcasterStreamsFixture::SetUp();
    }

    void adjust(ScreenStreamBroadcasterDependencies& dependencies) override {
        ScreenStreamBroadcasterStreamsFixture::adjust(dependencies);
        dependencies.keyboardLayoutChanges = &observer;
    }

    // Whether the layout refresh started more than `count` times, turning the broadcaster meanwhile.
    bool refreshedBeyond(int count, std::chrono::milliseconds bound = 10s) {
        return within(
            bound, [&] { return keyboard.inputSourceRefreshCount > count; }, [&] { drain(); });
    }

    XkbKeyboardLayoutChangeObserver observer;
};

TEST_F(X11KeyboardLayoutRefreshTest, SetxkbmapAndAGroupSwitchRefreshTheLayout) {
    run(broadcaster->startObservingKeyboardLayoutChanges());
    GroupSwitcher groups;
    ASSERT_TRUE(switchGroupsUntilTold(
        groups, [&] { return keyboard.inputSourceRefreshCount > 0; }, [&] { drain(); }));

    int refreshes = keyboard.inputSourceRefreshCount;
    ASSERT_TRUE(runCommand("setxkbmap -layout de,us"));
    EXPECT_TRUE(refreshedBeyond(refreshes)) << "setxkbmap did not refresh the layout";

    // What setxkbmap set off has run its course before the switch.
    within(
        200ms, [] { return false; }, [&] { drain(); });
    refreshes = keyboard.inputSourceRefreshCount;
    ASSERT_TRUE(groups.switchGroup());
    EXPECT_TRUE(refreshedBeyond(refreshes)) << "the group switch did not refresh the layout";
}

}  // namespace
}  // namespace quillbridge
