#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "platform/linux/thread/WakeableEventThread.hpp"
#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

// Reads the events of one X connection on a thread of its own and hands each to `onEvent` there. When an
// `idle` interval is given, `onIdle` also runs there at that interval (for state the server does not
// announce).
class XcbEventLoop {
public:
    using Connector = std::function<std::unique_ptr<XcbConnection>()>;

    XcbEventLoop(std::unique_ptr<XcbConnection> connection, std::function<void(xcb_generic_event_t*)> onEvent,
                 std::chrono::milliseconds idle = {}, std::function<void()> onIdle = {});
    // Connects on the loop's own thread, so that starting never waits on the server: `connect` opens the
    // connection there and makes its first requests (selecting events, say); nothing from it ends the loop.
    XcbEventLoop(Connector connect, std::function<void(xcb_generic_event_t*)> onEvent);
    // Stops the thread.
    ~XcbEventLoop();
    XcbEventLoop(const XcbEventLoop&) = delete;
    XcbEventLoop& operator=(const XcbEventLoop&) = delete;

    // The connection: given at construction, or once the loop's thread has opened it (use it there only).
    XcbConnection& connection() { return *connection_; }
    bool start();
    // Returns once the thread has ended; no callback runs afterwards.
    void stop();

private:
    // One pass on the thread: hands over what has arrived, then waits. False once the connection has failed.
    bool turn();

    Connector connect_;
    std::unique_ptr<XcbConnection> connection_;
    std::function<void(xcb_generic_event_t*)> onEvent_;
    std::chrono::milliseconds idle_;
    std::function<void()> onIdle_;
    WakeableEventThread thread_;
};

}  // namespace quillbridge
