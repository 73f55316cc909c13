#pragma once

namespace quillbridge {

// A change of the host's power or user-session state that streaming reacts to.
enum class HostPowerEvent {
    // The system is about to sleep; streaming must be suspended before the sleep delay is released.
    willSleep,
    // The system woke from sleep.
    didWake,
    // The screens went to sleep (screen saver or display power management).
    screensDidSleep,
    // The screens woke up.
    screensDidWake,
    // The user's session stopped being the active one (another user switched in, the session was locked
    // away from the seat).
    sessionDidResignActive,
    // The user's session became the active one again.
    sessionDidBecomeActive,
};

}  // namespace quillbridge
