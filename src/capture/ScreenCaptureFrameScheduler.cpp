#include "capture/ScreenCaptureFrameScheduler.hpp"

#include <algorithm>

namespace quillbridge {

ScreenCaptureFrameScheduler::ScreenCaptureFrameScheduler(bool deliversScreen, TimePoint start)
    : deliversScreen_(deliversScreen), nextTick_(start) {}

ScreenCaptureFrameScheduler::Duration ScreenCaptureFrameScheduler::frameInterval(
    std::int64_t minimumFrameIntervalNanoseconds, std::optional<double> refreshRate) {
    if (minimumFrameIntervalNanoseconds > 0) {
        return Duration(minimumFrameIntervalNanoseconds);
    }
    // No limit asked for: at most the display's own rate.
    const double refresh = refreshRate.value_or(60.0);
    return Duration(static_cast<std::int64_t>(1e9 / (refresh >= 1 ? refresh : 60.0)));
}

void ScreenCaptureFrameScheduler::settingsChanged() {
    geometryChanged_ = true;
    pendingChange_ = true;
}

void ScreenCaptureFrameScheduler::contentChanged() {
    pendingChange_ = true;
}

void ScreenCaptureFrameScheduler::geometryChanged() {
    geometryChanged_ = true;
}

ScreenCaptureFrameScheduler::Pass ScreenCaptureFrameScheduler::plan(TimePoint now, Duration frameInterval) {
    Pass pass;
    pass.grabAllowedAt = retryGrabAt_;
    if (lastGrabDue_) {
        pass.grabAllowedAt = std::max(pass.grabAllowedAt, *lastGrabDue_ + frameInterval);
    }
    pass.tick = now >= nextTick_;
    pass.grabAllowed = now >= pass.grabAllowedAt;
    pass.checkGeometry = geometryChanged_;
    const bool wantsGrab = pendingChange_ && deliversScreen_;
    heldBack_ = heldBack_ || (wantsGrab && !pass.grabAllowed);
    if (!pass.tick && !geometryChanged_ && !(wantsGrab && pass.grabAllowed)) {
        const auto until = wantsGrab ? std::min(nextTick_, pass.grabAllowedAt) : nextTick_;
        pass.wait = until - now;
        return pass;
    }
    if (pass.tick) {
        nextTick_ += frameInterval;
        if (nextTick_ < now) {
            nextTick_ = now + frameInterval;
        }
    }
    return pass;
}

void ScreenCaptureFrameScheduler::geometryChecked() {
    geometryChanged_ = false;
    pendingChange_ = true;
}

bool ScreenCaptureFrameScheduler::looksAtCursor(const Pass& pass) const {
    return pass.tick || grabs(pass);
}

bool ScreenCaptureFrameScheduler::grabs(const Pass& pass) const {
    return pendingChange_ && deliversScreen_ && pass.grabAllowed;
}

void ScreenCaptureFrameScheduler::grabSkipped() {
    retryGrabAt_ = nextTick_;
}

void ScreenCaptureFrameScheduler::grabFailed() {
    geometryChanged_ = true;
    retryGrabAt_ = nextTick_;
}

void ScreenCaptureFrameScheduler::grabbed(const Pass& pass, TimePoint grabbedAt, Duration frameInterval) {
    // A grab more than an interval late starts the count afresh.
    lastGrabDue_ =
        heldBack_ && grabbedAt < pass.grabAllowedAt + frameInterval ? pass.grabAllowedAt : grabbedAt;
    heldBack_ = false;
    nextTick_ = *lastGrabDue_ + frameInterval;
    pendingChange_ = false;
    idleSent_ = false;
}

bool ScreenCaptureFrameScheduler::sendsIdleFrame(const Pass& pass) const {
    return pass.tick && !pendingChange_ && !idleSent_ && deliversScreen_;
}

void ScreenCaptureFrameScheduler::idleFrameSent() {
    idleSent_ = true;
}

}  // namespace quillbridge
