#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "camera_extension/CameraHostClock.hpp"
#include "camera_extension/CameraStateQueue.hpp"

namespace quillbridge {

// The camera's state queue and host clock for tests, on the test's thread: queued work runs when the test
// calls runUntilIdle(), delayed work when the test moves the clock past its deadline. Every delay asked for
// is kept, in order, for tests of the back-off.
class ManualCameraStateQueue final : public CameraStateQueue, public CameraHostClock {
public:
    void async(std::function<void()> work) override { ready_.push_back(std::move(work)); }

    void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
        requestedDelays.push_back(delay);
        delayed_.emplace(std::make_pair(now_ + delay, nextOrder_++), std::move(work));
    }

    std::int64_t nowNanoseconds() const override {
        return startNanoseconds + std::chrono::duration_cast<std::chrono::nanoseconds>(now_).count();
    }

    void runUntilIdle() {
        while (!ready_.empty()) {
            auto work = std::move(ready_.front());
            ready_.pop_front();
            work();
        }
    }

    // Runs what is queued, then every delayed item that falls due within the duration, in deadline order,
    // with the clock at each item's deadline.
    void advance(std::chrono::milliseconds duration) {
        const auto target = now_ + duration;
        runUntilIdle();
        while (!delayed_.empty() && delayed_.begin()->first.first <= target) {
            auto entry = delayed_.begin();
            now_ = entry->first.first;
            auto work = std::move(entry->second);
            delayed_.erase(entry);
            work();
            runUntilIdle();
        }
        now_ = target;
    }

    std::size_t delayedCount() const { return delayed_.size(); }
    // Drops everything queued, as a queue that goes away does.
    void discardAll() {
        ready_.clear();
        delayed_.clear();
    }

    std::int64_t startNanoseconds = 1'000'000'000'000;
    std::vector<std::chrono::milliseconds> requestedDelays;

private:
    std::chrono::milliseconds now_{0};
    std::uint64_t nextOrder_ = 0;
    std::deque<std::function<void()>> ready_;
    std::map<std::pair<std::chrono::milliseconds, std::uint64_t>, std::function<void()>> delayed_;
};

}  // namespace quillbridge
