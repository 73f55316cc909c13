// The session's keyboard calls carried out by a real keyboard controller on the in-memory input ports.

#include "session/RemoteKeyboardReportingAdapter.hpp"

#include <optional>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "input/KeyboardTestFixture.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;

struct Stroke {
    RemoteKeyboardKey key;
    bool isDown;
    bool operator==(const Stroke&) const = default;
};

class RemoteKeyboardReportingAdapterTest : public KeyboardTestFixture {
protected:
    void SetUp() override {
        KeyboardTestFixture::SetUp();
        adapter.emplace(*keyboard, [this] { return currentSource; });
    }

    std::vector<Stroke> strokes() const {
        std::vector<Stroke> result;
        for (const auto& event : keyEvents()) {
            result.push_back({event.key, event.isDown});
        }
        return result;
    }

    std::optional<MacKeyboardInputSourceIdentity> currentSource;
    std::optional<RemoteKeyboardReportingAdapter> adapter;
};

TEST_F(RemoteKeyboardReportingAdapterTest, PasteChordIsControlVPressedInOrderAndReleasedInReverse) {
    adapter->pressPasteChord();
    EXPECT_THAT(strokes(),
                ElementsAre(Stroke{RemoteKeyboardKey::control, true}, Stroke{RemoteKeyboardKey::v, true},
                            Stroke{RemoteKeyboardKey::v, false}, Stroke{RemoteKeyboardKey::control, false}));
    EXPECT_TRUE(keyboard->activeKeyboardKeys().empty());
    EXPECT_TRUE(keyboard->activeModifierKeys().empty());
}

TEST_F(RemoteKeyboardReportingAdapterTest, LockStateIsTheControllersCacheRefreshedOnRequest) {
    EXPECT_FALSE(adapter->capsLockStatus().capsLock);
    EXPECT_EQ(adapter->capsLockStatus().languageSwitchIsLatin, std::nullopt)
        << "Caps Lock is no language switch";
    // Turned on outside the session: seen only once the cache is refreshed.
    lockState.capsLock = true;
    EXPECT_FALSE(adapter->capsLockStatus().capsLock);
    adapter->refreshCapsLockState();
    EXPECT_TRUE(adapter->capsLockStatus().capsLock);

    // A remote Caps Lock press reports the new state through the session's callback, until it is cleared.
    std::vector<KeyboardLockStateMessage> reports;
    adapter->setLockStateDidChange([&](KeyboardLockStateMessage state) { reports.push_back(state); });
    press(RemoteKeyboardKey::capsLock);
    release(RemoteKeyboardKey::capsLock);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].capsLock);
    adapter->setLockStateDidChange(nullptr);
    press(RemoteKeyboardKey::capsLock);
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_TRUE(adapter->capsLockStatus().capsLock);
}

TEST_F(RemoteKeyboardReportingAdapterTest, LanguageSwitchAndSpecialKeyStyleComeFromTheInputSources) {
    sources.romanSwitch = true;
    sources.sources = {FakeKeyboardInputSourcePort::latin("xkb:us"),
                       FakeKeyboardInputSourcePort::nonLatin("xkb:cn:pinyin", {"zh"})};
    sources.currentID = "xkb:cn:pinyin";
    adapter->refreshInputSource();
    EXPECT_EQ(adapter->capsLockStatus().languageSwitchIsLatin, false);
    EXPECT_EQ(adapter->currentSpecialKeyStyle(), KeyboardSpecialKeyStyle::chineseLanguageSwitch);
}

TEST_F(RemoteKeyboardReportingAdapterTest, LayoutSnapshotsAreBuiltForTheGivenSourceAndPreference) {
    layout.set(RemoteKeyboardKey::a, 0, "q");
    const MacKeyboardInputSourceIdentity azerty{"xkb:fr", "French", {"fr"}};
    auto snapshot = adapter->keyboardLayoutSnapshot(azerty, KeyboardTypePreference::iso);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->inputSourceID, "xkb:fr");
    EXPECT_EQ(snapshot->localizedName, "French");
    EXPECT_EQ(snapshot->languages, std::vector<std::string>{"fr"});
    EXPECT_EQ(snapshot->effectivePreference, KeyboardTypePreference::iso);
    EXPECT_FALSE(snapshot->labels.empty());

    layout.hasLayout = false;
    EXPECT_FALSE(adapter->keyboardLayoutSnapshot(azerty, KeyboardTypePreference::automatic));
}

TEST_F(RemoteKeyboardReportingAdapterTest, CurrentInputSourceIsWhatTheReaderGives) {
    EXPECT_EQ(adapter->currentInputSource(), std::nullopt);
    currentSource = MacKeyboardInputSourceIdentity{"xkb:de", "German", {"de"}};
    EXPECT_EQ(adapter->currentInputSource(), currentSource);

    // Without a reader there is no current source.
    RemoteKeyboardReportingAdapter unread(*keyboard, nullptr);
    EXPECT_EQ(unread.currentInputSource(), std::nullopt);
}

}  // namespace
}  // namespace quillbridge
