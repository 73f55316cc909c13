#include "microphone_plugin/ThreadMicrophoneTaskQueue.hpp"

#include <algorithm>

namespace quillbridge {

std::uint64_t SteadyMicrophoneClock::nowHostTicks() const {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

ThreadMicrophoneTaskQueue::ThreadMicrophoneTaskQueue() : thread_([this] { run(); }) {}

ThreadMicrophoneTaskQueue::~ThreadMicrophoneTaskQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

void ThreadMicrophoneTaskQueue::post(std::function<void()> task) {
    postAfter(std::chrono::nanoseconds::zero(), std::move(task));
}

void ThreadMicrophoneTaskQueue::postAfter(std::chrono::nanoseconds delay, std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        auto due = std::chrono::steady_clock::now() + std::max(delay, std::chrono::nanoseconds::zero());
        tasks_.emplace(Key{due, nextSequence_++}, std::move(task));
    }
    wake_.notify_all();
}

void ThreadMicrophoneTaskQueue::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (tasks_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto first = tasks_.begin();
        if (first->first.first > std::chrono::steady_clock::now()) {
            wake_.wait_until(lock, first->first.first);
            continue;
        }
        auto task = std::move(first->second);
        tasks_.erase(first);
        lock.unlock();
        task();
        // The task's captures go before the lock is taken again.
        task = nullptr;
        lock.lock();
    }
}

}  // namespace quillbridge
