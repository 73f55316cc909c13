#pragma once

#include <functional>
#include <memory>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/execution.hpp>
#include <asio/execution_context.hpp>

namespace quillbridge {

// The queue of work of the application's main (user interface) thread. The application implements it on its
// event loop; tests implement it with a queue they drain themselves. enqueue() is called from any thread and
// must run the work later, on the main thread, in the order enqueued.
class MainThreadQueue {
public:
    virtual ~MainThreadQueue() = default;
    virtual void enqueue(std::move_only_function<void()> work) = 0;
};

// The main actor as an Asio executor: work submitted to it runs through a MainThreadQueue, so coroutines,
// Task::spawn, Actor and timers can target the main thread like any other executor. Convert it to
// asio::any_io_executor (implicitly) to hand it around.
//
// Asio I/O objects and timers created on this executor keep their services in `serviceContext`, an
// io_context run by another thread; their completions are queued back to the main thread. Both the queue and
// the service context must outlive all work submitted through the executor.
class MainActorExecutor {
public:
    MainActorExecutor(std::shared_ptr<MainThreadQueue> queue, asio::execution_context& serviceContext)
        : queue_(std::move(queue)), serviceContext_(&serviceContext) {}

    template <class Function>
    void execute(Function&& function) const {
        queue_->enqueue(std::move_only_function<void()>(std::forward<Function>(function)));
    }

    asio::execution_context& query(asio::execution::context_t) const noexcept { return *serviceContext_; }

    static constexpr asio::execution::blocking_t query(asio::execution::blocking_t) noexcept {
        return asio::execution::blocking.never;
    }

    MainActorExecutor require(asio::execution::blocking_t::never_t) const { return *this; }

    friend bool operator==(const MainActorExecutor& a, const MainActorExecutor& b) noexcept {
        return a.queue_ == b.queue_ && a.serviceContext_ == b.serviceContext_;
    }
    friend bool operator!=(const MainActorExecutor& a, const MainActorExecutor& b) noexcept {
        return !(a == b);
    }

private:
    std::shared_ptr<MainThreadQueue> queue_;
    asio::execution_context* serviceContext_;
};

static_assert(asio::execution::is_executor<MainActorExecutor>::value);

}  // namespace quillbridge
