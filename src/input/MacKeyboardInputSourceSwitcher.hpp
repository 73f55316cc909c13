#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "core/Logger.hpp"
#include "input/KeyboardInputSourcePort.hpp"
#include "pairing/DefaultsStore.hpp"
#include "wire/KeyboardSpecialKeyStyle.hpp"

namespace quillbridge {

// Gives the headset's Caps Lock key the desktop's language-switch behaviour: where Caps Lock switches
// between a non-Latin and a Latin input source, a press selects the other side instead of toggling Caps
// Lock. Also reports the special-key style for the current source and which side of the switch is active.
// Remembers the last non-Latin source and the last language-switch source in the user defaults.
//
// Its state is guarded by a lock of its own (the port is thread-safe), so the keyboard queue and the session
// may call it from their threads without a hop; it calls nothing that could wait for them.
class MacKeyboardInputSourceSwitcher {
public:
    MacKeyboardInputSourceSwitcher(KeyboardInputSourcePort& port, DefaultsStore& defaults);

    // Notes the current source when it is non-Latin.
    void refresh();
    // True when it selected another input source.
    bool handleCapsLock();
    KeyboardSpecialKeyStyle currentSpecialKeyStyle();
    std::optional<bool> currentLanguageSwitchIsLatin();

    std::optional<std::string> lastNonLatinInputSourceID() const;
    std::optional<std::string> lastCapsPositionInputSourceID() const;

private:
    std::optional<KeyboardInputSource> sourceByIdentifier(const std::string& identifier);
    void remember(const KeyboardInputSource& source, bool romanSwitchOn);
    std::optional<KeyboardInputSource> rememberedNonLatinSource(bool romanSwitchOn);
    std::optional<KeyboardSpecialKeyStyle> rememberedCapsPositionStyle(bool romanSwitchOn);

    Logger logger_{"MacKeyboardInputSourceSwitcher"};
    KeyboardInputSourcePort& port_;
    DefaultsStore& defaults_;
    mutable std::mutex mutex_;
    std::optional<std::string> lastNonLatinInputSourceID_;
    std::optional<std::string> lastCapsPositionInputSourceID_;
};

}  // namespace quillbridge
