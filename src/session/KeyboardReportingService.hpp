#pragma once

#include <functional>
#include <optional>

#include "input/MacKeyboardInputSourceIdentity.hpp"
#include "wire/KeyboardLayoutSnapshot.hpp"
#include "wire/KeyboardLockStateMessage.hpp"
#include "wire/KeyboardSpecialKeyStyle.hpp"
#include "wire/KeyboardTypePreference.hpp"

namespace quillbridge {

// What the session asks of the host keyboard (RemoteKeyboardController and its helpers in the
// application): the paste chord, the current layout and the lock state. Every call runs synchronously on
// the keyboard's own event queue and returns promptly; the session calls them from its strand.
class KeyboardReportingService {
public:
    virtual ~KeyboardReportingService() = default;

    // Presses and releases the platform's paste chord.
    virtual void pressPasteChord() = 0;

    // Makes the input-source switcher re-read the selected input source.
    virtual void refreshInputSource() = 0;
    // The current keyboard layout input source; nothing when there is none.
    virtual std::optional<MacKeyboardInputSourceIdentity> currentInputSource() = 0;
    // The key caps of a layout for a keyboard type preference; nothing when they cannot be built.
    virtual std::optional<KeyboardLayoutSnapshot> keyboardLayoutSnapshot(
        const MacKeyboardInputSourceIdentity& identity, KeyboardTypePreference preference) = 0;
    virtual KeyboardSpecialKeyStyle currentSpecialKeyStyle() = 0;

    // Re-reads the Caps Lock state from the system into the cache.
    virtual void refreshCapsLockState() = 0;
    // The cached Caps Lock state and the language-switch side.
    virtual KeyboardLockStateMessage capsLockStatus() = 0;
    // Told of every lock-state change a key press causes (from the keyboard's queue); empty clears it.
    virtual void setLockStateDidChange(std::function<void(KeyboardLockStateMessage)> callback) = 0;
};

}  // namespace quillbridge
