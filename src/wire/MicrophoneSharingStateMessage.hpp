#pragma once

#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `microphoneSharingState`: whether microphone sharing is switched on at the headset.
struct MicrophoneSharingStateMessage {
    bool isEnabled = false;
};

template <>
struct JsonFields<MicrophoneSharingStateMessage> {
    static auto fields() {
        return std::tuple{jsonField("isEnabled", &MicrophoneSharingStateMessage::isEnabled)};
    }
};

}  // namespace quillbridge
