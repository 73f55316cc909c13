#pragma once

#include <functional>

namespace quillbridge {

// Tells of changes of the host's selected keyboard layout (input source): another layout selected, or the
// layouts themselves replaced.
class KeyboardLayoutChangeObserver {
public:
    virtual ~KeyboardLayoutChangeObserver() = default;

    // Starts calling `changed` once per change, on a thread of the observer's own, where it must only hand
    // the notice on. Returns at once: whatever waits on the system happens on that thread, and a failure to
    // watch is logged there. False when already started or the thread cannot be had.
    virtual bool start(std::function<void()> changed) = 0;
    // Stops the calls; none runs once it has returned.
    virtual void stop() = 0;
};

}  // namespace quillbridge
