#pragma once

#include <tuple>

#include "core/Json.hpp"
#include "wire/KeyboardEventPhase.hpp"
#include "wire/RemoteKeyboardKey.hpp"

namespace quillbridge {

// Control message `keyboardEvent` (headset to host): one key goes down or up.
struct KeyboardEventMessage {
    RemoteKeyboardKey key = RemoteKeyboardKey::a;
    KeyboardEventPhase phase = KeyboardEventPhase::pressed;
};

template <>
struct JsonFields<KeyboardEventMessage> {
    static auto fields() {
        return std::tuple{jsonField("key", &KeyboardEventMessage::key),
                          jsonField("phase", &KeyboardEventMessage::phase)};
    }
};

}  // namespace quillbridge
