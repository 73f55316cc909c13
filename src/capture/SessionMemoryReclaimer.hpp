#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <asio/any_io_executor.hpp>

#include "core/Clock.hpp"
#include "core/Task.hpp"

namespace quillbridge {

// Gives memory back after each session. The owner reports whether the host is busy (a headset connected or
// the capture running); once it has been idle for `settleDelay` after being busy, `reclaim` runs once on the
// executor. The delay lets what the session's teardown hands to other threads (the encoder's last frames,
// a capture stream still stopping) be freed first. A new session within the delay cancels the pending
// reclaim; a host that never had a session reclaims nothing.
//
// Use it on one actor (the executor given, a strand or a single-threaded context).
class SessionMemoryReclaimer {
public:
    using Reclaim = std::function<void()>;

    static constexpr std::chrono::milliseconds defaultSettleDelay{2000};

    SessionMemoryReclaimer(asio::any_io_executor executor, std::shared_ptr<Clock> clock, Reclaim reclaim,
                           Clock::Duration settleDelay = defaultSettleDelay);
    SessionMemoryReclaimer(const SessionMemoryReclaimer&) = delete;
    SessionMemoryReclaimer& operator=(const SessionMemoryReclaimer&) = delete;

    // Reports the host's state; repeated reports of the same state change nothing.
    void update(bool isBusy);

    bool isReclaimPending() const { return pending_.isRunning(); }

private:
    asio::any_io_executor executor_;
    std::shared_ptr<Clock> clock_;
    Reclaim reclaim_;
    Clock::Duration settleDelay_;
    bool wasBusy_ = false;
    Task pending_;
};

}  // namespace quillbridge
