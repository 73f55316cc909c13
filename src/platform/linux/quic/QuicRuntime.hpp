#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include <asio/io_context.hpp>
#include <asio/post.hpp>

namespace quillbridge {

// The QUIC engine's own thread and io_context. Everything of the engine runs there; other threads reach it
// only through post(), which refuses work once the runtime has begun to shut down.
class QuicRuntime {
public:
    QuicRuntime();
    ~QuicRuntime();
    QuicRuntime(const QuicRuntime&) = delete;
    QuicRuntime& operator=(const QuicRuntime&) = delete;

    asio::io_context& context() { return context_; }
    bool isEngineThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Runs the work on the engine thread. False (and the work is dropped) after shutdown began.
    bool post(std::move_only_function<void()> work);
    // Runs the final work on the engine thread after everything posted before, then stops the thread and
    // joins it. Called once, not from the engine thread.
    void shutdown(std::move_only_function<void()> finalWork);

    // CPU time the engine thread has used so far.
    std::chrono::nanoseconds threadCpuTime() const;

private:
    asio::io_context context_{1};
    std::mutex mutex_;
    bool accepting_ = true;
    std::thread thread_;
};

}  // namespace quillbridge
