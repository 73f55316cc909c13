#include "platform/linux/pulse/PulseDeadline.hpp"

#include <pulse/timeval.h>

namespace quillbridge {

PulseDeadline::PulseDeadline(pa_threaded_mainloop* mainLoop, std::chrono::milliseconds timeout)
    : mainLoop_(mainLoop), api_(pa_threaded_mainloop_get_api(mainLoop)) {
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(timeout.count()) * PA_USEC_PER_MSEC);
    timer_ = api_->time_new(api_, &when, &PulseDeadline::fired, this);
}

PulseDeadline::~PulseDeadline() {
    api_->time_free(timer_);
}

void PulseDeadline::fired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* deadline = static_cast<PulseDeadline*>(userdata);
    deadline->passed_ = true;
    pa_threaded_mainloop_signal(deadline->mainLoop_, 0);
}

}  // namespace quillbridge
