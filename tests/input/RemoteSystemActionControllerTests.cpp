#include "input/RemoteSystemActionController.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "KeyboardTestFixture.hpp"
#include "input/MediaKeyType.hpp"
#include "input/RemoteKeyboardKeyCodes.hpp"
#include "support/input/FakeSystemServices.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using enum RemoteSystemAction;

class RemoteSystemActionControllerTest : public KeyboardTestFixture {
protected:
    // Performs the action and waits until the action queue has carried out what it queued.
    void performNow(RemoteSystemAction action) {
        actions.perform(action, *keyboard, mouse);
        actions.actionQueue().sync([] {});
    }

    FakeSystemServices services;
    RemoteMouseController mouse{poster, poster, clock};
    RemoteSystemActionController actions{services};
};

TEST_F(RemoteSystemActionControllerTest, EveryActionPostsItsPlan) {
    struct Case {
        RemoteSystemAction action;
        std::vector<RecordedInputEvent> expected;
        std::vector<std::string> serviceCalls;
    };
    auto key = [](RemoteKeyboardKey k, bool down, std::uint64_t flags) {
        return RecordedInputEvent{
            SyntheticKeyEvent{k, virtualKeyCode(k), down, false, isModifierKey(k), flags, 1}};
    };
    auto media = [](std::int32_t type) {
        return std::vector<RecordedInputEvent>{RecordedMediaKey{type, true}, RecordedMediaKey{type, false}};
    };
    using K = RemoteKeyboardKey;
    const Case cases[] = {
        {back,
         {key(K::option, true, 0x80000), key(K::leftArrow, true, 0x80000), key(K::leftArrow, false, 0x80000),
          key(K::option, false, 0)},
         {}},
        {forward,
         {key(K::option, true, 0x80000), key(K::rightArrow, true, 0x80000),
          key(K::rightArrow, false, 0x80000), key(K::option, false, 0)},
         {}},
        {missionControl, media(MediaKeyType::missionControl), {}},
        {spotlight, media(MediaKeyType::search), {}},
        {dictation, {}, {}},
        {mediaPrevious, media(18), {}},
        {mediaPlayPause, media(16), {}},
        {mediaNext, media(17), {}},
        {mute, {}, {"toggleMute"}},
        {volumeDown, {}, {"lowerVolume"}},
        {volumeUp, {}, {"raiseVolume"}},
        {brightnessDown, media(3), {}},
        {brightnessUp, media(2), {}},
        {apps, media(13), {}},
        {lockScreen, {}, {"lockScreen"}},
        {copyFromMac, {}, {}},
        {pasteToMac, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.action));
        poster.clear();
        services.clear();
        performNow(c.action);
        EXPECT_EQ(poster.events(), c.expected);
        EXPECT_EQ(services.calls(), c.serviceCalls);
    }
}

TEST_F(RemoteSystemActionControllerTest, ClicksPressAndReleaseTheButton) {
    struct Case {
        RemoteSystemAction action;
        std::int64_t buttonNumber;
        std::uint32_t mouseButton;
    };
    for (Case c : {Case{primaryClick, 0, 0}, Case{secondaryClick, 1, 1}, Case{middleClick, 2, 2},
                   Case{mouseBack, 3, 2}, Case{mouseForward, 4, 2}}) {
        poster.clear();
        actions.perform(c.action, *keyboard, mouse);
        auto events = poster.eventsOf<SyntheticMouseEvent>();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].buttonNumber, c.buttonNumber);
        EXPECT_EQ(events[0].mouseButton, c.mouseButton);
        EXPECT_EQ(events[0].pressure, 1.0);
        EXPECT_EQ(events[1].pressure, 0.0);
        EXPECT_EQ(mouse.pressedMouseButton(), std::nullopt);
    }
}

TEST_F(RemoteSystemActionControllerTest, WithoutServicesVolumeFallsBackToMediaKeysAndLockIsLogged) {
    services.available = false;
    for (RemoteSystemAction action : {mute, volumeDown, volumeUp, lockScreen})
        performNow(action);
    EXPECT_EQ(
        poster.eventsOf<RecordedMediaKey>(),
        (std::vector<RecordedMediaKey>{{7, true}, {7, false}, {1, true}, {1, false}, {0, true}, {0, false}}));
    EXPECT_TRUE(poster.eventsOf<SyntheticKeyEvent>().empty())
        << "the screen is never locked with a key chord";
    EXPECT_THAT(logs.messages("RemoteSystemActionController"), ElementsAre("Failed to lock the screen"));
}

TEST_F(RemoteSystemActionControllerTest, DeniedPermissionStillPostsMediaKeys) {
    poster.allowed = false;
    performNow(back);
    performNow(mediaNext);
    EXPECT_EQ(errors(), std::vector<std::string>(4, "Synthetic input permission was denied"));
    EXPECT_EQ(poster.events().size(), 2u);
}

TEST_F(RemoteSystemActionControllerTest, QueuedActionsRunInOrderWhileTheCallerGoesOn) {
    // A sound server that answers late, then not at all: volume and mute fall back to their media keys.
    services.available = false;
    services.hold();
    actions.perform(volumeUp, *keyboard, mouse);
    ASSERT_TRUE(services.waitUntilACallIsHeld());
    for (RemoteSystemAction action : {mute, mediaNext, lockScreen, secondaryClick, back})
        actions.perform(action, *keyboard, mouse);
    // The click and the chord did not wait for the service; the queued actions did.
    EXPECT_EQ(poster.eventsOf<SyntheticMouseEvent>().size(), 2u);
    EXPECT_EQ(poster.eventsOf<SyntheticKeyEvent>().size(), 4u);
    EXPECT_TRUE(poster.eventsOf<RecordedMediaKey>().empty());
    EXPECT_THAT(services.calls(), ElementsAre("raiseVolume"));
    EXPECT_TRUE(services.isHoldingACall());

    services.release();
    actions.actionQueue().sync([] {});
    EXPECT_THAT(services.calls(), ElementsAre("raiseVolume", "toggleMute", "lockScreen"));
    EXPECT_EQ(poster.eventsOf<RecordedMediaKey>(),
              (std::vector<RecordedMediaKey>{
                  {0, true}, {0, false}, {7, true}, {7, false}, {17, true}, {17, false}}));
}

}  // namespace
}  // namespace quillbridge
