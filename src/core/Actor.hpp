#pragma once

#include <type_traits>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <asio/use_awaitable.hpp>

namespace quillbridge {

// The serial executor of an actor: a strand. A type that is an actor holds one and touches its state only
// from coroutines and handlers running on it, so no lock guards that state.
//
// Re-entrancy: an actor is serial, not atomic. While one of its coroutines is suspended at a co_await, other
// work of the same actor runs and may change any of its state. After every co_await, re-check whatever the
// code relied on before it (the session identifier, generation counters, "is this still the current
// connection") and drop stale results instead of applying them.
class Actor {
public:
    using Strand = asio::strand<asio::any_io_executor>;

    explicit Actor(const asio::any_io_executor& executor) : strand_(asio::make_strand(executor)) {}

    // The strand, as an executor for Task::spawn, timers, channels and sockets owned by the actor.
    asio::any_io_executor executor() const { return strand_; }
    const Strand& strand() const { return strand_; }

    // Whether the calling code runs on this actor.
    bool isCurrent() const { return strand_.running_in_this_thread(); }

    // Runs a coroutine function on the actor and returns its result to the awaiting coroutine, which resumes
    // on its own executor. `function` is a callable returning asio::awaitable<T>; it is moved into the new
    // coroutine, so lambda captures live as long as it runs. Cancelling the awaiting coroutine cancels the
    // work.
    //     int count = co_await actor.run([this]() -> asio::awaitable<int> { co_return items_.size(); });
    template <class Function>
    auto run(Function function) const {
        return asio::co_spawn(strand_, std::move(function), asio::use_awaitable);
    }

    // Runs a plain function on the actor and returns its result to the awaiting coroutine.
    //     bool known = co_await actor.call([&] { return peers_.contains(id); });
    template <class Function>
    auto call(Function function) const {
        using Result = std::invoke_result_t<Function&>;
        return run(
            [function = std::move(function)]() mutable -> asio::awaitable<Result> { co_return function(); });
    }

    // Fire and forget: runs a plain function on the actor later (never inline).
    template <class Function>
    void post(Function&& function) const {
        asio::post(strand_, std::forward<Function>(function));
    }

private:
    Strand strand_;
};

}  // namespace quillbridge
