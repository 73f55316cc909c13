#pragma once

#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `personaCameraRequest`: the host asks the headset to start (true) or stop (false) sending
// Persona video.
struct PersonaCameraRequestMessage {
    bool isEnabled = false;
};

template <>
struct JsonFields<PersonaCameraRequestMessage> {
    static auto fields() {
        return std::tuple{jsonField("isEnabled", &PersonaCameraRequestMessage::isEnabled)};
    }
};

}  // namespace quillbridge
