#include "camera_extension/linux/PipeWireLoopStateQueue.hpp"

#include <optional>

#include "camera_extension/linux/PipeWireLoopTimer.hpp"

namespace quillbridge {

PipeWireLoopStateQueue::PipeWireLoopStateQueue(pw_loop& loop) : loop_(loop) {
    wake_ = pw_loop_add_event(&loop_, &PipeWireLoopStateQueue::onWake, this);
    timer_ = pw_loop_add_timer(&loop_, &PipeWireLoopStateQueue::onTimer, this);
}

PipeWireLoopStateQueue::~PipeWireLoopStateQueue() {
    pw_loop_destroy_source(&loop_, timer_);
    pw_loop_destroy_source(&loop_, wake_);
    // Work is destroyed outside the lock: what it holds may queue more work as it goes.
    std::deque<std::function<void()>> ready;
    std::multimap<TimePoint, std::function<void()>> delayed;
    {
        std::lock_guard lock(mutex_);
        ready.swap(ready_);
        delayed.swap(delayed_);
    }
}

void PipeWireLoopStateQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(work));
    }
    pw_loop_signal_event(&loop_, wake_);
}

void PipeWireLoopStateQueue::asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        delayed_.emplace(std::chrono::steady_clock::now() + delay, std::move(work));
    }
    // The loop's thread re-arms the timer.
    pw_loop_signal_event(&loop_, wake_);
}

void PipeWireLoopStateQueue::onWake(void* data, std::uint64_t) {
    auto& queue = *static_cast<PipeWireLoopStateQueue*>(data);
    queue.runReadyWork();
    queue.armTimer();
}

void PipeWireLoopStateQueue::onTimer(void* data, std::uint64_t) {
    auto& queue = *static_cast<PipeWireLoopStateQueue*>(data);
    queue.runDueWork();
    queue.armTimer();
}

void PipeWireLoopStateQueue::runReadyWork() {
    // Work queued meanwhile signals the event again and runs on the next wake-up.
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard lock(mutex_);
        ready.swap(ready_);
    }
    for (auto& work : ready)
        work();
}

void PipeWireLoopStateQueue::runDueWork() {
    const TimePoint now = std::chrono::steady_clock::now();
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            auto first = delayed_.begin();
            if (first == delayed_.end() || first->first > now)
                return;
            work = std::move(first->second);
            delayed_.erase(first);
        }
        work();
    }
}

void PipeWireLoopStateQueue::armTimer() {
    std::optional<std::chrono::nanoseconds> deadline;
    {
        std::lock_guard lock(mutex_);
        if (!delayed_.empty())
            deadline = delayed_.begin()->first.time_since_epoch();
    }
    armLoopTimer(loop_, *timer_, deadline);
}

}  // namespace quillbridge
