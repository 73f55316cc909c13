#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "X11TestWindow.hpp"
#include "core/ManualClock.hpp"
#include "input/KeyboardLayoutProbe.hpp"
#include "input/MacKeyboardInputSourceSwitcher.hpp"
#include "input/MacKeyboardLockController.hpp"
#include "input/MediaKeyType.hpp"
#include "input/RemoteKeyboardController.hpp"
#include "input/RemoteMouseController.hpp"
#include "platform/linux/x11/XTestInputPoster.hpp"
#include "platform/linux/x11/XkbKeyboardLayouts.hpp"
#include "platform/linux/x11/XkbKeyboardLockPort.hpp"
#include "support/FakeDefaultsStore.hpp"

namespace quillbridge {
namespace {

using Kind = ReceivedInputEvent::Kind;

bool setLayouts(const std::string& arguments) {
    std::string command = "setxkbmap " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// One X server for the suite (started by the test script); each test starts from the US layout.
class XTestInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr)
            GTEST_SKIP() << "needs Xvfb: run through tests/support/run-desktop-services.sh --x11";
        ASSERT_TRUE(setLayouts("-layout us -option ''"));
        window = X11TestWindow::open();
        poster = XTestInputPoster::open();
        layouts = XkbKeyboardLayouts::open();
        ASSERT_TRUE(window && poster && layouts);
        keyboard = std::make_unique<RemoteKeyboardController>(RemoteKeyboardController::Dependencies{
            *poster,
            *poster,
            *layouts,
            clock,
            std::make_unique<MacKeyboardLockController>(std::make_unique<XkbKeyboardLockPort>()),
            std::make_unique<MacKeyboardInputSourceSwitcher>(*layouts, defaults),
            {}});
        mouse = std::make_unique<RemoteMouseController>(*poster, *poster, clock);
        mouse->capturedDisplayFrame = {0, 0, 1920, 1080};
    }

    void TearDown() override {
        if (keyboard) {
            keyboard->releaseAllKeys();
            keyboard->lockController().setCapsLock(false);
        }
    }

    std::vector<std::uint32_t> pressedButtons() {
        std::vector<std::uint32_t> buttons;
        for (const auto& event : window->drain()) {
            if (event.kind == Kind::buttonPress)
                buttons.push_back(event.detail);
        }
        return buttons;
    }

    std::vector<std::pair<Kind, xkb_keysym_t>> keyEvents() {
        std::vector<std::pair<Kind, xkb_keysym_t>> keys;
        for (const auto& event : window->drain()) {
            if (event.kind == Kind::keyPress || event.kind == Kind::keyRelease)
                keys.emplace_back(event.kind, window->keysym(event));
        }
        return keys;
    }

    ManualClock clock;
    FakeDefaultsStore defaults;
    std::unique_ptr<X11TestWindow> window;
    std::unique_ptr<XTestInputPoster> poster;
    std::unique_ptr<XkbKeyboardLayouts> layouts;
    std::unique_ptr<RemoteKeyboardController> keyboard;
    std::unique_ptr<RemoteMouseController> mouse;
};

TEST_F(XTestInputTest, PermissionIsTheXTestExtension) {
    EXPECT_TRUE(poster->isSyntheticInputAllowed());
    EXPECT_TRUE(poster->desktopRepeatsHeldKeys());
}

TEST_F(XTestInputTest, ButtonsArriveWithTheirXNumbers) {
    mouse->moveTo(0.5, 0.5);
    for (MouseButton button : {MouseButton::primary, MouseButton::secondary, MouseButton::middle,
                               MouseButton::back, MouseButton::forward}) {
        mouse->handleButton(button, MouseButtonPhase::pressed);
        mouse->handleButton(button, MouseButtonPhase::released);
    }
    ASSERT_TRUE(window->waitFor([](const auto& events) {
        return std::count_if(events.begin(), events.end(),
                             [](auto& e) { return e.kind == Kind::buttonRelease; }) == 5;
    }));
    EXPECT_EQ(pressedButtons(), (std::vector<std::uint32_t>{1, 3, 2, 8, 9}));
    EXPECT_EQ(poster->cursorLocation(), (DisplayPoint{960, 540}));
}

TEST_F(XTestInputTest, MovesPlaceThePointerAndPixelScrollsBecomeWheelClicks) {
    mouse->moveTo(0, 0);
    mouse->moveBy(100.4, 50.7);
    mouse->moveBy(0.6, 0.3);
    EXPECT_EQ(poster->cursorLocation(), (DisplayPoint{101, 51}));

    mouse->scroll(0, 0, MouseScrollPhase::mayBegin, MouseScrollMomentumPhase::none);
    mouse->scroll(0, 45, MouseScrollPhase::began, MouseScrollMomentumPhase::none);
    mouse->scroll(0, 20, MouseScrollPhase::changed, MouseScrollMomentumPhase::none);  // 65: two detents
    mouse->scroll(0, 0, MouseScrollPhase::ended, MouseScrollMomentumPhase::none);
    mouse->scroll(0, -29, MouseScrollPhase::none, MouseScrollMomentumPhase::begin);
    mouse->scroll(0, -1, MouseScrollPhase::none, MouseScrollMomentumPhase::continuous);
    mouse->scroll(31, 0, MouseScrollPhase::none, MouseScrollMomentumPhase::continuous);
    mouse->scroll(-60, 0, MouseScrollPhase::none, MouseScrollMomentumPhase::continuous);
    mouse->scroll(0, 0, MouseScrollPhase::none, MouseScrollMomentumPhase::end);
    ASSERT_TRUE(window->waitFor([](const auto& events) {
        return std::count_if(events.begin(), events.end(),
                             [](auto& e) { return e.kind == Kind::buttonRelease; }) >= 5;
    }));
    EXPECT_EQ(pressedButtons(), (std::vector<std::uint32_t>{4, 4, 5, 6, 7}));
}

TEST_F(XTestInputTest, ModifiersMapToTheDesktopKeysAndSharedKeysReleaseLast) {
    keyboard->handleKey(RemoteKeyboardKey::command, KeyboardEventPhase::pressed);
    keyboard->handleKey(RemoteKeyboardKey::control, KeyboardEventPhase::pressed);
    keyboard->handleKey(RemoteKeyboardKey::control, KeyboardEventPhase::released);
    keyboard->handleKey(RemoteKeyboardKey::v, KeyboardEventPhase::pressed);
    keyboard->handleKey(RemoteKeyboardKey::v, KeyboardEventPhase::released);
    keyboard->handleKey(RemoteKeyboardKey::command, KeyboardEventPhase::released);
    const RemoteKeyboardKey withFn[] = {RemoteKeyboardKey::fn, RemoteKeyboardKey::d};
    keyboard->pressChord(withFn);  // no fn key on X11: nothing is pressed
    const RemoteKeyboardKey chord[] = {RemoteKeyboardKey::option, RemoteKeyboardKey::rightOption,
                                       RemoteKeyboardKey::shift};
    keyboard->pressChord(chord);
    ASSERT_TRUE(window->waitFor([](const auto& events) { return events.size() >= 10; }));
    auto keys = keyEvents();
    std::vector<std::pair<Kind, xkb_keysym_t>> expected = {
        {Kind::keyPress, XKB_KEY_Control_L},
        {Kind::keyPress, XKB_KEY_v},
        {Kind::keyRelease, XKB_KEY_v},
        {Kind::keyRelease, XKB_KEY_Control_L},
        {Kind::keyPress, XKB_KEY_Alt_L},
        {Kind::keyPress, XKB_KEY_ISO_Level3_Shift},
        {Kind::keyPress, XKB_KEY_Shift_L},
        {Kind::keyRelease, XKB_KEY_Shift_L},
        {Kind::keyRelease, XKB_KEY_ISO_Level3_Shift},
        {Kind::keyRelease, XKB_KEY_Alt_L},
    };
    ASSERT_EQ(keys.size(), expected.size());
    for (std::size_t index = 0; index < keys.size(); ++index) {
        EXPECT_EQ(keys[index].first, expected[index].first) << index;
        // Keysyms are read with the modifiers of the event, so compare the unshifted names.
        EXPECT_EQ(xkb_keysym_to_lower(keys[index].second), xkb_keysym_to_lower(expected[index].second))
            << index;
    }
}

TEST_F(XTestInputTest, TypedTextIncludesCharactersOutsideTheLayout) {
    const std::string text = "Hello, w\xC3\xB6rld: \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80!\tEnd\n";
    keyboard->typeText(text);
    ASSERT_TRUE(window->waitFor([&](const auto&) { return window->typedText() == text; }))
        << "typed: " << window->typedText();
}

// Keyboard mapping changes seen by a client that does not use XKB (XKB clients get no core notifications).
int countMappingNotifications(XcbConnection& watcher) {
    auto cookie = xcb_get_input_focus(watcher.get());
    XcbReply<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(watcher.get(), cookie, nullptr));
    int count = 0;
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(watcher.get())}) {
        if ((event->response_type & 0x7F) == XCB_MAPPING_NOTIFY &&
            reinterpret_cast<xcb_mapping_notify_event_t*>(event.get())->request == XCB_MAPPING_KEYBOARD)
            ++count;
    }
    return count;
}

TEST_F(XTestInputTest, RepeatedCharactersOutsideTheLayoutReuseTheirSpareKeycode) {
    auto watcher = XcbConnection::open();
    ASSERT_TRUE(watcher);
    countMappingNotifications(*watcher);
    const std::string text = "\xC3\xA9\xE2\x82\xAC\xC3\xA9\xE2\x82\xAC\xC3\xA9\xE2\x82\xAC";  // é€é€é€
    keyboard->typeText(text);
    ASSERT_TRUE(window->waitFor([&](const auto&) { return window->typedText() == text; }))
        << "typed: " << window->typedText();
    EXPECT_EQ(countMappingNotifications(*watcher), 2) << "one mapping per distinct character";
}

TEST_F(XTestInputTest, TextTypedRightAfterALayoutChangeUsesTheNewLayout) {
    keyboard->typeText("yz");
    ASSERT_TRUE(window->waitFor([&](const auto&) { return window->typedText() == "yz"; }));
    ASSERT_TRUE(setLayouts("-layout de"));
    window->clear();
    keyboard->typeText("yz");
    ASSERT_TRUE(window->waitFor([&](const auto&) { return window->typedText() == "yz"; }))
        << "typed: " << window->typedText();
}

TEST_F(XTestInputTest, TypedTextIsRightWithCapsLockOn) {
    ASSERT_TRUE(keyboard->lockController().setCapsLock(true));
    keyboard->typeText("aB");
    ASSERT_TRUE(window->waitFor([&](const auto&) { return window->typedText() == "aB"; }))
        << "typed: " << window->typedText();
}

TEST_F(XTestInputTest, CapsLockIsSetAndReadBack) {
    MacKeyboardLockController& lock = keyboard->lockController();
    EXPECT_FALSE(lock.cachedCapsLockIsEnabled());
    EXPECT_EQ(lock.toggleCapsLock(), true);
    XkbKeyboardLockPort reader;
    ASSERT_TRUE(reader.open().opened);
    EXPECT_EQ(reader.readCapsLock(), true);
    EXPECT_EQ(reader.setCapsLock(false), 0);
    EXPECT_EQ(lock.refreshCapsLockState(), false);
    keyboard->handleKey(RemoteKeyboardKey::capsLock, KeyboardEventPhase::pressed);
    keyboard->handleKey(RemoteKeyboardKey::capsLock, KeyboardEventPhase::released);
    EXPECT_EQ(reader.readCapsLock(), true);
    EXPECT_TRUE(keyboard->capsLockStatus().capsLock);
}

TEST_F(XTestInputTest, ProbeAndSwitcherFollowTheLayouts) {
    ASSERT_TRUE(setLayouts("-layout us,de,ru -option grp:caps_toggle"));
    auto ids = layouts->identities();
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids[0].inputSourceID, "xkb:us");
    EXPECT_EQ(ids[1].inputSourceID, "xkb:de");
    EXPECT_EQ(ids[2].languages, (std::vector<std::string>{"ru"}));
    EXPECT_FALSE(ids[1].localizedName.empty());

    struct Case {
        const char* id;
        RemoteKeyboardKey key;
        const char* normal;
        const char* shift;
        bool asciiCapable;
    };
    const Case cases[] = {
        {"xkb:us", RemoteKeyboardKey::y, "y", "Y", true},
        {"xkb:de", RemoteKeyboardKey::y, "z", "Z", true},
        {"xkb:ru", RemoteKeyboardKey::a, "\xD1\x84", "\xD0\xA4", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_EQ(layouts->selectInputSource(c.id), 0);
        auto current = layouts->currentKeyboardInputSource();
        ASSERT_TRUE(current);
        EXPECT_EQ(current->inputSourceID, c.id);
        EXPECT_EQ(current->isASCIICapable, c.asciiCapable);
        auto snapshot = keyboard->keyboardLayoutSnapshot(std::nullopt, KeyboardTypePreference::automatic);
        ASSERT_TRUE(snapshot);
        EXPECT_EQ(snapshot->inputSourceID, c.id);
        auto entry = std::find_if(snapshot->labels.begin(), snapshot->labels.end(),
                                  [&](const auto& label) { return label.key == c.key; });
        ASSERT_NE(entry, snapshot->labels.end());
        EXPECT_EQ(entry->labels.normal, c.normal);
        EXPECT_EQ(entry->labels.shift, c.shift);
        EXPECT_EQ(entry->labels.caps, c.shift);
    }

    // German: the key left of 1 is a dead circumflex, and AltGr+E gives the euro sign.
    ASSERT_EQ(layouts->selectInputSource("xkb:de"), 0);
    auto german = keyboard->keyboardLayoutSnapshot(std::nullopt, KeyboardTypePreference::automatic);
    ASSERT_TRUE(german);
    for (const auto& label : german->labels) {
        if (label.key == RemoteKeyboardKey::grave) {
            EXPECT_TRUE(label.labels.isDeadKey);
            EXPECT_TRUE(label.labels.deadKeyModifiers->contains(KeyboardDeadKeyModifiers::normal));
            EXPECT_EQ(label.labels.normal, "^");
        }
        if (label.key == RemoteKeyboardKey::e) {
            EXPECT_EQ(label.labels.option, "\xE2\x82\xAC");
        }
    }

    // Caps Lock as the language switch: from Russian to the Latin layout and back.
    ASSERT_EQ(layouts->selectInputSource("xkb:ru"), 0);
    keyboard->refreshInputSource();
    EXPECT_EQ(keyboard->capsLockStatus().languageSwitchIsLatin, std::nullopt)
        << "Russian has no Caps switch style";
    keyboard->handleKey(RemoteKeyboardKey::capsLock, KeyboardEventPhase::pressed);
    EXPECT_EQ(layouts->currentKeyboardInputSource()->inputSourceID, "xkb:us");
    keyboard->handleKey(RemoteKeyboardKey::capsLock, KeyboardEventPhase::pressed);
    EXPECT_EQ(layouts->currentKeyboardInputSource()->inputSourceID, "xkb:ru");
    EXPECT_FALSE(keyboard->lockController().cachedCapsLockIsEnabled());
}

TEST_F(XTestInputTest, MediaKeysArriveAsTheirDesktopKeys) {
    keyboard->postMediaKey(MediaKeyType::play, true);
    keyboard->postMediaKey(MediaKeyType::play, false);
    keyboard->postMediaKey(MediaKeyType::missionControl, true);
    keyboard->postMediaKey(MediaKeyType::missionControl, false);
    ASSERT_TRUE(window->waitFor([](const auto& events) { return events.size() >= 4; }));
    auto keys = keyEvents();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].second, XKB_KEY_XF86AudioPlay);
    EXPECT_EQ(keys[2].second, XKB_KEY_XF86LaunchA);
}

}  // namespace
}  // namespace quillbridge
