#pragma once

#include <chrono>
#include <optional>

#include <pipewire/loop.h>

namespace quillbridge {

// Arms a timer source of the loop to fire once at a CLOCK_MONOTONIC time (one already past fires at once), or
// disarms it when there is none.
void armLoopTimer(pw_loop& loop, spa_source& timer,
                  std::optional<std::chrono::nanoseconds> monotonicDeadline);

}  // namespace quillbridge
