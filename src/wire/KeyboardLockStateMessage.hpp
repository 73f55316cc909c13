#pragma once

#include <optional>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `keyboardLockState` (host to headset): whether the host's Caps Lock is on, and, for input
// sources whose Caps Lock key switches between a Latin input source and another one, whether the Latin
// side is selected (absent when no such switch applies).
struct KeyboardLockStateMessage {
    bool capsLock = false;
    std::optional<bool> languageSwitchIsLatin;
};

template <>
struct JsonFields<KeyboardLockStateMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("capsLock", &KeyboardLockStateMessage::capsLock),
            jsonField("languageSwitchIsLatin", &KeyboardLockStateMessage::languageSwitchIsLatin)};
    }
};

}  // namespace quillbridge
