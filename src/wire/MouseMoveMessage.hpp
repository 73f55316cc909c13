#pragma once

#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `mouseMove` (headset to host): a relative pointer motion in display points, x positive to
// the right and y positive downward (global display coordinates, origin at the top left). The receiver
// moves by whole points and carries the fraction over to the next message.
struct MouseMoveMessage {
    double deltaX = 0;
    double deltaY = 0;
};

template <>
struct JsonFields<MouseMoveMessage> {
    static auto fields() {
        return std::tuple{jsonField("deltaX", &MouseMoveMessage::deltaX),
                          jsonField("deltaY", &MouseMoveMessage::deltaY)};
    }
};

}  // namespace quillbridge
