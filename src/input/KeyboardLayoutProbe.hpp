#pragma once

#include <optional>

#include "input/KeyboardLayoutPort.hpp"
#include "input/MacKeyboardInputSourceIdentity.hpp"
#include "wire/KeyboardLayoutSnapshot.hpp"
#include "wire/KeyboardTypePreference.hpp"

namespace quillbridge {

// Works out, for every key, what it produces in the current layout under the eight combinations of
// Shift, Caps Lock and Option, and in which of them it is a dead key. Keeps no state between calls.
class KeyboardLayoutProbe {
public:
    explicit KeyboardLayoutProbe(KeyboardLayoutPort& port) : port_(port) {}

    // Nothing when no layout can be read. The special-key style is left for the caller.
    std::optional<KeyboardLayoutSnapshot> snapshot(
        const std::optional<MacKeyboardInputSourceIdentity>& identity, KeyboardTypePreference preference);

private:
    KeyboardLayoutPort& port_;
};

}  // namespace quillbridge
