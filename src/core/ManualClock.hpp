#pragma once

#include "core/Clock.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include <asio/async_result.hpp>
#include <asio/error.hpp>
#include <asio/use_awaitable.hpp>

#include "core/PendingCompletion.hpp"

namespace quillbridge {

// A clock for tests whose time moves only when the test moves it. Sleepers wait in a queue ordered by
// deadline; advance() resumes those that fell due, in deadline order (equal deadlines in the order they
// started sleeping), each posted to its own executor. A cancelled sleeper leaves the queue at once and
// resumes with operation_aborted. Thread-safe: time may be moved from any thread.
//
// A pending sleep counts as outstanding work of its executor (as a timer would): run the context with poll()
// or run_one(), or from another thread, while sleepers wait. Destroy the clock before the execution contexts
// of its sleepers; sleepers still waiting then resume with operation_aborted.
class ManualClock final : public Clock {
public:
    // An arbitrary fixed starting point, far enough from the epoch that code may subtract from it.
    static constexpr TimePoint defaultStart = TimePoint{std::chrono::hours{24}};

    explicit ManualClock(TimePoint start = defaultStart);
    ~ManualClock() override;
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    TimePoint now() const override;
    asio::awaitable<void> sleepUntil(TimePoint deadline) override;

    // Moves time forward and resumes the sleepers that fell due. Time never moves back: a negative duration
    // or an earlier point is ignored.
    void advance(Duration duration);
    void advanceTo(TimePoint time);

    std::size_t pendingSleeperCount() const;
    // The earliest deadline in the queue, if any.
    std::optional<TimePoint> nextDeadline() const;

private:
    struct Shared;
    using Completion = PendingCompletion<asio::error_code>;

    static void startSleep(const std::shared_ptr<Shared>& shared, TimePoint deadline,
                           asio::cancellation_slot slot, Completion completion);
    void resumeDueSleepers(std::unique_lock<std::mutex> lock);

    std::shared_ptr<Shared> shared_;
};

struct ManualClock::Shared {
    using Key = std::pair<TimePoint, std::uint64_t>;

    mutable std::mutex mutex;
    TimePoint now;
    std::uint64_t nextSequence = 0;
    std::map<Key, Completion> sleepers;
};

inline asio::awaitable<void> ManualClock::sleepUntil(TimePoint deadline) {
    return asio::async_initiate<const asio::use_awaitable_t<>&, void(asio::error_code)>(
        [shared = shared_, deadline](auto handler) {
            asio::cancellation_slot slot = asio::get_associated_cancellation_slot(handler);
            startSleep(shared, deadline, slot, Completion(std::move(handler)));
        },
        asio::use_awaitable);
}

}  // namespace quillbridge
