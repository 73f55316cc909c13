#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/error.hpp>
#include <asio/system_error.hpp>
#include <asio/use_awaitable.hpp>

#include "core/PendingCompletion.hpp"

namespace quillbridge {

// Thrown by runBlocking() when the pool takes no more work: its queue is full or it is shutting down.
class BlockingWorkRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A few worker threads for work that blocks: calls that wait on a disk, a daemon or a slow computation.
// Nothing that blocks for more than a fraction of a millisecond may run on an actor's strand, the QUIC engine
// thread or the GUI thread; it goes through this pool instead, awaited with runBlocking():
//
//     auto outcome = co_await runBlocking(pool, [computation = std::move(prepared)]() mutable {
//         return computation.run();
//     });
//
// Calls that must go through it:
//   - Argon2id: the pairing code submission (HostPairingExchange::CodeComputation::run, or
//     HostPairingExchange::submitCode as a whole), 50 to 80 ms and 64 MiB.
//   - Secret store calls (SecretStore::read/write): the Secret Service answers over D-Bus with time-outs of
//     up to 10 s; the file store writes and fsyncs.
//   - Settings-store writes (DefaultsStore writes, which replace the file with fsync).
//   - Identity creation and rotation (GeneratedTLSIdentity::loadOrCreate/rotate,
//     PairedPeerStore::signingKey on first use): key generation plus secret-store writes.
//
// The queue is bounded: work beyond it is refused, never parked without limit. Destroying the pool stops it
// taking work, lets the workers finish what is already queued, and joins them; so whatever a job refers to
// must outlive the pool, or be owned by the job. The same holds for the executors runBlocking() resumes
// callers on: a worker still touches the caller's io_context right after handing it the result, so destroy
// the pool before those contexts.
class BlockingWorkPool {
public:
    static constexpr std::size_t defaultThreadCount = 2;
    static constexpr std::size_t defaultQueueCapacity = 64;

    explicit BlockingWorkPool(std::size_t threadCount = defaultThreadCount,
                              std::size_t queueCapacity = defaultQueueCapacity);
    ~BlockingWorkPool();
    BlockingWorkPool(const BlockingWorkPool&) = delete;
    BlockingWorkPool& operator=(const BlockingWorkPool&) = delete;

    std::size_t threadCount() const { return workers_.size(); }
    std::size_t queueCapacity() const { return queueCapacity_; }

    // Queues the job for a worker. False, with the job dropped, when the queue is full or the pool is
    // shutting down. Safe from any thread. A job that throws is logged and does not stop its worker.
    bool tryPost(std::move_only_function<void()> job);

private:
    void runWorker();

    const std::size_t queueCapacity_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::move_only_function<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

namespace detail {

template <class Result>
using BlockingResultStorage = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;

// What a blocking call and its waiter share: whoever takes the completion out first (the worker with the
// result, or a cancellation of the waiter) completes it; the other finds it empty.
template <class Stored>
struct BlockingCallState {
    using Completion = PendingCompletion<std::exception_ptr, std::optional<Stored>>;

    std::mutex mutex;
    Completion completion;

    Completion take() {
        std::lock_guard lock(mutex);
        return std::move(completion);
    }
};

// Hands the function to the pool and completes with its outcome. Not a coroutine itself: the initiation
// and what it captures live outside any coroutine frame.
template <class Stored, class Function>
asio::awaitable<std::optional<Stored>> startBlocking(BlockingWorkPool& pool, Function function) {
    using State = BlockingCallState<Stored>;
    return asio::async_initiate<const asio::use_awaitable_t<>&,
                                void(std::exception_ptr, std::optional<Stored>)>(
        [&pool, function = std::move(function)](auto handler) mutable {
            auto state = std::make_shared<State>();
            asio::cancellation_slot slot = asio::get_associated_cancellation_slot(handler);
            state->completion = typename State::Completion(std::move(handler));
            if (slot.is_connected()) {
                slot.assign([state](asio::cancellation_type type) {
                    if (!endsWait(type))
                        return;
                    // The work goes on; its result is discarded when it ends.
                    if (auto completion = state->take()) {
                        completion.complete(
                            std::make_exception_ptr(asio::system_error(asio::error::operation_aborted)),
                            std::nullopt);
                    }
                });
            }
            bool queued = pool.tryPost([state, function = std::move(function)]() mutable {
                std::exception_ptr error;
                std::optional<Stored> result;
                try {
                    if constexpr (std::is_same_v<Stored, std::monostate>) {
                        function();
                        result.emplace();
                    } else {
                        result.emplace(function());
                    }
                } catch (...) {
                    error = std::current_exception();
                }
                if (auto completion = state->take()) {
                    completion.complete(std::move(error), std::move(result));
                } else {
                    // Nobody waits any more: the result goes here, on the worker.
                    result.reset();
                }
            });
            if (!queued) {
                if (auto completion = state->take()) {
                    completion.complete(std::make_exception_ptr(BlockingWorkRefused(
                                            "The blocking-work pool is full or shutting down")),
                                        std::nullopt);
                }
            }
        },
        asio::use_awaitable);
}

}  // namespace detail

// Runs `function` on one of the pool's workers and resumes the awaiting coroutine on its own executor with
// the function's result; an exception the function throws is rethrown to the awaiting coroutine. Throws
// BlockingWorkRefused when the pool takes no more work.
//
// Cancelling the awaiting coroutine ends the wait at once with operation_aborted; the function itself is not
// interrupted: it runs to its end on the worker and its result is destroyed there. It must therefore own what
// it uses, or use only what outlives the pool (never the awaiting actor's state).
//
// Name a lambda that has init-captures before awaiting it (`auto work = [key = std::move(key)] {...};
// co_await runBlocking(pool, std::move(work));`): GCC 12 mishandles such a lambda written as a temporary
// inside the co_await expression and loses what it captured.
template <class Function>
auto runBlocking(BlockingWorkPool& pool, Function function)
    -> asio::awaitable<std::invoke_result_t<Function&>> {
    using Result = std::invoke_result_t<Function&>;
    using Stored = detail::BlockingResultStorage<Result>;
    std::optional<Stored> stored = co_await detail::startBlocking<Stored>(pool, std::move(function));
    if constexpr (!std::is_void_v<Result>)
        co_return std::move(*stored);
}

}  // namespace quillbridge
