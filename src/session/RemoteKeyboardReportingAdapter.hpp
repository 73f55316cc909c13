#pragma once

#include <array>
#include <functional>
#include <optional>
#include <utility>

#include "input/RemoteKeyboardController.hpp"
#include "session/KeyboardReportingService.hpp"

namespace quillbridge {

// The session's keyboard calls carried out by the host's remote keyboard controller. The paste chord is
// Control+V, the desktop's paste shortcut. The current input source comes from the caller's reader (the
// desktop's keyboard layout as an input-source identity).
class RemoteKeyboardReportingAdapter final : public KeyboardReportingService {
public:
    using CurrentInputSource = std::function<std::optional<MacKeyboardInputSourceIdentity>()>;

    // `keyboard` must outlive the adapter.
    RemoteKeyboardReportingAdapter(RemoteKeyboardController& keyboard, CurrentInputSource currentInputSource)
        : keyboard_(keyboard), currentInputSource_(std::move(currentInputSource)) {}

    void pressPasteChord() override {
        static constexpr std::array keys{RemoteKeyboardKey::control, RemoteKeyboardKey::v};
        keyboard_.pressChord(keys);
    }
    void refreshInputSource() override { keyboard_.refreshInputSource(); }
    std::optional<MacKeyboardInputSourceIdentity> currentInputSource() override {
        return currentInputSource_ ? currentInputSource_() : std::nullopt;
    }
    std::optional<KeyboardLayoutSnapshot> keyboardLayoutSnapshot(
        const MacKeyboardInputSourceIdentity& identity, KeyboardTypePreference preference) override {
        return keyboard_.keyboardLayoutSnapshot(identity, preference);
    }
    KeyboardSpecialKeyStyle currentSpecialKeyStyle() override { return keyboard_.currentSpecialKeyStyle(); }
    void refreshCapsLockState() override { keyboard_.lockController().refreshCapsLockState(); }
    KeyboardLockStateMessage capsLockStatus() override { return keyboard_.capsLockStatus(); }
    void setLockStateDidChange(std::function<void(KeyboardLockStateMessage)> callback) override {
        keyboard_.setLockStateDidChange(std::move(callback));
    }

private:
    RemoteKeyboardController& keyboard_;
    CurrentInputSource currentInputSource_;
};

}  // namespace quillbridge
