#pragma once

#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `microphoneRequest`: the host asks the headset to start (true) or stop (false) sending
// microphone audio.
struct MicrophoneRequestMessage {
    bool isEnabled = false;
};

template <>
struct JsonFields<MicrophoneRequestMessage> {
    static auto fields() { return std::tuple{jsonField("isEnabled", &MicrophoneRequestMessage::isEnabled)}; }
};

}  // namespace quillbridge
