#include "input/RemoteKeyboardController.hpp"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/UnicodeText.hpp"
#include "input/KeyboardLayoutProbe.hpp"
#include "input/KeyboardTextChunks.hpp"
#include "input/RemoteKeyboardKeyCodes.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

namespace {

void addUnique(std::vector<RemoteKeyboardKey>& keys, RemoteKeyboardKey key) {
    if (std::find(keys.begin(), keys.end(), key) == keys.end())
        keys.push_back(key);
}

void removeKey(std::vector<RemoteKeyboardKey>& keys, RemoteKeyboardKey key) {
    keys.erase(std::remove(keys.begin(), keys.end(), key), keys.end());
}

Clock::Duration secondsToDuration(double seconds) {
    return std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

RemoteKeyboardController::RemoteKeyboardController(Dependencies dependencies)
    : poster_(dependencies.poster),
      permission_(dependencies.permission),
      layout_(dependencies.layout),
      clock_(dependencies.clock),
      lockController_(std::move(dependencies.lockController)),
      inputSourceSwitcher_(std::move(dependencies.inputSourceSwitcher)),
      repeatSettings_(std::move(dependencies.repeatSettings)) {}

RemoteKeyboardController::~RemoteKeyboardController() {
    // Cancel the repeats on the queue; their cancelled bodies unwind there before the queue stops.
    eventQueue_.sync([this] { repeatTimers_.clear(); });
}

std::uint32_t RemoteKeyboardController::currentKeyboardType() {
    return keyboardTypeFor(keyboardTypePreference_, poster_.hardwareKeyboardType());
}

void RemoteKeyboardController::handleKey(RemoteKeyboardKey key, KeyboardEventPhase phase) {
    eventQueue_.sync([&] { handleKeyOnQueue(key, phase); });
}

void RemoteKeyboardController::handleKeyOnQueue(RemoteKeyboardKey key, KeyboardEventPhase phase) {
    if (!passSyntheticInputGate(permission_, logger_))
        return;
    bool isPress = phase == KeyboardEventPhase::pressed;
    if (key == RemoteKeyboardKey::capsLock) {
        if (isPress)
            handleCapsLockPress();
        if (isPress)
            addUnique(activeKeyboardKeys_, key);
        else
            removeKey(activeKeyboardKeys_, key);
        return;
    }
    postKeyEvent(key, isPress, false);
    if (isPress) {
        addUnique(activeKeyboardKeys_, key);
        if (isModifierKey(key))
            addUnique(activeModifierKeys_, key);
        startRepeat(key);
    } else {
        removeKey(activeKeyboardKeys_, key);
        if (isModifierKey(key))
            removeKey(activeModifierKeys_, key);
        repeatTimers_.erase(key);
    }
}

void RemoteKeyboardController::handleCapsLockPress() {
    if (inputSourceSwitcher_ && inputSourceSwitcher_->handleCapsLock()) {
        if (lockStateDidChange_) {
            KeyboardLockStateMessage state;
            state.capsLock = lockController_->cachedCapsLockIsEnabled();
            state.languageSwitchIsLatin = inputSourceSwitcher_->currentLanguageSwitchIsLatin();
            lockStateDidChange_(state);
        }
        return;
    }
    std::optional<bool> newState = lockController_->toggleCapsLock();
    if (newState && lockStateDidChange_)
        lockStateDidChange_(KeyboardLockStateMessage{*newState, std::nullopt});
}

void RemoteKeyboardController::postKeyEvent(RemoteKeyboardKey key, bool isDown, bool isRepeat) {
    SyntheticKeyEvent event;
    event.key = key;
    event.virtualKeyCode = virtualKeyCode(key);
    event.isDown = isDown;
    event.isRepeat = isRepeat;
    event.isFlagsChanged = isModifierKey(key);
    event.keyboardType = currentKeyboardType();
    std::vector<RemoteKeyboardKey> modifiers = activeModifierKeys_;
    if (isModifierKey(key)) {
        if (isDown)
            addUnique(modifiers, key);
        else
            removeKey(modifiers, key);
    }
    std::uint64_t flags = 0;
    for (RemoteKeyboardKey modifier : modifiers)
        flags |= modifierFlag(modifier);
    if (lockController_->cachedCapsLockIsEnabled())
        flags |= keyboardFlagAlphaShift;
    event.flags = flags;
    if (!poster_.postKeyEvent(event))
        logger_.error("Failed to create synthetic keyboard event");
}

void RemoteKeyboardController::startRepeat(RemoteKeyboardKey key) {
    if (!isRepeatableKey(key) || repeatTimers_.contains(key))
        return;
    if (poster_.desktopRepeatsHeldKeys())
        return;
    KeyRepeatSettings settings = repeatSettings_ ? repeatSettings_() : KeyRepeatSettings{};
    double initialDelay = 40.0 / 60.0;
    double interval = 0.1;
    if (settings.initialKeyRepeat && *settings.initialKeyRepeat > 0)
        initialDelay = *settings.initialKeyRepeat / 60.0;
    if (settings.keyRepeat && *settings.keyRepeat > 0)
        interval = *settings.keyRepeat / 60.0;
    initialDelay = std::max(initialDelay, 0.05);
    interval = std::max(interval, 0.01);
    repeatTimers_.emplace(
        key, Task::spawn(eventQueue_.executor(),
                         repeatKey(key, secondsToDuration(initialDelay), secondsToDuration(interval)),
                         "key repeat"));
}

asio::awaitable<void> RemoteKeyboardController::repeatKey(RemoteKeyboardKey key, Clock::Duration initialDelay,
                                                          Clock::Duration interval) {
    Clock::TimePoint deadline = clock_.now() + initialDelay;
    for (;;) {
        co_await clock_.sleepUntil(deadline);
        if (std::find(activeKeyboardKeys_.begin(), activeKeyboardKeys_.end(), key) !=
            activeKeyboardKeys_.end())
            postKeyEvent(key, true, true);
        deadline += interval;
    }
}

void RemoteKeyboardController::setKeyboardTypePreference(KeyboardTypePreference preference) {
    eventQueue_.sync([&] { keyboardTypePreference_ = preference; });
}

KeyboardTypePreference RemoteKeyboardController::keyboardTypePreference() {
    return eventQueue_.sync([&] { return keyboardTypePreference_; });
}

void RemoteKeyboardController::pressChord(std::span<const RemoteKeyboardKey> keys) {
    for (RemoteKeyboardKey key : keys) {
        if (!poster_.hasKey(key)) {
            // Half a chord could do something else entirely.
            logger_.error("Key chord needs the ", rawValue(key),
                          " key, which this desktop lacks; nothing is pressed");
            return;
        }
    }
    eventQueue_.sync([&] {
        for (RemoteKeyboardKey key : keys)
            handleKeyOnQueue(key, KeyboardEventPhase::pressed);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key)
            handleKeyOnQueue(*key, KeyboardEventPhase::released);
    });
}

void RemoteKeyboardController::releaseAllKeys() {
    eventQueue_.sync([&] {
        std::vector<RemoteKeyboardKey> held = activeKeyboardKeys_;
        for (auto key = held.rbegin(); key != held.rend(); ++key)
            handleKeyOnQueue(*key, KeyboardEventPhase::released);
        repeatTimers_.clear();
    });
}

void RemoteKeyboardController::postMediaKey(std::int32_t keyType, bool isDown) {
    if (!poster_.postMediaKey(keyType, isDown))
        logger_.error("Failed to create media key event");
}

void RemoteKeyboardController::typeText(std::string_view text) {
    if (text.empty() || text.size() > maximumTypedTextBytes || !isValidUtf8(text)) {
        logger_.error("Rejected invalid remote text input");
        return;
    }
    eventQueue_.sync([&] {
        if (!passSyntheticInputGate(permission_, logger_))
            return;
        std::uint32_t keyboardType = currentKeyboardType();
        for (const std::u16string& chunk : splitTextIntoKeyboardChunks(text)) {
            if (!poster_.postText(chunk, keyboardType))
                logger_.error("Failed to create Unicode keyboard event");
        }
    });
}

std::optional<KeyboardLayoutSnapshot> RemoteKeyboardController::keyboardLayoutSnapshot(
    const std::optional<MacKeyboardInputSourceIdentity>& identity, KeyboardTypePreference preference) {
    return KeyboardLayoutProbe(layout_).snapshot(identity, preference);
}

void RemoteKeyboardController::refreshInputSource() {
    if (inputSourceSwitcher_)
        inputSourceSwitcher_->refresh();
}

KeyboardSpecialKeyStyle RemoteKeyboardController::currentSpecialKeyStyle() {
    return inputSourceSwitcher_ ? inputSourceSwitcher_->currentSpecialKeyStyle()
                                : KeyboardSpecialKeyStyle::standard;
}

KeyboardLockStateMessage RemoteKeyboardController::capsLockStatus() {
    KeyboardLockStateMessage status;
    status.capsLock = lockController_->cachedCapsLockIsEnabled();
    if (inputSourceSwitcher_)
        status.languageSwitchIsLatin = inputSourceSwitcher_->currentLanguageSwitchIsLatin();
    return status;
}

void RemoteKeyboardController::setLockStateDidChange(std::function<void(KeyboardLockStateMessage)> callback) {
    eventQueue_.sync([&] { lockStateDidChange_ = std::move(callback); });
}

std::vector<RemoteKeyboardKey> RemoteKeyboardController::activeKeyboardKeys() {
    return eventQueue_.sync([&] { return activeKeyboardKeys_; });
}

std::vector<RemoteKeyboardKey> RemoteKeyboardController::activeModifierKeys() {
    return eventQueue_.sync([&] { return activeModifierKeys_; });
}

std::vector<RemoteKeyboardKey> RemoteKeyboardController::repeatingKeys() {
    return eventQueue_.sync([&] {
        std::vector<RemoteKeyboardKey> keys;
        for (const auto& [key, task] : repeatTimers_)
            keys.push_back(key);
        return keys;
    });
}

}  // namespace quillbridge
