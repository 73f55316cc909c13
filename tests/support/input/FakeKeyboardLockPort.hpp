#pragma once

#include <atomic>
#include <optional>

#include "input/KeyboardLockPort.hpp"

namespace quillbridge {

// A Caps Lock state in memory. `openResult` decides whether opening works; `failReads` and `setStatus`
// make reads or writes fail. The fields are shared with the test through a pointer the test keeps.
class FakeKeyboardLockPort final : public KeyboardLockPort {
public:
    struct State {
        OpenResult openResult{true, OpenFailure::serviceUnavailable, 0};
        std::atomic<int> openCalls = 0;
        std::atomic<bool> capsLock = false;
        std::atomic<bool> failReads = false;
        std::atomic<int> setStatus = 0;
        std::atomic<int> setCalls = 0;
    };

    explicit FakeKeyboardLockPort(State& state) : state_(state) {}

    OpenResult open() override {
        ++state_.openCalls;
        return state_.openResult;
    }
    std::optional<bool> readCapsLock() override {
        if (state_.failReads)
            return std::nullopt;
        return state_.capsLock.load();
    }
    int setCapsLock(bool enabled) override {
        ++state_.setCalls;
        if (state_.setStatus != 0)
            return state_.setStatus;
        state_.capsLock = enabled;
        return 0;
    }

private:
    State& state_;
};

}  // namespace quillbridge
