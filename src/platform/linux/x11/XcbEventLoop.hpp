#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

// Reads the events of one X connection on a thread of its own and hands each to `onEvent` there. When an
// `idle` interval is given, `onIdle` also runs there at that interval (for state the server does not
// announce).
class XcbEventLoop {
public:
    XcbEventLoop(std::unique_ptr<XcbConnection> connection, std::function<void(xcb_generic_event_t*)> onEvent,
                 std::chrono::milliseconds idle = {}, std::function<void()> onIdle = {});
    // Stops the thread.
    ~XcbEventLoop();
    XcbEventLoop(const XcbEventLoop&) = delete;
    XcbEventLoop& operator=(const XcbEventLoop&) = delete;

    XcbConnection& connection() { return *connection_; }
    bool start();
    // Returns once the thread has ended; no callback runs afterwards.
    void stop();

private:
    void run();

    std::unique_ptr<XcbConnection> connection_;
    std::function<void(xcb_generic_event_t*)> onEvent_;
    std::chrono::milliseconds idle_;
    std::function<void()> onIdle_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace quillbridge
