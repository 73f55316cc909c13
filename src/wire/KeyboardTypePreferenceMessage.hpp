#pragma once

#include <tuple>

#include "core/Json.hpp"
#include "wire/KeyboardTypePreference.hpp"

namespace quillbridge {

// Control message `keyboardTypePreference` (headset to host): the hardware keyboard type the host is to
// assume when it translates keys.
struct KeyboardTypePreferenceMessage {
    KeyboardTypePreference preference = KeyboardTypePreference::automatic;
};

template <>
struct JsonFields<KeyboardTypePreferenceMessage> {
    static auto fields() {
        return std::tuple{jsonField("preference", &KeyboardTypePreferenceMessage::preference)};
    }
};

}  // namespace quillbridge
