#pragma once

#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `personaCameraSharingState`: whether Persona camera sharing is switched on at the headset.
struct PersonaCameraSharingStateMessage {
    bool isEnabled = false;
};

template <>
struct JsonFields<PersonaCameraSharingStateMessage> {
    static auto fields() {
        return std::tuple{jsonField("isEnabled", &PersonaCameraSharingStateMessage::isEnabled)};
    }
};

}  // namespace quillbridge
