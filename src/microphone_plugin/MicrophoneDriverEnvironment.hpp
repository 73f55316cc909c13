#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace quillbridge {

// The host clock's timebase: nanoseconds = ticks × numerator ÷ denominator.
struct MicrophoneTimebase {
    std::uint32_t numerator = 1;
    std::uint32_t denominator = 1;
};

// The host clock the driver reads (CLOCK_MONOTONIC nanoseconds in production, a manual clock in tests).
class MicrophoneClock {
public:
    virtual ~MicrophoneClock() = default;
    virtual std::uint64_t nowHostTicks() const = 0;
    virtual MicrophoneTimebase timebase() const = 0;
};

// A serial queue of work, each task run after the one before it. A delayed task runs once the delay, measured
// on the environment's clock, has passed. Destroying the queue drops what has not run and waits for a task
// that is running.
class MicrophoneTaskQueue {
public:
    virtual ~MicrophoneTaskQueue() = default;
    virtual void post(std::function<void()> task) = 0;
    virtual void postAfter(std::chrono::nanoseconds delay, std::function<void()> task) = 0;
};

// What the driver needs of its surroundings. The clock outlives the driver.
struct MicrophoneDriverEnvironment {
    const MicrophoneClock* clock = nullptr;
    // A new serial queue with a label.
    std::function<std::unique_ptr<MicrophoneTaskQueue>(std::string_view label)> makeSerialQueue;
    // The system log, at notice level.
    std::function<void(std::string_view text)> logNotice;
    // The process's standard error output.
    std::function<void(std::string_view text)> writeStandardError;
    // How long a publication lease lasts without a renewal.
    std::chrono::nanoseconds leaseDuration = std::chrono::seconds(15);
};

}  // namespace quillbridge
