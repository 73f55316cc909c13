#pragma once

#include <chrono>
#include <cstdint>

namespace quillbridge {

// The host clock: CLOCK_MONOTONIC, in nanoseconds (the time base of every media time on this machine).
class CameraHostClock {
public:
    virtual ~CameraHostClock() = default;
    virtual std::int64_t nowNanoseconds() const = 0;
};

// The real host clock (std::chrono::steady_clock is CLOCK_MONOTONIC on Linux).
class SteadyCameraHostClock final : public CameraHostClock {
public:
    std::int64_t nowNanoseconds() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

}  // namespace quillbridge
