#pragma once

#include <cstdint>
#include <optional>

#include "core/Clock.hpp"
#include "core/Logger.hpp"
#include "input/MouseEventPoster.hpp"
#include "input/SyntheticInputPermission.hpp"
#include "wire/MouseButton.hpp"
#include "wire/MouseButtonPhase.hpp"
#include "wire/MouseScrollMomentumPhase.hpp"
#include "wire/MouseScrollPhase.hpp"

namespace quillbridge {

// Turns the headset's mouse messages into synthetic button, move and scroll events: click counting shared by
// all buttons, relative moves with sub-point residuals, absolute moves inside the captured display, and
// continuous pixel scrolling with gesture and momentum phases. No lock and no queue of its own: every call
// comes from the session's one serial context. Failures are logged, never reported.
class RemoteMouseController {
public:
    RemoteMouseController(MouseEventPoster& poster, SyntheticInputPermission& permission, const Clock& clock);

    void handleButton(MouseButton button, MouseButtonPhase phase);
    void moveBy(double deltaX, double deltaY);
    void moveTo(double normalizedX, double normalizedY);
    void scroll(double deltaX, double deltaY, MouseScrollPhase phase, MouseScrollMomentumPhase momentumPhase);

    // Frame of the captured display in global coordinates; all zero until the session reports one.
    DisplayRect capturedDisplayFrame;

    std::optional<MouseButton> pressedMouseButton() const { return pressedMouseButton_; }
    double residualDeltaX() const { return residualDeltaX_; }
    double residualDeltaY() const { return residualDeltaY_; }
    double residualScrollX() const { return residualScrollX_; }
    double residualScrollY() const { return residualScrollY_; }

    // The point clamped to the captured display (its last column and row are maxX - 1 and maxY - 1);
    // unchanged while no display is known.
    DisplayPoint clampedLocation(DisplayPoint point) const;

private:
    DisplayPoint currentLocation();
    std::int64_t clickStateForPress(DisplayPoint location) const;
    SyntheticMouseEvent makeMoveEvent(DisplayPoint target, double appliedX, double appliedY) const;

    MouseEventPoster& poster_;
    SyntheticInputPermission& permission_;
    const Clock& clock_;
    Logger logger_{"RemoteMouseController"};
    std::optional<MouseButton> pressedMouseButton_;
    std::int64_t activePrimaryEventNumber_ = 0;
    std::int64_t activePrimaryClickState_ = 1;
    std::optional<Clock::TimePoint> lastPrimaryReleaseUptime_;
    std::optional<DisplayPoint> lastPrimaryReleaseLocation_;
    double residualDeltaX_ = 0;
    double residualDeltaY_ = 0;
    double residualScrollX_ = 0;
    double residualScrollY_ = 0;
    bool scrollGestureHasEmittedDelta_ = false;
};

}  // namespace quillbridge
