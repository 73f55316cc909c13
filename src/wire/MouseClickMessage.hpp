#pragma once

#include <tuple>

#include "core/Json.hpp"
#include "wire/MouseButton.hpp"
#include "wire/MouseButtonPhase.hpp"

namespace quillbridge {

// Control message `mouseClick` (headset to host): one button goes down or up at the pointer's position.
struct MouseClickMessage {
    MouseButton button = MouseButton::primary;
    MouseButtonPhase phase = MouseButtonPhase::pressed;
};

template <>
struct JsonFields<MouseClickMessage> {
    static auto fields() {
        return std::tuple{jsonField("button", &MouseClickMessage::button),
                          jsonField("phase", &MouseClickMessage::phase)};
    }
};

}  // namespace quillbridge
