#pragma once

#include <tuple>

#include "core/Json.hpp"
#include "wire/KeyFrameRequestReason.hpp"

namespace quillbridge {

// Control message `requestKeyFrame`: the headset wants the next encoded frame to be a key frame.
struct KeyFrameRequestMessage {
    KeyFrameRequestReason reason = KeyFrameRequestReason::startup;
};

template <>
struct JsonFields<KeyFrameRequestMessage> {
    static auto fields() { return std::tuple{jsonField("reason", &KeyFrameRequestMessage::reason)}; }
};

}  // namespace quillbridge
