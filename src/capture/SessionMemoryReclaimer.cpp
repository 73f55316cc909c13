#include "capture/SessionMemoryReclaimer.hpp"

#include <utility>

namespace quillbridge {

SessionMemoryReclaimer::SessionMemoryReclaimer(asio::any_io_executor executor, std::shared_ptr<Clock> clock,
                                               Reclaim reclaim, Clock::Duration settleDelay)
    : executor_(std::move(executor)),
      clock_(std::move(clock)),
      reclaim_(std::move(reclaim)),
      settleDelay_(settleDelay) {}

void SessionMemoryReclaimer::update(bool isBusy) {
    if (isBusy) {
        wasBusy_ = true;
        pending_.cancel();
        return;
    }
    if (!wasBusy_) {
        return;
    }
    wasBusy_ = false;
    pending_ = Task::spawn(
        executor_,
        [clock = clock_, reclaim = reclaim_, delay = settleDelay_]() -> asio::awaitable<void> {
            co_await clock->sleepUntil(clock->now() + delay);
            reclaim();
        },
        "memory reclaim after a session");
}

}  // namespace quillbridge
