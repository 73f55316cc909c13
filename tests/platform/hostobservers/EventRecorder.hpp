#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

namespace quillbridge {

// An executor on a thread of its own, standing for the main actor, and what its handlers recorded.
template <class Event>
class EventRecorder {
public:
    EventRecorder() : thread_([this] { context_.run(); }) {}
    ~EventRecorder() {
        guard_.reset();
        thread_.join();
    }

    asio::any_io_executor executor() { return context_.get_executor(); }

    void add(Event event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    // Waits, bounded generously, until `count` events were recorded; all of them.
    std::vector<Event> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return events_.size() >= count; });
        return events_;
    }
    // Waits until every handler posted so far has run.
    void drain() {
        std::promise<void> done;
        asio::post(context_, [&done] { done.set_value(); });
        done.get_future().wait();
    }
    std::vector<Event> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_{context_.get_executor()};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    std::thread thread_;
};

// Runs a shell command; true when it succeeded.
inline bool runCommand(const std::string& command) {
    return std::system((command + " >/dev/null").c_str()) == 0;
}

// Waits, bounded generously, until the condition holds.
inline bool waitUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace quillbridge
