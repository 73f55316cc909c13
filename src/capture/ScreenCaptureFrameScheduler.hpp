#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace quillbridge {

// When a screen capture thread grabs, following what it was told: a change of the screen's content (a damage
// notice, a cursor move), a change of the captured output's geometry, and the passing of time. A change is
// grabbed at once when at least one frame interval has passed since the previous grab was due, else as soon
// as that interval is up (the interval runs from when the previous grab was due, so a late wake-up does not
// push every later frame back). A periodic tick, one interval after the previous tick or grab, looks at what
// changes without a notice (the cursor) and sends one idle frame after a grab once the screen stays static.
// A grab that found no free buffer or failed is tried again at the next tick. Pure: no clock of its own and
// no I/O; one capture thread owns it.
class ScreenCaptureFrameScheduler {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::nanoseconds;

    // What the capture thread does in one pass of its loop.
    struct Pass {
        // Nothing to do before this much time has passed (or an event or setting arrives): the thread
        // waits; none of the fields below apply.
        std::optional<Duration> wait;
        // The periodic tick is due in this pass.
        bool tick = false;
        // The output's geometry is to be looked at again before anything is grabbed.
        bool checkGeometry = false;
        // A grab may be made in this pass (the frame interval since the previous grab is up).
        bool grabAllowed = false;
        // When a grab became allowed.
        TimePoint grabAllowedAt{};
    };

    // `deliversScreen`: whether anyone takes the screen's frames (without, nothing is grabbed and no idle
    // frame is sent). The first tick is due at `start`; the first pass looks at the geometry and grabs.
    ScreenCaptureFrameScheduler(bool deliversScreen, TimePoint start);

    // The interval between frames: the configured minimum, or without one (zero or less) the display's
    // refresh rate (60 Hz when unknown or under 1 Hz).
    static Duration frameInterval(std::int64_t minimumFrameIntervalNanoseconds,
                                  std::optional<double> refreshRate);

    // The capture's settings changed: look at the geometry again and grab.
    void settingsChanged();
    // The screen's content changed (a damage notice, a cursor move).
    void contentChanged();
    // The output's geometry may have changed (a RandR notice).
    void geometryChanged();

    // Decides the pass at `now`; a tick that falls due is counted off here.
    Pass plan(TimePoint now, Duration frameInterval);
    // The geometry was looked at again (and the frames sized for it): the next grab shows it.
    void geometryChecked();
    // Whether the cursor is to be read in this pass: on every tick (its moves send no notice) and before
    // every grab (it is drawn in).
    bool looksAtCursor(const Pass& pass) const;
    // Whether to grab in this pass (after the cursor was looked at).
    bool grabs(const Pass& pass) const;
    // Every pooled buffer was held: the grab is tried again at the next tick.
    void grabSkipped();
    // The grab failed: the geometry is looked at again and the grab tried at the next tick.
    void grabFailed();
    // A frame was grabbed at `grabbedAt`.
    void grabbed(const Pass& pass, TimePoint grabbedAt, Duration frameInterval);
    // Whether this pass sends the idle frame: a tick with no change after a grab, once.
    bool sendsIdleFrame(const Pass& pass) const;
    void idleFrameSent();

private:
    bool deliversScreen_;
    bool pendingChange_ = true;
    bool idleSent_ = false;
    bool geometryChanged_ = true;
    TimePoint nextTick_;
    // When the previous grab was due: the grab's own time when it came at once, the end of the interval it
    // waited for otherwise, so that the frame rate holds under a screen that never stops changing.
    std::optional<TimePoint> lastGrabDue_;
    // Whether the change waiting to be grabbed was held back until a grab is due.
    bool heldBack_ = false;
    // The earliest time a grab is tried again after one that found every pooled buffer held or failed.
    TimePoint retryGrabAt_{};
};

}  // namespace quillbridge
