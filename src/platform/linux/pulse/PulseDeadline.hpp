#pragma once

#include <chrono>

#include <pulse/mainloop-api.h>
#include <pulse/thread-mainloop.h>

namespace quillbridge {

// A time limit for a wait on a threaded main loop: once `timeout` has passed, a time event on the loop marks
// it passed and wakes the loop's waiters, so a wait that checks hasPassed() gives up. Made and destroyed with
// the loop's lock held.
class PulseDeadline {
public:
    PulseDeadline(pa_threaded_mainloop* mainLoop, std::chrono::milliseconds timeout);
    ~PulseDeadline();
    PulseDeadline(const PulseDeadline&) = delete;
    PulseDeadline& operator=(const PulseDeadline&) = delete;

    bool hasPassed() const { return passed_; }

private:
    static void fired(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when, void* userdata);

    pa_threaded_mainloop* mainLoop_;
    pa_mainloop_api* api_;
    pa_time_event* timer_ = nullptr;
    bool passed_ = false;
};

}  // namespace quillbridge
