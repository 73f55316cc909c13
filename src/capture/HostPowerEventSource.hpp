#pragma once

#include <functional>

#include "capture/HostPowerEvent.hpp"
#include "capture/SleepDelayRelease.hpp"

namespace quillbridge {

// A source of power and session events (system sleep and wake, user-session switches, screen sleep and wake).
// The handler runs on the executor the source was given, one event at a time, in the order they happened.
// The sleep token is pending only with willSleep; it is empty with every other event.
class HostPowerEventSource {
public:
    using Handler = std::function<void(HostPowerEvent event, SleepDelayRelease sleepDelay)>;

    virtual ~HostPowerEventSource() = default;

    // Starts delivering events to the handler. False, with the reason logged, when the source cannot be
    // watched on this machine (the host then runs without these reactions).
    virtual bool start(Handler handler) = 0;
    // Stops delivering; no handler runs once it has returned (handlers already posted see nothing).
    virtual void stop() = 0;
};

}  // namespace quillbridge
