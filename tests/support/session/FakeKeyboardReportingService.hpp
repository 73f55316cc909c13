#pragma once

// A stand-in for the host keyboard as the session reports its layout and lock state and presses the paste
// chord. Used from the test's own thread.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/KeyboardReportingService.hpp"

namespace quillbridge {

class FakeKeyboardReportingService final : public KeyboardReportingService {
public:
    void pressPasteChord() override { ++pasteChordCount; }

    void refreshInputSource() override { ++inputSourceRefreshCount; }
    // Answers the queued identities in turn, then the last one again.
    std::optional<MacKeyboardInputSourceIdentity> currentInputSource() override {
        ++inputSourceReadCount;
        if (inputSources.size() > 1) {
            auto next = inputSources.front();
            inputSources.pop_front();
            return next;
        }
        return inputSources.empty() ? std::nullopt : inputSources.front();
    }
    std::optional<KeyboardLayoutSnapshot> keyboardLayoutSnapshot(
        const MacKeyboardInputSourceIdentity& identity, KeyboardTypePreference preference) override {
        ++snapshotBuildCount;
        KeyboardLayoutSnapshot snapshot;
        snapshot.inputSourceID = identity.inputSourceID;
        snapshot.localizedName = identity.localizedName;
        snapshot.languages = identity.languages;
        snapshot.effectivePreference = preference;
        return snapshot;
    }
    KeyboardSpecialKeyStyle currentSpecialKeyStyle() override { return specialKeyStyle; }

    void refreshCapsLockState() override { ++capsLockRefreshCount; }
    KeyboardLockStateMessage capsLockStatus() override { return lockState; }
    void setLockStateDidChange(std::function<void(KeyboardLockStateMessage)> callback) override {
        lockStateDidChange = std::move(callback);
    }

    std::deque<std::optional<MacKeyboardInputSourceIdentity>> inputSources;
    KeyboardSpecialKeyStyle specialKeyStyle{};
    KeyboardLockStateMessage lockState;
    std::function<void(KeyboardLockStateMessage)> lockStateDidChange;
    int pasteChordCount = 0;
    int inputSourceRefreshCount = 0;
    int inputSourceReadCount = 0;
    int snapshotBuildCount = 0;
    int capsLockRefreshCount = 0;
};

}  // namespace quillbridge
