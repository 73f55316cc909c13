#pragma once

#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `mousePosition` (headset to host): an absolute pointer position on the captured
// display, 0 at its left (top) edge and 1 at its right (bottom) edge. Values outside 0 to 1 decode as
// they are; the receiver clamps them.
struct MousePositionMessage {
    double normalizedX = 0;
    double normalizedY = 0;
};

template <>
struct JsonFields<MousePositionMessage> {
    static auto fields() {
        return std::tuple{jsonField("normalizedX", &MousePositionMessage::normalizedX),
                          jsonField("normalizedY", &MousePositionMessage::normalizedY)};
    }
};

}  // namespace quillbridge
