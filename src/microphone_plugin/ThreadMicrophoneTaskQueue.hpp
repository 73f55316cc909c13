#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "microphone_plugin/MicrophoneDriverEnvironment.hpp"

namespace quillbridge {

// CLOCK_MONOTONIC nanoseconds through std::chrono::steady_clock (which is CLOCK_MONOTONIC with libstdc++).
class SteadyMicrophoneClock final : public MicrophoneClock {
public:
    std::uint64_t nowHostTicks() const override;
    MicrophoneTimebase timebase() const override { return {}; }
};

// A serial queue on a thread of its own, timed on the steady clock.
class ThreadMicrophoneTaskQueue final : public MicrophoneTaskQueue {
public:
    ThreadMicrophoneTaskQueue();
    ~ThreadMicrophoneTaskQueue() override;
    ThreadMicrophoneTaskQueue(const ThreadMicrophoneTaskQueue&) = delete;
    ThreadMicrophoneTaskQueue& operator=(const ThreadMicrophoneTaskQueue&) = delete;

    void post(std::function<void()> task) override;
    void postAfter(std::chrono::nanoseconds delay, std::function<void()> task) override;

private:
    using Key = std::pair<std::chrono::steady_clock::time_point, std::uint64_t>;
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<Key, std::function<void()>> tasks_;
    std::uint64_t nextSequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quillbridge
