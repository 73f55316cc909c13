#pragma once

// A stand-in for the host's keyboard layout observer: the test announces changes itself.

#include <functional>

#include "session/KeyboardLayoutChangeObserver.hpp"

namespace quillbridge {

class FakeKeyboardLayoutChangeObserver final : public KeyboardLayoutChangeObserver {
public:
    bool start(std::function<void()> changed) override {
        ++startCount;
        if (isRunning) {
            return false;
        }
        isRunning = true;
        this->changed = std::move(changed);
        return true;
    }
    void stop() override {
        ++stopCount;
        isRunning = false;
    }

    // Announces a change, as the observer's thread would; nothing while stopped.
    void change() {
        if (isRunning) {
            changed();
        }
    }

    int startCount = 0;
    int stopCount = 0;
    bool isRunning = false;
    // What start() was given (kept after stop(), for notices that race with it).
    std::function<void()> changed;
};

}  // namespace quillbridge
