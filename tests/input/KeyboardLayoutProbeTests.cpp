#include "input/KeyboardLayoutProbe.hpp"

#include <gtest/gtest.h>

#include "support/input/FakeKeyboardLayoutPort.hpp"

namespace quillbridge {
namespace {

class KeyboardLayoutProbeTest : public ::testing::Test {
protected:
    FakeKeyboardLayoutPort port;
    KeyboardLayoutProbe probe{port};

    void SetUp() override {
        port.identity = {"xkb:us", "English (US)", {"en"}};
        port.set(RemoteKeyboardKey::a, 0, "a");
        port.set(RemoteKeyboardKey::a, 2, "A");
        port.set(RemoteKeyboardKey::a, 4, "A");
        port.set(RemoteKeyboardKey::a, 8, "\xC3\xA5");
        port.set(RemoteKeyboardKey::e, 0, "e");
        port.set(RemoteKeyboardKey::e, 8, "\xC2\xB4", true);
        port.set(RemoteKeyboardKey::returnKey, 0, "\r");
        port.set(RemoteKeyboardKey::escape, 0, "\x1B");
        port.set(RemoteKeyboardKey::delete_, 0, "\x7F");
        port.set(RemoteKeyboardKey::tab, 0, "");
    }
};

TEST_F(KeyboardLayoutProbeTest, LabelsPerStateDeadKeysAndKeysWithoutLabels) {
    auto snapshot = probe.snapshot(std::nullopt, KeyboardTypePreference::automatic);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->inputSourceID, "xkb:us");
    EXPECT_EQ(snapshot->localizedName, "English (US)");
    ASSERT_EQ(snapshot->labels.size(), 2u) << "control characters and empty text give no label";
    const KeyLabelSet& a = snapshot->labels[0].labels;
    EXPECT_EQ(snapshot->labels[0].key, RemoteKeyboardKey::a);
    EXPECT_EQ(a.normal, "a");
    EXPECT_EQ(a.shift, "A");
    EXPECT_EQ(a.caps, "A");
    EXPECT_EQ(a.option, "\xC3\xA5");
    EXPECT_EQ(a.capsShift, std::nullopt);
    EXPECT_FALSE(a.isDeadKey);
    EXPECT_EQ(a.deadKeyModifiers, KeyboardDeadKeyModifiers(0));
    const KeyLabelSet& e = snapshot->labels[1].labels;
    EXPECT_TRUE(e.isDeadKey);
    EXPECT_EQ(e.deadKeyModifiers, KeyboardDeadKeyModifiers::option);
    EXPECT_EQ(e.option, "\xC2\xB4");
}

TEST_F(KeyboardLayoutProbeTest, KeyboardTypeAndPhysicalLayout) {
    struct Case {
        std::uint32_t hardware;
        KeyboardTypePreference preference;
        std::uint32_t effective;
        std::optional<std::uint32_t> reported;
        RemoteKeyboardPhysicalLayout physical;
    };
    const Case cases[] = {
        {0, KeyboardTypePreference::automatic, 1, std::nullopt, RemoteKeyboardPhysicalLayout::unknown},
        {0, KeyboardTypePreference::jis, 18, std::nullopt, RemoteKeyboardPhysicalLayout::unknown},
        {40, KeyboardTypePreference::automatic, 40, 40, RemoteKeyboardPhysicalLayout::ansi},
        {40, KeyboardTypePreference::iso, 4, 40, RemoteKeyboardPhysicalLayout::ansi},
    };
    for (const Case& c : cases) {
        port.keyboardType = c.hardware;
        auto snapshot =
            probe.snapshot(MacKeyboardInputSourceIdentity{"given", "Given", {"de"}}, c.preference);
        ASSERT_TRUE(snapshot);
        EXPECT_EQ(snapshot->inputSourceID, "given");
        EXPECT_EQ(snapshot->effectiveKeyboardType, c.effective);
        EXPECT_EQ(port.lastTranslationKeyboardType, c.effective);
        EXPECT_EQ(snapshot->effectivePreference, c.preference);
        EXPECT_EQ(snapshot->macKeyboardType, c.reported);
        EXPECT_EQ(snapshot->macPhysicalLayout, c.physical);
        EXPECT_EQ(snapshot->specialKeyStyle, std::nullopt);
    }
}

TEST_F(KeyboardLayoutProbeTest, NoLayoutGivesNoSnapshot) {
    port.hasLayout = false;
    EXPECT_EQ(probe.snapshot(std::nullopt, KeyboardTypePreference::automatic), std::nullopt);
}

}  // namespace
}  // namespace quillbridge
