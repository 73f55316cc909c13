#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/Clock.hpp"
#include "core/Logger.hpp"
#include "core/SerialQueue.hpp"
#include "core/Task.hpp"
#include "input/KeyboardEventPoster.hpp"
#include "input/KeyboardLayoutPort.hpp"
#include "input/MacKeyboardInputSourceIdentity.hpp"
#include "input/MacKeyboardInputSourceSwitcher.hpp"
#include "input/MacKeyboardLockController.hpp"
#include "input/SyntheticInputPermission.hpp"
#include "wire/KeyboardEventPhase.hpp"
#include "wire/KeyboardLayoutSnapshot.hpp"
#include "wire/KeyboardLockStateMessage.hpp"
#include "wire/KeyboardSpecialKeyStyle.hpp"
#include "wire/KeyboardTypePreference.hpp"
#include "wire/RemoteKeyboardKey.hpp"

namespace quillbridge {

// The user's key-repeat settings, in sixtieths of a second; a value is used only when greater than 0.
struct KeyRepeatSettings {
    std::optional<double> initialKeyRepeat;
    std::optional<double> keyRepeat;
};

// Carries out the headset's keyboard: key presses and releases with the full modifier flags, key repeat,
// Caps Lock (a language switch or the lock state, never a key event), chords, text entry, media keys, and
// the keyboard questions of the session (layout snapshot, Caps Lock state, special-key style).
//
// All key state lives on `eventQueue` ("Quillbridge.RemoteKeyboardController"); the public operations
// enter it synchronously themselves (inline when already on it). Lock order: the session's actor may wait
// on the event queue, the event queue may wait on the Caps Lock state queue; never the other way round.
class RemoteKeyboardController {
public:
    struct Dependencies {
        KeyboardEventPoster& poster;
        SyntheticInputPermission& permission;
        KeyboardLayoutPort& layout;
        Clock& clock;
        std::unique_ptr<MacKeyboardLockController> lockController;
        // May be null: Caps Lock then always works on the lock state.
        std::unique_ptr<MacKeyboardInputSourceSwitcher> inputSourceSwitcher;
        std::function<KeyRepeatSettings()> repeatSettings;
    };

    explicit RemoteKeyboardController(Dependencies dependencies);
    ~RemoteKeyboardController();
    RemoteKeyboardController(const RemoteKeyboardController&) = delete;
    RemoteKeyboardController& operator=(const RemoteKeyboardController&) = delete;

    SerialQueue& eventQueue() { return eventQueue_; }

    void handleKey(RemoteKeyboardKey key, KeyboardEventPhase phase);
    void setKeyboardTypePreference(KeyboardTypePreference preference);
    KeyboardTypePreference keyboardTypePreference();
    // Presses the keys in order, then releases them in reverse order.
    void pressChord(std::span<const RemoteKeyboardKey> keys);
    // Releases every held key, last pressed first, and stops every repeat.
    void releaseAllKeys();
    // One media key; not gated and not queued.
    void postMediaKey(std::int32_t keyType, bool isDown);
    // Types the text (at most 16,384 UTF-8 bytes) in chunks; waits until every chunk is posted.
    void typeText(std::string_view text);

    std::optional<KeyboardLayoutSnapshot> keyboardLayoutSnapshot(
        const std::optional<MacKeyboardInputSourceIdentity>& identity, KeyboardTypePreference preference);
    void refreshInputSource();
    KeyboardSpecialKeyStyle currentSpecialKeyStyle();
    // The cached Caps Lock state and the language-switch side.
    KeyboardLockStateMessage capsLockStatus();

    // Told of every Caps Lock change a key press causes; called on the event queue. Set and cleared on the
    // event queue, so the hand-over never races a key press.
    void setLockStateDidChange(std::function<void(KeyboardLockStateMessage)> callback);

    MacKeyboardLockController& lockController() { return *lockController_; }
    std::vector<RemoteKeyboardKey> activeKeyboardKeys();
    std::vector<RemoteKeyboardKey> activeModifierKeys();
    std::vector<RemoteKeyboardKey> repeatingKeys();

private:
    void handleKeyOnQueue(RemoteKeyboardKey key, KeyboardEventPhase phase);
    void handleCapsLockPress();
    void postKeyEvent(RemoteKeyboardKey key, bool isDown, bool isRepeat);
    void startRepeat(RemoteKeyboardKey key);
    asio::awaitable<void> repeatKey(RemoteKeyboardKey key, Clock::Duration initialDelay,
                                    Clock::Duration interval);
    std::uint32_t currentKeyboardType();

    Logger logger_{"RemoteKeyboardController"};
    KeyboardEventPoster& poster_;
    SyntheticInputPermission& permission_;
    KeyboardLayoutPort& layout_;
    Clock& clock_;
    std::unique_ptr<MacKeyboardLockController> lockController_;
    std::unique_ptr<MacKeyboardInputSourceSwitcher> inputSourceSwitcher_;
    std::function<KeyRepeatSettings()> repeatSettings_;
    std::vector<RemoteKeyboardKey> activeKeyboardKeys_;
    std::vector<RemoteKeyboardKey> activeModifierKeys_;
    std::map<RemoteKeyboardKey, Task> repeatTimers_;
    KeyboardTypePreference keyboardTypePreference_ = KeyboardTypePreference::automatic;
    std::function<void(KeyboardLockStateMessage)> lockStateDidChange_;
    // Last: destroyed first, so the work still queued runs while the fields above exist.
    SerialQueue eventQueue_{"Quillbridge.RemoteKeyboardController"};
};

}  // namespace quillbridge
