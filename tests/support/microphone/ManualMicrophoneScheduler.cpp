#include "support/microphone/ManualMicrophoneScheduler.hpp"

#include <algorithm>

namespace quillbridge {

class ManualMicrophoneScheduler::Queue final : public MicrophoneTaskQueue {
public:
    explicit Queue(ManualMicrophoneScheduler& scheduler) : scheduler_(scheduler) {}
    ~Queue() override { scheduler_.dropTasksOf(this); }

    void post(std::function<void()> task) override {
        postAfter(std::chrono::nanoseconds::zero(), std::move(task));
    }
    void postAfter(std::chrono::nanoseconds delay, std::function<void()> task) override {
        scheduler_.schedule(this, delay, std::move(task));
    }

private:
    ManualMicrophoneScheduler& scheduler_;
};

std::unique_ptr<MicrophoneTaskQueue> ManualMicrophoneScheduler::makeQueue(std::string_view label) {
    std::lock_guard lock(mutex_);
    labels_.emplace_back(label);
    return std::make_unique<Queue>(*this);
}

std::vector<std::string> ManualMicrophoneScheduler::queueLabels() const {
    std::lock_guard lock(mutex_);
    return labels_;
}

void ManualMicrophoneScheduler::schedule(const Queue* queue, std::chrono::nanoseconds delay,
                                         std::function<void()> work) {
    std::lock_guard lock(mutex_);
    std::uint64_t due = now_.load() + static_cast<std::uint64_t>(std::max<std::int64_t>(delay.count(), 0));
    tasks_.emplace(Key{due, nextSequence_++}, Task{queue, std::move(work)});
}

void ManualMicrophoneScheduler::dropTasksOf(const Queue* queue) {
    std::lock_guard lock(mutex_);
    std::erase_if(tasks_, [queue](const auto& entry) { return entry.second.queue == queue; });
}

void ManualMicrophoneScheduler::advance(std::chrono::nanoseconds duration) {
    std::uint64_t target =
        now_.load() + static_cast<std::uint64_t>(std::max<std::int64_t>(duration.count(), 0));
    while (true) {
        std::unique_lock lock(mutex_);
        auto first = tasks_.begin();
        if (first == tasks_.end() || std::get<0>(first->first) > target) {
            break;
        }
        now_.store(std::max(now_.load(), std::get<0>(first->first)));
        auto work = std::move(first->second.work);
        tasks_.erase(first);
        lock.unlock();
        work();
    }
    now_.store(target);
}

std::size_t ManualMicrophoneScheduler::pendingTaskCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

MicrophoneDriverEnvironment ManualMicrophoneScheduler::environment(std::chrono::nanoseconds leaseDuration) {
    MicrophoneDriverEnvironment environment;
    environment.clock = this;
    environment.makeSerialQueue = [this](std::string_view label) { return makeQueue(label); };
    environment.logNotice = [this](std::string_view text) {
        std::lock_guard lock(mutex_);
        notices_.emplace_back(text);
    };
    environment.writeStandardError = [this](std::string_view text) {
        std::lock_guard lock(mutex_);
        standardError_.emplace_back(text);
    };
    environment.leaseDuration = leaseDuration;
    return environment;
}

std::vector<std::string> ManualMicrophoneScheduler::notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
}

std::vector<std::string> ManualMicrophoneScheduler::standardErrorLines() const {
    std::lock_guard lock(mutex_);
    return standardError_;
}

}  // namespace quillbridge
