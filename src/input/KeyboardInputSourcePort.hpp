#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillbridge {

// What the input-source switcher knows of one keyboard input source.
struct KeyboardInputSource {
    std::string inputSourceID;
    std::vector<std::string> languages;
    bool isASCIICapable = false;
    bool isKeyboardInputSource = true;
    bool isEnabled = true;
    bool isSelectCapable = true;

    bool operator==(const KeyboardInputSource&) const = default;
};

// The desktop's keyboard input sources. Implementations are safe to call from any thread.
class KeyboardInputSourcePort {
public:
    virtual ~KeyboardInputSourcePort() = default;

    // Whether Caps Lock acts as the switch between a Latin and a non-Latin input source.
    virtual bool capsLockSwitchesInputSource() = 0;
    virtual std::optional<KeyboardInputSource> currentKeyboardInputSource() = 0;
    // The enabled input sources, in the system's order.
    virtual std::vector<KeyboardInputSource> enabledInputSources() = 0;
    virtual std::optional<KeyboardInputSource> currentASCIICapableKeyboardInputSource() = 0;
    // Selects the source; 0 on success, else a status code.
    virtual int selectInputSource(const std::string& inputSourceID) = 0;
};

}  // namespace quillbridge
