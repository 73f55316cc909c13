#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include <pipewire/loop.h>

#include "camera_extension/CameraStateQueue.hpp"

namespace quillbridge {

// The camera's state queue on a PipeWire loop (the program's main loop): work runs on the loop's thread, one
// item at a time, in order. Work may be queued from any thread. Work still queued when the queue is destroyed
// is dropped without running. Destroy it on the loop's thread while the loop does not run.
class PipeWireLoopStateQueue final : public CameraStateQueue {
public:
    explicit PipeWireLoopStateQueue(pw_loop& loop);
    ~PipeWireLoopStateQueue() override;
    PipeWireLoopStateQueue(const PipeWireLoopStateQueue&) = delete;
    PipeWireLoopStateQueue& operator=(const PipeWireLoopStateQueue&) = delete;

    void async(std::function<void()> work) override;
    void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) override;

private:
    using TimePoint = std::chrono::steady_clock::time_point;

    static void onWake(void* data, std::uint64_t count);
    static void onTimer(void* data, std::uint64_t expirations);
    void runReadyWork();
    void runDueWork();
    void armTimer();

    pw_loop& loop_;
    spa_source* wake_ = nullptr;
    spa_source* timer_ = nullptr;
    std::mutex mutex_;
    std::deque<std::function<void()>> ready_;
    // Equal deadlines keep the order they were queued in.
    std::multimap<TimePoint, std::function<void()>> delayed_;
};

}  // namespace quillbridge
