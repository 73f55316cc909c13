#pragma once

#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

namespace quillbridge {

// A serial queue on a thread of its own: work posted to it runs one item at a time, in order. Used where
// work must run on one dedicated thread and callers may wait for it synchronously (the keyboard's event
// queue, the Caps Lock state queue, control queues of devices).
//
// sync() blocks the caller until the work has run (inline when called from the queue itself, so nested
// use cannot deadlock). Never call sync() from a thread that the queued work itself waits for.
class SerialQueue {
public:
    explicit SerialQueue(std::string name);
    // Runs the work already queued, then stops the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& name() const { return name_; }
    // Whether the calling code runs on this queue.
    bool isCurrent() const { return std::this_thread::get_id() == threadID_; }
    // The queue as an Asio executor (timers and coroutines whose handlers must run on the queue).
    asio::any_io_executor executor() { return context_.get_executor(); }

    // Runs the work on the queue later; never inline.
    template <class Function>
    void async(Function&& work) {
        asio::post(context_, std::forward<Function>(work));
    }

    // Runs the work on the queue and waits for its result (exceptions pass to the caller).
    template <class Function>
    auto sync(Function&& work) -> std::invoke_result_t<Function&> {
        using Result = std::invoke_result_t<Function&>;
        if (isCurrent()) {
            return work();
        }
        std::packaged_task<Result()> task(std::forward<Function>(work));
        auto result = task.get_future();
        asio::post(context_, [&task] { task(); });
        return result.get();
    }

private:
    std::string name_;
    asio::io_context context_{1};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> workGuard_;
    std::thread thread_;
    std::thread::id threadID_;
};

}  // namespace quillbridge
