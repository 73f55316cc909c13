#include "input/MacKeyboardInputSourceSwitcher.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/FakeDefaultsStore.hpp"
#include "support/input/FakeKeyboardInputSourcePort.hpp"

namespace quillbridge {
namespace {

using Port = FakeKeyboardInputSourcePort;
using Style = KeyboardSpecialKeyStyle;

class MacKeyboardInputSourceSwitcherTest : public ::testing::Test {
protected:
    Port port;
    FakeDefaultsStore defaults;

    void SetUp() override {
        port.sources = {Port::latin("xkb:us"),
                        Port::nonLatin("xkb:ru", {"ru"}),
                        Port::nonLatin("xkb:cn", {"zh"}),
                        Port::nonLatin("xkb:kr", {"ko"}),
                        Port::nonLatin("xkb:jp", {"ja"}),
                        Port::nonLatin("xkb:ara", {"ar"})};
        port.currentID = "xkb:us";
    }
};

TEST_F(MacKeyboardInputSourceSwitcherTest, WithoutTheSwitchSettingNothingIsSelected) {
    MacKeyboardInputSourceSwitcher switcher(port, defaults);
    port.currentID = "xkb:cn";
    EXPECT_FALSE(switcher.handleCapsLock());
    EXPECT_EQ(switcher.currentLanguageSwitchIsLatin(), std::nullopt);
    EXPECT_TRUE(port.selections.empty());
}

TEST_F(MacKeyboardInputSourceSwitcherTest, CapsLockSwitchesBetweenChineseAndLatin) {
    port.romanSwitch = true;
    port.currentID = "xkb:cn";
    MacKeyboardInputSourceSwitcher switcher(port, defaults);
    EXPECT_EQ(switcher.currentLanguageSwitchIsLatin(), false);
    EXPECT_EQ(switcher.currentSpecialKeyStyle(), Style::chineseLanguageSwitch);
    EXPECT_TRUE(switcher.handleCapsLock());
    EXPECT_EQ(port.currentID, "xkb:us");
    EXPECT_EQ(defaults.string("LastNonLatinCapsLockInputSourceID"), "xkb:cn");
    EXPECT_EQ(defaults.string("LastCapsPositionInputSourceID"), "xkb:cn");
    EXPECT_EQ(switcher.currentLanguageSwitchIsLatin(), true);
    EXPECT_EQ(switcher.currentSpecialKeyStyle(), Style::chineseLanguageSwitch);
    EXPECT_TRUE(switcher.handleCapsLock());
    EXPECT_EQ(port.currentID, "xkb:cn");
}

TEST_F(MacKeyboardInputSourceSwitcherTest, WalkPicksTheFirstNonLatinSourceAndSkipsDisabledOnes) {
    port.romanSwitch = true;
    defaults.setString("LastNonLatinCapsLockInputSourceID", "xkb:kr");
    port.sources[3].isEnabled = false;  // the remembered Korean source was disabled
    MacKeyboardInputSourceSwitcher switcher(port, defaults);
    EXPECT_TRUE(switcher.handleCapsLock());
    EXPECT_EQ(port.currentID, "xkb:ru");
    EXPECT_EQ(switcher.lastNonLatinInputSourceID(), "xkb:ru");
    EXPECT_EQ(switcher.lastCapsPositionInputSourceID(), std::nullopt);
}

TEST_F(MacKeyboardInputSourceSwitcherTest, StylesOfTheCurrentSource) {
    struct Case {
        const char* current;
        bool romanSwitch;
        std::optional<std::string> capsPosition;
        Style style;
        std::optional<bool> latin;
    };
    const Case cases[] = {
        {"xkb:ara", true, std::nullopt, Style::rightToLeft, std::nullopt},
        {"xkb:kr", true, std::nullopt, Style::koreanLanguageSwitch, false},
        {"xkb:kr", false, std::nullopt, Style::standard, std::nullopt},
        {"xkb:jp", true, std::nullopt, Style::japaneseLanguageSwitch, std::nullopt},
        {"xkb:jp", true, "xkb:cn", Style::chineseLanguageSwitch, std::nullopt},
        {"xkb:ru", true, "xkb:kr", Style::koreanLanguageSwitch, std::nullopt},
        {"xkb:us", true, std::nullopt, Style::standard, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.current);
        FakeDefaultsStore localDefaults;
        if (c.capsPosition)
            localDefaults.setString("LastCapsPositionInputSourceID", *c.capsPosition);
        port.romanSwitch = c.romanSwitch;
        port.currentID = c.current;
        MacKeyboardInputSourceSwitcher switcher(port, localDefaults);
        EXPECT_EQ(switcher.currentSpecialKeyStyle(), c.style);
        EXPECT_EQ(switcher.currentLanguageSwitchIsLatin(), c.latin);
    }
}

TEST_F(MacKeyboardInputSourceSwitcherTest, JapaneseIsRememberedButNeverAsTheCapsPositionSource) {
    port.romanSwitch = true;
    port.currentID = "xkb:jp";
    MacKeyboardInputSourceSwitcher switcher(port, defaults);
    switcher.refresh();
    EXPECT_EQ(switcher.lastNonLatinInputSourceID(), "xkb:jp");
    EXPECT_EQ(switcher.lastCapsPositionInputSourceID(), std::nullopt);
}

TEST_F(MacKeyboardInputSourceSwitcherTest, LegacyKeySeedsBothFieldsAndFailedSelectionIsLogged) {
    defaults.setString("LastCJKCapsLockInputSourceID", "xkb:cn");
    MacKeyboardInputSourceSwitcher switcher(port, defaults);
    EXPECT_EQ(switcher.lastNonLatinInputSourceID(), "xkb:cn");
    EXPECT_EQ(switcher.lastCapsPositionInputSourceID(), "xkb:cn");
    ScopedLogCapture logs;
    port.romanSwitch = true;
    port.selectStatus = -3;
    EXPECT_FALSE(switcher.handleCapsLock());
    EXPECT_THAT(logs.messages("MacKeyboardInputSourceSwitcher"),
                ::testing::ElementsAre("Failed to select keyboard input source: -3"));
}

}  // namespace
}  // namespace quillbridge
