#pragma once

#include "core/Clock.hpp"

namespace quillbridge {

// The production clock: std::chrono::steady_clock, sleeping on an asio::steady_timer of the caller's
// executor.
class SteadyClock final : public Clock {
public:
    TimePoint now() const override;
    asio::awaitable<void> sleepUntil(TimePoint deadline) override;
};

}  // namespace quillbridge
