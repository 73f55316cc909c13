#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace quillbridge {

// A thread that runs one event loop, turn after turn, and waits between turns on one descriptor. stop()
// wakes it from that wait through an eventfd, so it ends promptly however long the wait would have lasted;
// wake() does the same without stopping it, so that the next turn comes at once.
class WakeableEventThread {
public:
    WakeableEventThread() = default;
    // Stops the thread.
    ~WakeableEventThread();
    WakeableEventThread(const WakeableEventThread&) = delete;
    WakeableEventThread& operator=(const WakeableEventThread&) = delete;

    // Runs `turn` on a thread of its own until stop() is called or `turn` returns false. False when the
    // thread already runs or cannot be set up.
    bool start(std::function<bool()> turn);
    // Returns once the thread has ended; no turn runs afterwards.
    void stop();
    // Ends the thread's current or next wait at once. Call it only between start() and stop().
    void wake() const;
    // On the thread: waits until `fd` is ready for `events`, stop() or wake() is called or
    // `timeoutMilliseconds` have passed (negative: no limit). Returns what poll(2) returns: 0 on timeout,
    // negative on failure (errno set).
    int wait(int fd, short events, int timeoutMilliseconds) const;

private:
    void run();

    std::function<bool()> turn_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace quillbridge
