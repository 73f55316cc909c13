#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "core/ManualClock.hpp"
#include "input/RemoteKeyboardController.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/input/FakeKeyboardInputSourcePort.hpp"
#include "support/input/FakeKeyboardLayoutPort.hpp"
#include "support/input/FakeKeyboardLockPort.hpp"
#include "support/input/RecordingInputPoster.hpp"

namespace quillbridge {

// A keyboard controller on recording fakes and a manual clock.
class KeyboardTestFixture : public ::testing::Test {
protected:
    RecordingInputPoster poster;
    FakeKeyboardLayoutPort layout;
    FakeKeyboardLockPort::State lockState;
    FakeKeyboardInputSourcePort sources;
    FakeDefaultsStore defaults;
    ManualClock clock;
    KeyRepeatSettings repeatSettings;
    ScopedLogCapture logs;
    std::unique_ptr<RemoteKeyboardController> keyboard;

    void SetUp() override { makeKeyboard(); }

    void makeKeyboard() {
        keyboard.reset();
        keyboard = std::make_unique<RemoteKeyboardController>(RemoteKeyboardController::Dependencies{
            poster, poster, layout, clock,
            std::make_unique<MacKeyboardLockController>(std::make_unique<FakeKeyboardLockPort>(lockState)),
            std::make_unique<MacKeyboardInputSourceSwitcher>(sources, defaults),
            [this] { return repeatSettings; }});
    }

    // Moves time and lets the event queue run what fell due.
    void advance(Clock::Duration duration) {
        clock.advance(duration);
        keyboard->eventQueue().sync([] {});
    }

    void press(RemoteKeyboardKey key) { keyboard->handleKey(key, KeyboardEventPhase::pressed); }
    void release(RemoteKeyboardKey key) { keyboard->handleKey(key, KeyboardEventPhase::released); }
    std::vector<SyntheticKeyEvent> keyEvents() const { return poster.eventsOf<SyntheticKeyEvent>(); }
    std::vector<std::string> errors() const { return logs.messages("RemoteKeyboardController"); }
};

}  // namespace quillbridge
