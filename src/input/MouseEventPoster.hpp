#pragma once

#include <cstdint>
#include <optional>

namespace quillbridge {

// A point in global display coordinates (origin at the top-left corner of the main display, y downwards).
struct DisplayPoint {
    double x = 0;
    double y = 0;

    bool operator==(const DisplayPoint&) const = default;
};

// A rectangle in global display coordinates.
struct DisplayRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }

    bool operator==(const DisplayRect&) const = default;
};

// The kind of a synthetic mouse event; the values are the platform-neutral event type numbers the
// controllers reason with.
enum class SyntheticMouseEventType : std::uint32_t {
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    otherMouseDown = 25,
    otherMouseUp = 26,
    otherMouseDragged = 27,
};

// One button press, release or pointer move. `mouseButton` is the button class (0 left, 1 right, 2 other);
// `buttonNumber` tells the other buttons apart (2 middle, 3 back, 4 forward).
struct SyntheticMouseEvent {
    SyntheticMouseEventType type = SyntheticMouseEventType::mouseMoved;
    std::uint32_t mouseButton = 0;
    DisplayPoint location;
    std::int64_t buttonNumber = 0;
    std::int64_t clickState = 0;
    std::int64_t eventNumber = 0;
    std::int64_t deltaX = 0;
    std::int64_t deltaY = 0;
    std::int64_t userData = 0;
    double pressure = 0;

    bool operator==(const SyntheticMouseEvent&) const = default;
};

// One continuous (pixel) scroll-wheel event. Axis 1 is vertical, axis 2 horizontal; a positive vertical
// delta scrolls up. Phases: scroll 0 none, 1 began, 2 changed, 4 ended, 128 may begin; momentum 0 none,
// 1 begin, 2 continue, 3 end.
struct SyntheticScrollEvent {
    std::int32_t pointDeltaY = 0;
    std::int32_t pointDeltaX = 0;
    std::int64_t lineDeltaY = 0;
    std::int64_t lineDeltaX = 0;
    double fixedPointDeltaY = 0;
    double fixedPointDeltaX = 0;
    std::int64_t scrollPhase = 0;
    std::int64_t momentumPhase = 0;
    std::int64_t scrollCount = 0;
    bool isContinuous = true;

    bool operator==(const SyntheticScrollEvent&) const = default;
};

// Posts synthetic mouse and scroll events to the desktop as if they came from real hardware.
class MouseEventPoster {
public:
    virtual ~MouseEventPoster() = default;

    // The pointer's current location; nothing when it cannot be read.
    virtual std::optional<DisplayPoint> cursorLocation() = 0;
    // The longest pause between a release and the next press that still counts as a multiple click.
    virtual double doubleClickIntervalSeconds() = 0;
    // False when the event could not be made (nothing was posted).
    virtual bool postMouseEvent(const SyntheticMouseEvent& event) = 0;
    virtual bool postScrollEvent(const SyntheticScrollEvent& event) = 0;
};

}  // namespace quillbridge
