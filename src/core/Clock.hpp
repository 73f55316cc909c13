#pragma once

#include <chrono>

#include <asio/awaitable.hpp>

namespace quillbridge {

// The source of time for time-outs and periodic work. Production code gets a SteadyClock; tests get a
// ManualClock and move time forward themselves, so time-outs are tested without sleeping.
//
// A sleep resumes on the sleeping coroutine's own executor. When the coroutine is cancelled while it sleeps
// (its cancellation slot fires, for example because its Task was cancelled), the sleep ends at once by
// throwing asio::system_error with asio::error::operation_aborted.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;

    // Sleeps until the deadline; a deadline already past completes without waiting (still asynchronously).
    virtual asio::awaitable<void> sleepUntil(TimePoint deadline) = 0;

    // Sleeps until now() + duration.
    asio::awaitable<void> sleepFor(Duration duration);
};

}  // namespace quillbridge
