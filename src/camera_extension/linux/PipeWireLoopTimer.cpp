#include "camera_extension/linux/PipeWireLoopTimer.hpp"

#include <algorithm>
#include <ctime>

namespace quillbridge {

void armLoopTimer(pw_loop& loop, spa_source& timer,
                  std::optional<std::chrono::nanoseconds> monotonicDeadline) {
    if (!monotonicDeadline) {
        pw_loop_update_timer(&loop, &timer, nullptr, nullptr, false);
        return;
    }
    const auto nanoseconds = std::max<std::chrono::nanoseconds::rep>(monotonicDeadline->count(), 0);
    timespec value{};
    value.tv_sec = std::time_t(nanoseconds / 1'000'000'000);
    value.tv_nsec = long(nanoseconds % 1'000'000'000);
    // A zero time would disarm the timer; the earliest time it can hold is as due.
    if (value.tv_sec == 0 && value.tv_nsec == 0)
        value.tv_nsec = 1;
    pw_loop_update_timer(&loop, &timer, &value, nullptr, true);
}

}  // namespace quillbridge
