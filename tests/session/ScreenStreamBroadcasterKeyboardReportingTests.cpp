#include <chrono>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "session/ScreenStreamBroadcasterStreamsFixture.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

const MacKeyboardInputSourceIdentity usLayout{"com.example.keylayout.US", "U.S.", {"en"}};
const MacKeyboardInputSourceIdentity germanLayout{"com.example.keylayout.German", "German", {"de"}};

class KeyboardReportingTest : public ScreenStreamBroadcasterStreamsFixture {
protected:
    Headset readyHeadset() {
        auto headset = authorizedHeadset();
        send(headset, StreamControlMessage::make<Case::receiverReady>());
        return headset;
    }

    std::vector<KeyboardLayoutSnapshot> layouts(Headset& headset) {
        return only<Case::keyboardLayout>(messages(headset));
    }
};

TEST_F(KeyboardReportingTest, LayoutIsReportedOnceTwoReadsFiftyMillisecondsApartAgree) {
    struct Example {
        const char* name;
        std::vector<std::optional<MacKeyboardInputSourceIdentity>> reads;
        std::optional<std::string> reported;
        int readsMade;
    };
    const std::vector<Example> examples{
        {"stable", {usLayout}, usLayout.inputSourceID, 2},
        {"switching", {usLayout, germanLayout, germanLayout}, germanLayout.inputSourceID, 3},
        {"none at first", {std::nullopt, std::nullopt, usLayout, usLayout}, usLayout.inputSourceID, 4},
        {"never settles",
         {usLayout, germanLayout, usLayout, germanLayout, usLayout, germanLayout, usLayout, germanLayout,
          usLayout, germanLayout, usLayout, usLayout},
         std::nullopt,
         10},
        {"no layout", {std::nullopt}, std::nullopt, 10},
    };
    for (const auto& example : examples) {
        SCOPED_TRACE(example.name);
        keyboard.inputSources.assign(example.reads.begin(), example.reads.end());
        keyboard.inputSourceReadCount = 0;
        auto headset = readyHeadset();
        messages(headset);
        for (int step = 0; step < 12; ++step) {
            clock.advance(50ms);
            drain();
        }
        const auto sent = layouts(headset);
        EXPECT_EQ(keyboard.inputSourceReadCount, example.readsMade);
        if (example.reported) {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].inputSourceID, *example.reported);
        } else {
            EXPECT_TRUE(sent.empty());
        }
        run(broadcaster->endSession(nullptr, State::idle(), true, true));
        drain();
    }
}

TEST_F(KeyboardReportingTest, NewerRefreshReplacesTheOlderAndSnapshotsAreCachedPerPreference) {
    keyboard.inputSources = {usLayout};
    keyboard.specialKeyStyle = KeyboardSpecialKeyStyle::rightToLeft;
    auto headset = readyHeadset();
    // A Caps Lock press restarts the refresh before the first one settled: one report only.
    send(headset, StreamControlMessage::make<Case::keyboardEvent>(
                      {RemoteKeyboardKey::capsLock, KeyboardEventPhase::pressed}));
    clock.advance(50ms);
    drain();
    auto sent = layouts(headset);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].specialKeyStyle, KeyboardSpecialKeyStyle::rightToLeft);
    EXPECT_EQ(keyboard.snapshotBuildCount, 1);

    send(headset, StreamControlMessage::make<Case::keyboardEvent>(
                      {RemoteKeyboardKey::capsLock, KeyboardEventPhase::pressed}));
    clock.advance(50ms);
    drain();
    EXPECT_EQ(layouts(headset).size(), 1u);
    EXPECT_EQ(keyboard.snapshotBuildCount, 1);  // from the cache

    send(headset, StreamControlMessage::make<Case::keyboardTypePreference>({KeyboardTypePreference::iso}));
    clock.advance(50ms);
    drain();
    sent = layouts(headset);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].effectivePreference, KeyboardTypePreference::iso);
    EXPECT_EQ(keyboard.snapshotBuildCount, 2);
}

TEST_F(KeyboardReportingTest, HostLayoutChangesAreObservedOnceAndReportedOnlyToAnAuthorisedHeadset) {
    run(broadcaster->startObservingKeyboardLayoutChanges());
    run(broadcaster->startObservingKeyboardLayoutChanges());
    EXPECT_EQ(layoutChanges.startCount, 1);

    // Before authorisation a change refreshes but reports nothing.
    keyboard.inputSources = {usLayout};
    auto unauthorised = connect();
    layoutChanges.change();
    drain();
    clock.advance(50ms);
    drain();
    EXPECT_EQ(keyboard.inputSourceRefreshCount, 1);
    EXPECT_EQ(keyboard.inputSourceReadCount, 0);
    EXPECT_TRUE(layouts(unauthorised).empty());
    run(broadcaster->endSession(nullptr, State::idle(), true, true));
    drain();

    auto headset = readyHeadset();
    clock.advance(50ms);
    drain();
    ASSERT_EQ(layouts(headset).size(), 1u);

    // Two changes within 50 ms: one report, of the layout they settled on.
    keyboard.inputSources = {germanLayout};
    layoutChanges.change();
    drain();
    layoutChanges.change();
    drain();
    clock.advance(50ms);
    drain();
    clock.advance(50ms);
    drain();
    const auto sent = layouts(headset);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].inputSourceID, germanLayout.inputSourceID);

    // The observer lives as long as the broadcaster; a notice that raced with its end finds nothing.
    run(broadcaster->stop());
    drain();
    EXPECT_TRUE(layoutChanges.isRunning);
    broadcaster.reset();
    drain();
    EXPECT_FALSE(layoutChanges.isRunning);
    const int refreshes = keyboard.inputSourceRefreshCount;
    layoutChanges.changed();
    drain();
    EXPECT_EQ(keyboard.inputSourceRefreshCount, refreshes);
}

TEST_F(KeyboardReportingTest, LockStatesAreSentWhenTheyChangeFromThePollAndFromKeyPresses) {
    keyboard.lockState = {false, std::nullopt};
    auto headset = readyHeadset();
    auto sent = only<Case::keyboardLockState>(messages(headset));
    ASSERT_EQ(sent.size(), 1u);  // the first pass runs at once
    EXPECT_FALSE(sent[0].capsLock);

    clock.advance(500ms);
    drain();
    EXPECT_TRUE(only<Case::keyboardLockState>(messages(headset)).empty());
    EXPECT_EQ(keyboard.capsLockRefreshCount, 1);

    keyboard.lockState = {false, true};  // absent and false differ
    clock.advance(500ms);
    drain();
    sent = only<Case::keyboardLockState>(messages(headset));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].languageSwitchIsLatin, true);

    ASSERT_TRUE(keyboard.lockStateDidChange);
    keyboard.lockStateDidChange({true, true});
    keyboard.lockStateDidChange({true, true});
    drain();
    sent = only<Case::keyboardLockState>(messages(headset));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].capsLock);
}

TEST_F(KeyboardReportingTest, LockStateIsRecordedOnlyAfterASuccessfulSend) {
    keyboard.lockState = {true, std::nullopt};
    auto headset = readyHeadset();
    EXPECT_EQ(only<Case::keyboardLockState>(messages(headset)).size(), 1u);
    // A new session starts with nothing sent: the same state goes out again.
    run(broadcaster->endSession(nullptr, State::idle(), true, true));
    drain();
    auto next = readyHeadset();
    EXPECT_EQ(only<Case::keyboardLockState>(messages(next)).size(), 1u);
    // Nothing is sent, nor recorded, while the session is not authorised.
    run(broadcaster->endSession(nullptr, State::idle(), true, true));
    drain();
    auto unauthorised = connect();
    keyboard.lockStateDidChange({false, std::nullopt});
    drain();
    EXPECT_TRUE(messages(unauthorised).empty());
}

}  // namespace
}  // namespace quillbridge
