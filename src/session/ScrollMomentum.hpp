#pragma once

#include <cstdint>

#include <asio/awaitable.hpp>

#include "core/Clock.hpp"
#include "core/Task.hpp"
#include "session/RemoteInputSink.hpp"
#include "session/SessionContext.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {

// The headset's scrolls, and the momentum the host adds after a flick: a scroll that ends with a velocity
// goes on in 60 Hz ticks that decay until the velocity falls under one point a second, then ends with one end
// scroll. Any other scroll, a click, a pointer jump or the session's end stops it. It owns the momentum task
// and its generation fence. Runs on the session's strand; every member is called there.
class ScrollMomentum {
public:
    // `clock` must outlive the component; `remoteInput` may be null: scrolls then go nowhere.
    ScrollMomentum(SessionContext& session, Clock* clock, RemoteInputSink* remoteInput);

    // Posts the scroll and starts, replaces or stops the momentum that follows it.
    void handleMouseScroll(const MouseScrollMessage& message);
    // Stops a running momentum with one end scroll; nothing when none runs.
    void stop();
    // Whether a momentum task runs (its Task may be finishing while this already says no).
    bool isRunning() const { return isRunning_; }

private:
    void start(double velocityX, double velocityY);
    asio::awaitable<void> run(std::int64_t generation, double velocityX, double velocityY);
    double systemUptimeSeconds() const;
    void postScroll(double deltaX, double deltaY, MouseScrollPhase phase,
                    MouseScrollMomentumPhase momentumPhase);

    SessionContext& session_;
    Clock* clock_;
    RemoteInputSink* remoteInput_;

    Task task_;
    std::int64_t generation_ = 0;
    bool isRunning_ = false;
};

}  // namespace quillbridge
