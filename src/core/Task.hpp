#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/cancellation_state.hpp>
#include <asio/error.hpp>
#include <asio/use_awaitable.hpp>

#include "core/PendingCompletion.hpp"

namespace quillbridge {

// A cancellable coroutine, kept in a field by its owner and cancelled by it:
//
//     Task listenTask_;
//     listenTask_ = Task::spawn(strand_, listen(), "listen");
//     ...
//     listenTask_.cancel();
//
// Cancelling emits a terminal cancellation to the coroutine: the operation it awaits ends at once with
// operation_aborted (a clock sleep, a timer, a channel receive), and so does every later co_await of an
// asynchronous operation. Destroying or reassigning a Task cancels it. Cancellation is asynchronous: the body
// unwinds later, on its executor. A body must therefore not touch its owner once it has been cancelled (in
// particular not from a catch block that may run after the owner is gone); let operation_aborted propagate.
//
// An exception other than cancellation that escapes the body is logged and ends the task as failed; it never
// reaches the executor.
//
// A Task is not thread-safe as an object; cancel() may be called from any thread (the cancellation itself is
// emitted on the task's executor). Spawn tasks on a strand (an Actor) unless the executor is single-threaded.
class Task {
public:
    enum class Outcome { completed, cancelled, failed };

    // An empty task: not running, nothing to cancel.
    Task() = default;
    Task(Task&& other) noexcept = default;
    // Cancels the task this one held before taking over the other.
    Task& operator=(Task&& other) noexcept;
    ~Task();

    // Starts the body on the executor (it first runs when the executor next runs work, never inline). The
    // name appears in the log line of a failure. Dropping the returned Task cancels the body at once.
    [[nodiscard]] static Task spawn(asio::any_io_executor executor, asio::awaitable<void> body,
                                    std::string name = {});

    // Same, from a coroutine function (typically a lambda) that the task keeps alive while its body runs, so
    // the lambda's captures stay valid (a lambda coroutine called in place would outlive its own closure):
    //     task_ = Task::spawn(strand_, [this, id]() -> asio::awaitable<void> { co_await watch(id); });
    template <class Function,
              std::enable_if_t<std::is_invocable_r_v<asio::awaitable<void>, Function&>, int> = 0>
    [[nodiscard]] static Task spawn(asio::any_io_executor executor, Function function,
                                    std::string name = {}) {
        return spawn(std::move(executor), invokeKeepingAlive(std::move(function)), std::move(name));
    }

    // Asks the body to stop. No effect on a finished or empty task.
    void cancel();

    // Running from spawn until the body has ended (returned, thrown or been cancelled and unwound).
    bool isRunning() const;
    // The body has ended. An empty task counts as finished.
    bool isFinished() const { return !isRunning(); }
    // How the body ended; nothing while it runs or for an empty task.
    std::optional<Outcome> outcome() const;
    bool isCancellationRequested() const;

    // Completes once the body has ended, on the awaiting coroutine's executor (at once for an empty task).
    // Cancelling the awaiting coroutine ends the wait with operation_aborted.
    asio::awaitable<void> join() const;

private:
    struct State;
    using Completion = PendingCompletion<asio::error_code>;

    template <class Function>
    static asio::awaitable<void> invokeKeepingAlive(Function function) {
        co_await function();
    }

    static void startJoin(const std::shared_ptr<State>& state, asio::cancellation_slot slot,
                          Completion completion);

    std::shared_ptr<State> state_;
};

struct Task::State {
    asio::any_io_executor executor;
    std::string name;
    // Emitted only on the executor.
    asio::cancellation_signal signal;
    std::atomic<bool> cancellationRequested{false};
    std::atomic<bool> finished{false};

    std::mutex mutex;
    std::optional<Outcome> outcome;
    std::uint64_t nextJoinerID = 0;
    std::map<std::uint64_t, Completion> joiners;
};

inline asio::awaitable<void> Task::join() const {
    return asio::async_initiate<const asio::use_awaitable_t<>&, void(asio::error_code)>(
        [state = state_](auto handler) {
            asio::cancellation_slot slot = asio::get_associated_cancellation_slot(handler);
            startJoin(state, slot, Completion(std::move(handler)));
        },
        asio::use_awaitable);
}

// Inside a coroutine: whether it has been asked to stop. Reading the cancellation state never throws:
//     if (isCancelled(co_await asio::this_coro::cancellation_state)) co_return;
// Use it after an await whose completion may race a cancellation, before acting on the result.
inline bool isCancelled(const asio::cancellation_state& state) {
    return state.cancelled() != asio::cancellation_type::none;
}

// Inside a coroutine: throws asio::system_error(operation_aborted) when it has been asked to stop.
asio::awaitable<void> throwIfCancelled();

// True when the exception is the operation_aborted that a cancelled operation throws.
bool isOperationAborted(const std::exception_ptr& error);

}  // namespace quillbridge
