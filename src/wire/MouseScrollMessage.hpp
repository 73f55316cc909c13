#pragma once

#include <optional>
#include <tuple>

#include "core/Json.hpp"
#include "wire/MouseScrollMomentumPhase.hpp"
#include "wire/MouseScrollPhase.hpp"

namespace quillbridge {

// Control message `mouseScroll` (headset to host): one step of scrolling, amounts in pixels. The momentum
// velocities (pixels per second) count only on a step whose `phase` is `ended` and `momentumPhase` is
// `none`, when both are present and at least one has a magnitude of 1 or more: the host then generates
// the momentum scrolling itself. Any step whose `momentumPhase` is `none` first ends momentum the host is
// still generating.
struct MouseScrollMessage {
    double deltaX = 0;
    double deltaY = 0;
    MouseScrollPhase phase = MouseScrollPhase::none;
    MouseScrollMomentumPhase momentumPhase = MouseScrollMomentumPhase::none;
    std::optional<double> momentumVelocityX;
    std::optional<double> momentumVelocityY;
};

template <>
struct JsonFields<MouseScrollMessage> {
    static auto fields() {
        return std::tuple{jsonField("deltaX", &MouseScrollMessage::deltaX),
                          jsonField("deltaY", &MouseScrollMessage::deltaY),
                          jsonField("phase", &MouseScrollMessage::phase),
                          jsonField("momentumPhase", &MouseScrollMessage::momentumPhase),
                          jsonField("momentumVelocityX", &MouseScrollMessage::momentumVelocityX),
                          jsonField("momentumVelocityY", &MouseScrollMessage::momentumVelocityY)};
    }
};

}  // namespace quillbridge
