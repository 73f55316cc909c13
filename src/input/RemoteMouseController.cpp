#include "input/RemoteMouseController.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace quillbridge {

namespace {

struct ButtonEventTypes {
    SyntheticMouseEventType press;
    SyntheticMouseEventType release;
    SyntheticMouseEventType drag;
    std::uint32_t mouseButton;
};

ButtonEventTypes eventTypes(MouseButton button) {
    using enum SyntheticMouseEventType;
    switch (button) {
        case MouseButton::primary:
            return {leftMouseDown, leftMouseUp, leftMouseDragged, 0};
        case MouseButton::secondary:
            return {rightMouseDown, rightMouseUp, rightMouseDragged, 1};
        case MouseButton::middle:
        case MouseButton::back:
        case MouseButton::forward:
            break;
    }
    return {otherMouseDown, otherMouseUp, otherMouseDragged, 2};
}

// Nearest integer, halves away from zero, as a signed 64-bit value (saturating).
std::int64_t roundedToInt64(double value) {
    double rounded = std::round(value);
    if (!(rounded > static_cast<double>(std::numeric_limits<std::int64_t>::min())))
        return std::numeric_limits<std::int64_t>::min();
    if (rounded >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(rounded);
}

std::int32_t roundedToInt32(double value) {
    double rounded = std::round(value);
    if (std::isnan(rounded))
        return 0;
    rounded = std::clamp(rounded, -2147483648.0, 2147483647.0);
    return static_cast<std::int32_t>(rounded);
}

// Lines for a pixel delta: at least one line for any non-zero scroll.
std::int64_t lineDelta(double value) {
    if (value == 0)
        return 0;
    double truncated = std::trunc(value);
    if (truncated == 0)
        return value > 0 ? 1 : -1;
    return static_cast<std::int64_t>(truncated);
}

std::int64_t scrollPhaseValue(MouseScrollPhase phase) {
    switch (phase) {
        case MouseScrollPhase::none:
            return 0;
        case MouseScrollPhase::mayBegin:
            return 128;
        case MouseScrollPhase::began:
            return 1;
        case MouseScrollPhase::changed:
            return 2;
        case MouseScrollPhase::ended:
            return 4;
    }
    return 0;
}

}  // namespace

RemoteMouseController::RemoteMouseController(MouseEventPoster& poster, SyntheticInputPermission& permission,
                                             const Clock& clock)
    : poster_(poster), permission_(permission), clock_(clock) {}

DisplayPoint RemoteMouseController::currentLocation() {
    return poster_.cursorLocation().value_or(DisplayPoint{});
}

DisplayPoint RemoteMouseController::clampedLocation(DisplayPoint point) const {
    const DisplayRect& frame = capturedDisplayFrame;
    if (!(frame.width > 0 && frame.height > 0))
        return point;
    return {std::min(std::max(point.x, frame.minX()), frame.maxX() - 1),
            std::min(std::max(point.y, frame.minY()), frame.maxY() - 1)};
}

std::int64_t RemoteMouseController::clickStateForPress(DisplayPoint location) const {
    if (!lastPrimaryReleaseUptime_ || !lastPrimaryReleaseLocation_)
        return 1;
    double elapsed = std::chrono::duration<double>(clock_.now() - *lastPrimaryReleaseUptime_).count();
    double distance =
        std::hypot(location.x - lastPrimaryReleaseLocation_->x, location.y - lastPrimaryReleaseLocation_->y);
    if (elapsed <= poster_.doubleClickIntervalSeconds() && distance <= 4.0) {
        if (activePrimaryClickState_ == std::numeric_limits<std::int64_t>::max())
            return activePrimaryClickState_;
        return activePrimaryClickState_ + 1;
    }
    return 1;
}

void RemoteMouseController::handleButton(MouseButton button, MouseButtonPhase phase) {
    if (!passSyntheticInputGate(permission_, logger_))
        return;
    DisplayPoint location = currentLocation();
    bool isPress = phase == MouseButtonPhase::pressed;
    ButtonEventTypes types = eventTypes(button);
    if (isPress) {
        ++activePrimaryEventNumber_;
        activePrimaryClickState_ = clickStateForPress(location);
    }
    SyntheticMouseEvent event;
    event.type = isPress ? types.press : types.release;
    event.mouseButton = types.mouseButton;
    event.location = location;
    event.buttonNumber = static_cast<std::int64_t>(mouseButtonNumber(button));
    event.clickState = activePrimaryClickState_;
    event.eventNumber = activePrimaryEventNumber_;
    event.userData = activePrimaryEventNumber_;
    event.pressure = isPress ? 1.0 : 0.0;
    if (!poster_.postMouseEvent(event)) {
        logger_.error("Failed to create synthetic mouse events");
        return;
    }
    if (isPress) {
        pressedMouseButton_ = button;
    } else {
        lastPrimaryReleaseUptime_ = clock_.now();
        lastPrimaryReleaseLocation_ = location;
        if (pressedMouseButton_ == button)
            pressedMouseButton_.reset();
    }
}

SyntheticMouseEvent RemoteMouseController::makeMoveEvent(DisplayPoint target, double appliedX,
                                                         double appliedY) const {
    SyntheticMouseEvent event;
    if (pressedMouseButton_) {
        ButtonEventTypes types = eventTypes(*pressedMouseButton_);
        event.type = types.drag;
        event.mouseButton = types.mouseButton;
        event.buttonNumber = static_cast<std::int64_t>(mouseButtonNumber(*pressedMouseButton_));
        event.pressure = 1.0;
    } else {
        event.type = SyntheticMouseEventType::mouseMoved;
        event.mouseButton = 0;
        event.buttonNumber = 0;
        event.pressure = 0.0;
    }
    event.location = target;
    event.clickState = activePrimaryClickState_;
    event.eventNumber = activePrimaryEventNumber_;
    event.deltaX = roundedToInt64(appliedX);
    event.deltaY = roundedToInt64(appliedY);
    event.userData = activePrimaryEventNumber_;
    return event;
}

void RemoteMouseController::moveBy(double deltaX, double deltaY) {
    if (!passSyntheticInputGate(permission_, logger_))
        return;
    residualDeltaX_ += deltaX;
    residualDeltaY_ += deltaY;
    double stepX = std::trunc(residualDeltaX_);
    double stepY = std::trunc(residualDeltaY_);
    if (!std::isfinite(stepX) || !std::isfinite(stepY)) {
        // A non-finite delta would poison every later move; drop it with the residue.
        residualDeltaX_ = 0;
        residualDeltaY_ = 0;
        return;
    }
    residualDeltaX_ -= stepX;
    residualDeltaY_ -= stepY;
    if (stepX == 0 && stepY == 0)
        return;
    DisplayPoint current = currentLocation();
    DisplayPoint target = clampedLocation({current.x + stepX, current.y + stepY});
    double appliedX = target.x - current.x;
    double appliedY = target.y - current.y;
    if (appliedX == 0 && appliedY == 0) {
        residualDeltaX_ = 0;
        residualDeltaY_ = 0;
        return;
    }
    if (!poster_.postMouseEvent(makeMoveEvent(target, appliedX, appliedY)))
        logger_.error("Failed to create synthetic mouse move event");
}

void RemoteMouseController::moveTo(double normalizedX, double normalizedY) {
    if (!passSyntheticInputGate(permission_, logger_))
        return;
    const DisplayRect& frame = capturedDisplayFrame;
    if (!(frame.width > 0 && frame.height > 0)) {
        logger_.error("Captured display frame is unavailable for absolute cursor movement");
        return;
    }
    residualDeltaX_ = 0;
    residualDeltaY_ = 0;
    // NaN counts as 0: it must not reach the pointer.
    double nx = std::isnan(normalizedX) ? 0 : std::clamp(normalizedX, 0.0, 1.0);
    double ny = std::isnan(normalizedY) ? 0 : std::clamp(normalizedY, 0.0, 1.0);
    DisplayPoint target =
        clampedLocation({frame.minX() + nx * frame.width, frame.minY() + ny * frame.height});
    DisplayPoint current = currentLocation();
    if (target == current)
        return;
    if (!poster_.postMouseEvent(makeMoveEvent(target, target.x - current.x, target.y - current.y)))
        logger_.error("Failed to create synthetic absolute mouse move event");
}

void RemoteMouseController::scroll(double deltaX, double deltaY, MouseScrollPhase phase,
                                   MouseScrollMomentumPhase momentumPhase) {
    if (!passSyntheticInputGate(permission_, logger_))
        return;
    bool withoutMomentum = momentumPhase == MouseScrollMomentumPhase::none;
    if (withoutMomentum && phase == MouseScrollPhase::mayBegin) {
        scrollGestureHasEmittedDelta_ = false;
        residualScrollX_ = 0;
        residualScrollY_ = 0;
    }
    auto takeWhole = [](double& residual, double delta) {
        residual += delta;
        if (!std::isfinite(residual)) {
            residual = 0;
            return std::int32_t{0};
        }
        std::int32_t whole = roundedToInt32(residual);
        residual -= whole;
        return whole;
    };
    std::int32_t dx = takeWhole(residualScrollX_, deltaX);
    std::int32_t dy = takeWhole(residualScrollY_, deltaY);
    bool isZero = dx == 0 && dy == 0;

    std::int64_t scrollPhase = 0;
    std::int64_t momentum = 0;
    std::int64_t count = 0;
    if (withoutMomentum) {
        switch (phase) {
            case MouseScrollPhase::none:
                break;
            case MouseScrollPhase::mayBegin:
                scrollPhase = 128;
                break;
            case MouseScrollPhase::began:
                if (isZero)
                    return;
                scrollGestureHasEmittedDelta_ = true;
                scrollPhase = 1;
                break;
            case MouseScrollPhase::changed:
                if (isZero)
                    return;
                scrollPhase = scrollGestureHasEmittedDelta_ ? 2 : 1;
                scrollGestureHasEmittedDelta_ = true;
                break;
            case MouseScrollPhase::ended: {
                bool hadEmitted = scrollGestureHasEmittedDelta_;
                scrollGestureHasEmittedDelta_ = false;
                residualScrollX_ = 0;
                residualScrollY_ = 0;
                if (!hadEmitted)
                    return;
                scrollPhase = 4;
                count = 1;
                break;
            }
        }
    } else {
        scrollPhase = scrollPhaseValue(phase);
        switch (momentumPhase) {
            case MouseScrollMomentumPhase::begin:
                momentum = 1;
                count = 1;
                break;
            case MouseScrollMomentumPhase::continuous:
                momentum = 2;
                count = 1;
                break;
            case MouseScrollMomentumPhase::end:
            case MouseScrollMomentumPhase::none:
                momentum = 3;
                count = 0;
                break;
        }
    }

    SyntheticScrollEvent event;
    event.pointDeltaY = dy;
    event.pointDeltaX = dx;
    event.lineDeltaY = lineDelta(dy / 10.0);
    event.lineDeltaX = lineDelta(dx / 10.0);
    event.fixedPointDeltaY = dy / 10.0;
    event.fixedPointDeltaX = dx / 10.0;
    event.scrollPhase = scrollPhase;
    event.momentumPhase = momentum;
    event.scrollCount = count;
    event.isContinuous = true;
    if (!poster_.postScrollEvent(event))
        logger_.error("Failed to create synthetic scroll event");
}

}  // namespace quillbridge
