#include "input/RemoteKeyboardController.hpp"

#include <chrono>
#include <optional>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "KeyboardTestFixture.hpp"
#include "input/RemoteKeyboardKeyCodes.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using enum RemoteKeyboardKey;
using ::testing::ElementsAre;

struct Posted {
    RemoteKeyboardKey key;
    std::uint16_t code;
    bool isDown;
    std::uint64_t flags;
    bool isFlagsChanged;
    bool operator==(const Posted&) const = default;
};

std::vector<Posted> summary(const std::vector<SyntheticKeyEvent>& events) {
    std::vector<Posted> result;
    for (const auto& event : events)
        result.push_back({event.key, event.virtualKeyCode, event.isDown, event.flags, event.isFlagsChanged});
    return result;
}

class RemoteKeyboardControllerTest : public KeyboardTestFixture {};

TEST(RemoteKeyboardKeyCodesTest, TablesCoverEveryKey) {
    int repeatable = 0;
    int modifiers = 0;
    std::vector<std::uint16_t> codes;
    for (RemoteKeyboardKey key : allEnumCases<RemoteKeyboardKey>()) {
        codes.push_back(virtualKeyCode(key));
        repeatable += isRepeatableKey(key) ? 1 : 0;
        modifiers += isModifierKey(key) ? 1 : 0;
        EXPECT_EQ(modifierFlag(key) != 0, isModifierKey(key));
    }
    EXPECT_EQ(codes.size(), 116u);
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(std::adjacent_find(codes.begin(), codes.end()), codes.end()) << "codes must be distinct";
    EXPECT_EQ(repeatable, 81);
    EXPECT_EQ(modifiers, 9);
    struct Case {
        RemoteKeyboardKey key;
        std::uint16_t code;
        bool repeats;
    };
    for (Case c : {Case{RemoteKeyboardKey::a, 0, true}, Case{q, 12, true}, Case{z, 6, true},
                   Case{escape, 53, false}, Case{f5, 96, false}, Case{shift, 56, false},
                   Case{delete_, 51, true}, Case{forwardDelete, 117, true}, Case{numpadClear, 71, false},
                   Case{numpadEquals, 81, true}, Case{jisKana, 104, false}, Case{jisNumpadComma, 95, true},
                   Case{contextMenu, 110, false}, Case{fn, 63, false}}) {
        EXPECT_EQ(virtualKeyCode(c.key), c.code);
        EXPECT_EQ(isRepeatableKey(c.key), c.repeats);
    }
    EXPECT_EQ(keyboardTypeFor(KeyboardTypePreference::automatic, 0), 1u);
    EXPECT_EQ(keyboardTypeFor(KeyboardTypePreference::automatic, 40), 40u);
    EXPECT_EQ(keyboardTypeFor(KeyboardTypePreference::iso, 40), 4u);
    EXPECT_EQ(keyboardTypeFor(KeyboardTypePreference::jis, 0), 18u);
    EXPECT_EQ(keyboardTypeFor(KeyboardTypePreference::ansi, 18), 1u);
}

TEST_F(RemoteKeyboardControllerTest, EveryEventCarriesTheFullModifierFlags) {
    press(shift);
    release(shift);
    press(command);
    press(rightShift);
    press(z);
    release(z);
    press(rightCommand);
    release(command);
    release(rightCommand);
    release(rightShift);
    EXPECT_THAT(
        summary(keyEvents()),
        ElementsAre(Posted{shift, 56, true, 0x20000, true}, Posted{shift, 56, false, 0, true},
                    Posted{command, 55, true, 0x100000, true}, Posted{rightShift, 60, true, 0x120000, true},
                    Posted{z, 6, true, 0x120000, false}, Posted{z, 6, false, 0x120000, false},
                    Posted{rightCommand, 54, true, 0x120000, true},
                    Posted{command, 55, false, 0x120000, true},
                    Posted{rightCommand, 54, false, 0x20000, true}, Posted{rightShift, 60, false, 0, true}));
    EXPECT_TRUE(keyboard->activeKeyboardKeys().empty());
    EXPECT_TRUE(keyboard->activeModifierKeys().empty());
}

TEST_F(RemoteKeyboardControllerTest, CapsLockStateAddsAlphaShiftAndKeyboardTypeFollowsThePreference) {
    lockState.capsLock = true;
    makeKeyboard();
    keyboard->setKeyboardTypePreference(KeyboardTypePreference::iso);
    press(RemoteKeyboardKey::a);
    auto events = keyEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].flags, keyboardFlagAlphaShift);
    EXPECT_EQ(events[0].keyboardType, 4u);
    EXPECT_FALSE(events[0].isRepeat);
}

TEST_F(RemoteKeyboardControllerTest, SecondPressOfAHeldKeyPostsAgainWithoutDuplicates) {
    press(RemoteKeyboardKey::a);
    press(RemoteKeyboardKey::a);
    EXPECT_EQ(keyEvents().size(), 2u);
    EXPECT_THAT(keyboard->activeKeyboardKeys(), ElementsAre(RemoteKeyboardKey::a));
    EXPECT_THAT(keyboard->repeatingKeys(), ElementsAre(RemoteKeyboardKey::a));
}

TEST_F(RemoteKeyboardControllerTest, RepeatTimingFollowsTheUserSettings) {
    struct Case {
        const char* name;
        KeyRepeatSettings settings;
        Clock::Duration firstRepeat;
        Clock::Duration interval;
    };
    const Case cases[] = {
        {"defaults", {}, 666'666'666ns, 100ms},
        {"15 and 2", {15, 2}, 250ms, 33'333'333ns},
        {"zero repeat falls back", {15, 0}, 250ms, 100ms},
        {"tiny values are floored", {1, 0.1}, 50ms, 10ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        repeatSettings = c.settings;
        makeKeyboard();
        poster.clear();
        press(RemoteKeyboardKey::a);
        advance(c.firstRepeat - 1ms);
        EXPECT_EQ(keyEvents().size(), 1u);
        advance(1ms);
        ASSERT_EQ(keyEvents().size(), 2u);
        EXPECT_TRUE(keyEvents()[1].isRepeat);
        EXPECT_TRUE(keyEvents()[1].isDown);
        advance(c.interval);
        advance(c.interval);
        EXPECT_EQ(keyEvents().size(), 4u);
        release(RemoteKeyboardKey::a);
        advance(10 * c.interval);
        EXPECT_EQ(keyEvents().size(), 5u);
        EXPECT_FALSE(keyEvents().back().isDown);
    }
}

TEST_F(RemoteKeyboardControllerTest, NonRepeatableKeysAndDesktopRepeatStartNoTimer) {
    for (RemoteKeyboardKey key : {escape, f5, shift}) {
        press(key);
        release(key);
    }
    EXPECT_TRUE(keyboard->repeatingKeys().empty());
    poster.repeatsHeldKeys = true;
    press(RemoteKeyboardKey::a);
    EXPECT_TRUE(keyboard->repeatingKeys().empty());
    advance(5s);
    EXPECT_EQ(keyEvents().size(), 7u);
}

TEST_F(RemoteKeyboardControllerTest, ReleaseAllKeysReleasesInReverseOrderAndStopsRepeats) {
    press(RemoteKeyboardKey::a);
    press(shift);
    poster.clear();
    keyboard->releaseAllKeys();
    EXPECT_THAT(summary(keyEvents()), ElementsAre(Posted{shift, 56, false, 0, true},
                                                  Posted{RemoteKeyboardKey::a, 0, false, 0, false}));
    EXPECT_TRUE(keyboard->activeKeyboardKeys().empty());
    EXPECT_TRUE(keyboard->repeatingKeys().empty());
    advance(5s);
    EXPECT_EQ(keyEvents().size(), 2u);
}

TEST_F(RemoteKeyboardControllerTest, ChordsPressInOrderAndReleaseInReverse) {
    const RemoteKeyboardKey chord[] = {control, command, q};
    keyboard->pressChord(chord);
    EXPECT_THAT(
        summary(keyEvents()),
        ElementsAre(Posted{control, 59, true, 0x40000, true}, Posted{command, 55, true, 0x140000, true},
                    Posted{q, 12, true, 0x140000, false}, Posted{q, 12, false, 0x140000, false},
                    Posted{command, 55, false, 0x40000, true}, Posted{control, 59, false, 0, true}));
}

TEST_F(RemoteKeyboardControllerTest, AChordWithAKeyTheDesktopLacksPressesNothing) {
    poster.missingKey = fn;
    const RemoteKeyboardKey chord[] = {fn, d};
    keyboard->pressChord(chord);
    EXPECT_TRUE(keyEvents().empty());
    EXPECT_THAT(errors(),
                ElementsAre("Key chord needs the fn key, which this desktop lacks; nothing is pressed"));
    const RemoteKeyboardKey other[] = {command, d};
    keyboard->pressChord(other);
    EXPECT_EQ(keyEvents().size(), 4u);
}

TEST_F(RemoteKeyboardControllerTest, DeniedPermissionDropsEveryKeyStep) {
    poster.allowed = false;
    const RemoteKeyboardKey chord[] = {command, leftBracket};
    keyboard->pressChord(chord);
    EXPECT_TRUE(keyEvents().empty());
    EXPECT_EQ(errors(), std::vector<std::string>(4, "Synthetic input permission was denied"));
    keyboard->postMediaKey(16, true);
    EXPECT_EQ(poster.eventsOf<RecordedMediaKey>().size(), 1u);
}

TEST_F(RemoteKeyboardControllerTest, FailedKeyDownStillCountsTheKeyAsHeld) {
    poster.failKeyEvents = true;
    press(RemoteKeyboardKey::a);
    EXPECT_THAT(keyboard->activeKeyboardKeys(), ElementsAre(RemoteKeyboardKey::a));
    EXPECT_THAT(keyboard->repeatingKeys(), ElementsAre(RemoteKeyboardKey::a));
    poster.failKeyEvents = false;
    release(RemoteKeyboardKey::a);
    EXPECT_EQ(keyEvents().size(), 1u);
    EXPECT_THAT(errors(), ElementsAre("Failed to create synthetic keyboard event"));
    poster.failMediaKeys = true;
    keyboard->postMediaKey(0, true);
    EXPECT_THAT(errors(),
                ElementsAre("Failed to create synthetic keyboard event", "Failed to create media key event"));
}

TEST_F(RemoteKeyboardControllerTest, CapsLockTogglesTheLockStateAndReportsOnce) {
    std::vector<KeyboardLockStateMessage> reports;
    keyboard->setLockStateDidChange([&](KeyboardLockStateMessage message) { reports.push_back(message); });
    press(capsLock);
    release(capsLock);
    EXPECT_TRUE(keyEvents().empty());
    EXPECT_TRUE(lockState.capsLock);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].capsLock);
    EXPECT_EQ(reports[0].languageSwitchIsLatin, std::nullopt);
    press(RemoteKeyboardKey::a);
    EXPECT_EQ(keyEvents().back().flags, keyboardFlagAlphaShift);
    press(capsLock);
    EXPECT_FALSE(lockState.capsLock);
    EXPECT_EQ(reports.size(), 2u);
    keyboard->setLockStateDidChange(nullptr);
    press(capsLock);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_TRUE(keyboard->capsLockStatus().capsLock);
}

TEST_F(RemoteKeyboardControllerTest, CapsLockSwitchesInputSourceWhereCapsIsTheLanguageSwitch) {
    sources.romanSwitch = true;
    sources.sources = {FakeKeyboardInputSourcePort::latin("xkb:us"),
                       FakeKeyboardInputSourcePort::nonLatin("xkb:cn:pinyin", {"zh"})};
    sources.currentID = "xkb:cn:pinyin";
    std::vector<KeyboardLockStateMessage> reports;
    keyboard->setLockStateDidChange([&](KeyboardLockStateMessage message) { reports.push_back(message); });
    EXPECT_EQ(keyboard->capsLockStatus().languageSwitchIsLatin, false);
    press(capsLock);
    EXPECT_EQ(sources.currentID, "xkb:us");
    EXPECT_FALSE(lockState.capsLock);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].languageSwitchIsLatin, true);
    EXPECT_EQ(keyboard->currentSpecialKeyStyle(), KeyboardSpecialKeyStyle::chineseLanguageSwitch);
}

TEST_F(RemoteKeyboardControllerTest, DestroyingWithARunningRepeatIsClean) {
    press(RemoteKeyboardKey::a);
    press(RemoteKeyboardKey::b);
    keyboard.reset();
    clock.advance(5s);
    SUCCEED();
}

}  // namespace
}  // namespace quillbridge
