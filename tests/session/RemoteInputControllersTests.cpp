#include "session/RemoteInputControllers.hpp"

#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScreenStreamBroadcasterFixture.hpp"
#include "input/MediaKeyType.hpp"
#include "support/input/FakeKeyboardInputSourcePort.hpp"
#include "support/input/FakeKeyboardLayoutPort.hpp"
#include "support/input/FakeKeyboardLockPort.hpp"
#include "support/input/FakeSystemServices.hpp"
#include "support/input/RecordingInputPoster.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Case = StreamControlMessage::Case;
using Access = ScreenStreamBroadcasterTestAccess;

// One recorded event as short text: what reached the desktop, without the bookkeeping fields.
std::string describe(const RecordedInputEvent& event) {
    if (const auto* mouse = std::get_if<SyntheticMouseEvent>(&event)) {
        return "mouse " + std::to_string(static_cast<int>(mouse->type)) + " at " +
               std::to_string(static_cast<int>(mouse->location.x)) + "," +
               std::to_string(static_cast<int>(mouse->location.y));
    }
    if (const auto* scroll = std::get_if<SyntheticScrollEvent>(&event)) {
        return "scroll " + std::to_string(scroll->pointDeltaX) + "," + std::to_string(scroll->pointDeltaY) +
               " phase " + std::to_string(scroll->scrollPhase) + " momentum " +
               std::to_string(scroll->momentumPhase);
    }
    if (const auto* key = std::get_if<SyntheticKeyEvent>(&event)) {
        return std::string("key ") + std::string(rawValue(key->key)) + (key->isDown ? " down" : " up");
    }
    if (const auto* text = std::get_if<RecordedText>(&event)) {
        return "text " + std::string(text->chunk.begin(), text->chunk.end());
    }
    const auto& media = std::get<RecordedMediaKey>(event);
    return "media " + std::to_string(media.keyType) + (media.isDown ? " down" : " up");
}

// The broadcaster with the real remote-input controllers behind its sink, posting into a recorder.
class RemoteInputControllersTest : public ScreenStreamBroadcasterFixture {
protected:
    void adjust(ScreenStreamBroadcasterDependencies& dependencies) override {
        dependencies.remoteInput = &controllers;
    }

    void SetUp() override {
        poster.cursor = DisplayPoint{10, 20};
        mouse.capturedDisplayFrame = {0, 0, 200, 100};
        ScreenStreamBroadcasterFixture::SetUp();
        startListening();
        headset = connect();
        authorize();
    }

    void TearDown() override {
        ScreenStreamBroadcasterFixture::TearDown();
        // Queued actions use the keyboard.
        services.release();
        systemActions.actionQueue().sync([] {});
        keyboard.reset();
    }

    std::vector<std::string> posted() {
        std::vector<std::string> result;
        for (const RecordedInputEvent& event : poster.events()) {
            result.push_back(describe(event));
        }
        poster.clear();
        return result;
    }

    RecordingInputPoster poster;
    FakeKeyboardLayoutPort layout;
    FakeKeyboardLockPort::State lockState;
    FakeKeyboardInputSourcePort sources;
    FakeDefaultsStore keyboardDefaults;
    FakeSystemServices services;
    std::unique_ptr<RemoteKeyboardController> keyboard =
        std::make_unique<RemoteKeyboardController>(RemoteKeyboardController::Dependencies{
            poster, poster, layout, clock,
            std::make_unique<MacKeyboardLockController>(std::make_unique<FakeKeyboardLockPort>(lockState)),
            std::make_unique<MacKeyboardInputSourceSwitcher>(sources, keyboardDefaults),
            [] { return KeyRepeatSettings{}; }});
    RemoteMouseController mouse{poster, poster, clock};
    RemoteSystemActionController systemActions{services};
    RemoteInputControllers controllers{mouse, *keyboard, systemActions};
    Headset headset;
};

TEST_F(RemoteInputControllersTest, EachInputMessageReachesTheDesktopThroughItsController) {
    struct InputCase {
        const char* name;
        StreamControlMessage message;
        std::vector<std::string> expected;
    };
    const InputCase cases[] = {
        {"press",
         StreamControlMessage::make<Case::mouseClick>({MouseButton::primary, MouseButtonPhase::pressed}),
         {"mouse 1 at 10,20"}},
        {"secondary release without a press",
         StreamControlMessage::make<Case::mouseClick>({MouseButton::secondary, MouseButtonPhase::released}),
         {"mouse 4 at 10,20"}},
        {"relative move", StreamControlMessage::make<Case::mouseMove>({3.5, -4}), {"mouse 5 at 13,16"}},
        {"absolute move",
         StreamControlMessage::make<Case::mousePosition>({0.5, 0.25}),
         {"mouse 5 at 100,25"}},
        {"absolute move is clamped",
         StreamControlMessage::make<Case::mousePosition>({2, -1}),
         {"mouse 5 at 199,0"}},
        {"scroll",
         StreamControlMessage::make<Case::mouseScroll>(
             {0, 12, MouseScrollPhase::began, MouseScrollMomentumPhase::none, std::nullopt, std::nullopt}),
         {"scroll 0,12 phase 1 momentum 0"}},
        {"key",
         StreamControlMessage::make<Case::keyboardEvent>({RemoteKeyboardKey::a, KeyboardEventPhase::pressed}),
         {"key a down"}},
        {"text", StreamControlMessage::make<Case::textInput>({"hi"}), {"text hi"}},
        {"empty text is refused", StreamControlMessage::make<Case::textInput>({""}), {}},
        {"media action",
         StreamControlMessage::make<Case::systemAction>({RemoteSystemAction::mediaPlayPause}),
         {"media 16 down", "media 16 up"}},
        {"click action",
         StreamControlMessage::make<Case::systemAction>({RemoteSystemAction::secondaryClick}),
         {"mouse 3 at 10,20", "mouse 4 at 10,20"}},
        {"chord action",
         StreamControlMessage::make<Case::systemAction>({RemoteSystemAction::back}),
         {"key option down", "key leftArrow down", "key leftArrow up", "key option up"}},
    };
    for (const InputCase& inputCase : cases) {
        SCOPED_TRACE(inputCase.name);
        poster.cursor = DisplayPoint{10, 20};
        send(headset, inputCase.message);
        systemActions.actionQueue().sync([] {});
        EXPECT_EQ(posted(), inputCase.expected);
        // Leave nothing held for the next case.
        controllers.releaseAll();
        poster.clear();
    }
    EXPECT_TRUE(services.calls().empty());
}

TEST_F(RemoteInputControllersTest, ASlowDesktopServiceHoldsUpNeitherTheSessionNorTheOrderOfActions) {
    // The sound server answers late, then not at all: volume and mute fall back to their media keys.
    services.available = false;
    services.hold();
    send(headset, StreamControlMessage::make<Case::systemAction>({RemoteSystemAction::volumeUp}));
    ASSERT_TRUE(services.waitUntilACallIsHeld());

    // Other control messages are handled while the service call is still under way.
    send(headset, StreamControlMessage::make<Case::mouseMove>({3.5, -4}));
    send(headset, StreamControlMessage::make<Case::clockSynchronizationRequest>({4, 9}));
    send(headset, StreamControlMessage::make<Case::systemAction>({RemoteSystemAction::mute}));
    send(headset, StreamControlMessage::make<Case::systemAction>({RemoteSystemAction::mediaNext}));
    send(headset, StreamControlMessage::make<Case::systemAction>({RemoteSystemAction::lockScreen}));
    EXPECT_TRUE(services.isHoldingACall());
    EXPECT_THAT(posted(), ElementsAre("mouse 5 at 13,16"));
    const auto reply = receive(headset);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->messageCase(), Case::clockSynchronizationResponse);

    // Released, the actions run in the order they came.
    services.release();
    systemActions.actionQueue().sync([] {});
    EXPECT_THAT(services.calls(), ElementsAre("raiseVolume", "toggleMute", "lockScreen"));
    EXPECT_THAT(posted(), ElementsAre("media 0 down", "media 0 up", "media 7 down", "media 7 up",
                                      "media 17 down", "media 17 up"));
}

TEST_F(RemoteInputControllersTest, KeyboardTypePreferenceReachesTheKeyboardController) {
    send(headset, StreamControlMessage::make<Case::keyboardTypePreference>({KeyboardTypePreference::iso}));
    EXPECT_EQ(keyboard->keyboardTypePreference(), KeyboardTypePreference::iso);
    EXPECT_EQ(Access::keyboardTypePreference(*broadcaster), KeyboardTypePreference::iso);
    EXPECT_THAT(posted(), IsEmpty());
}

TEST_F(RemoteInputControllersTest, SessionEndReleasesTheHeldButtonAndKeysLastPressedFirst) {
    send(headset,
         StreamControlMessage::make<Case::mouseClick>({MouseButton::primary, MouseButtonPhase::pressed}));
    send(headset, StreamControlMessage::make<Case::keyboardEvent>(
                      {RemoteKeyboardKey::shift, KeyboardEventPhase::pressed}));
    send(headset, StreamControlMessage::make<Case::keyboardEvent>(
                      {RemoteKeyboardKey::b, KeyboardEventPhase::pressed}));
    posted();

    run(broadcaster->endSession(nullptr, std::nullopt, true, true));
    drain();

    EXPECT_THAT(posted(), ElementsAre("mouse 2 at 10,20", "key b up", "key shift up"));
    EXPECT_FALSE(mouse.pressedMouseButton());
    EXPECT_THAT(keyboard->activeKeyboardKeys(), IsEmpty());
}

TEST_F(RemoteInputControllersTest, ScrollMomentumTicksAndItsStopGoThroughTheMouseController) {
    send(headset,
         StreamControlMessage::make<Case::mouseScroll>(
             {0, 10, MouseScrollPhase::began, MouseScrollMomentumPhase::none, std::nullopt, std::nullopt}));
    EXPECT_THAT(posted(), ElementsAre("scroll 0,10 phase 1 momentum 0"));
    send(headset, StreamControlMessage::make<Case::mouseScroll>(
                      {0, 40, MouseScrollPhase::ended, MouseScrollMomentumPhase::none, 0.0, 600.0}));
    // The gesture's own scroll, then the first momentum tick at once.
    const auto started = posted();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_THAT(started[0], ::testing::EndsWith("phase 4 momentum 0"));
    EXPECT_THAT(started[1], ::testing::EndsWith("momentum 1"));
    clock.advance(std::chrono::nanoseconds(16'666'666));
    drain();
    EXPECT_THAT(posted(), ElementsAre(::testing::EndsWith("phase 0 momentum 2")));

    // A click stops the momentum with an empty end scroll before the press.
    send(headset,
         StreamControlMessage::make<Case::mouseClick>({MouseButton::primary, MouseButtonPhase::pressed}));
    EXPECT_THAT(posted(), ElementsAre("scroll 0,0 phase 0 momentum 3", "mouse 1 at 10,20"));
}

TEST_F(RemoteInputControllersTest, InputBeforeAuthorisationNeverReachesTheDesktop) {
    run(broadcaster->endSession(nullptr, std::nullopt, true, true));
    drain();
    poster.clear();
    auto unauthorised = connect();
    send(unauthorised, StreamControlMessage::make<Case::keyboardEvent>(
                           {RemoteKeyboardKey::a, KeyboardEventPhase::pressed}));
    send(unauthorised, StreamControlMessage::make<Case::textInput>({"secret"}));
    send(unauthorised, StreamControlMessage::make<Case::systemAction>({RemoteSystemAction::lockScreen}));
    systemActions.actionQueue().sync([] {});
    EXPECT_THAT(posted(), IsEmpty());
    EXPECT_TRUE(services.calls().empty());
}

}  // namespace
}  // namespace quillbridge
