#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "microphone_plugin/MicrophoneDriverEnvironment.hpp"

namespace quillbridge {

// A manual host clock and the serial queues that run on it, for tests: time moves only in advance(), which
// runs the tasks that fall due, in deadline order, each with the clock set to its deadline. Tasks run on the
// calling thread. Queues made here may be used from any thread; destroying one drops its tasks.
class ManualMicrophoneScheduler final : public MicrophoneClock {
public:
    static constexpr std::uint64_t startTicks = 1'000'000'000'000;

    ManualMicrophoneScheduler() = default;
    ManualMicrophoneScheduler(const ManualMicrophoneScheduler&) = delete;
    ManualMicrophoneScheduler& operator=(const ManualMicrophoneScheduler&) = delete;

    std::uint64_t nowHostTicks() const override { return now_.load(); }
    MicrophoneTimebase timebase() const override { return {}; }

    std::unique_ptr<MicrophoneTaskQueue> makeQueue(std::string_view label);
    // The labels of the queues made so far, in order.
    std::vector<std::string> queueLabels() const;

    // Runs the tasks due now (and those they post that are due now).
    void runReady() { advance(std::chrono::nanoseconds::zero()); }
    void advance(std::chrono::nanoseconds duration);
    std::size_t pendingTaskCount() const;

    // An environment whose clock and queues are this scheduler's; its standard error and notices are kept.
    MicrophoneDriverEnvironment environment(
        std::chrono::nanoseconds leaseDuration = std::chrono::seconds(15));
    std::vector<std::string> notices() const;
    std::vector<std::string> standardErrorLines() const;

private:
    class Queue;
    using Key = std::tuple<std::uint64_t, std::uint64_t>;
    struct Task {
        const Queue* queue;
        std::function<void()> work;
    };

    void schedule(const Queue* queue, std::chrono::nanoseconds delay, std::function<void()> work);
    void dropTasksOf(const Queue* queue);

    std::atomic<std::uint64_t> now_{startTicks};
    mutable std::mutex mutex_;
    std::map<Key, Task> tasks_;
    std::uint64_t nextSequence_ = 0;
    std::vector<std::string> labels_;
    std::vector<std::string> notices_;
    std::vector<std::string> standardError_;
};

}  // namespace quillbridge
