#include "platform/linux/x11/XcbEventLoop.hpp"

#include <poll.h>

#include <cerrno>
#include <cstdlib>

namespace quillbridge {

XcbEventLoop::XcbEventLoop(std::unique_ptr<XcbConnection> connection,
                           std::function<void(xcb_generic_event_t*)> onEvent, std::chrono::milliseconds idle,
                           std::function<void()> onIdle)
    : connection_(std::move(connection)),
      onEvent_(std::move(onEvent)),
      idle_(idle),
      onIdle_(std::move(onIdle)) {}

XcbEventLoop::XcbEventLoop(Connector connect, std::function<void(xcb_generic_event_t*)> onEvent)
    : connect_(std::move(connect)), onEvent_(std::move(onEvent)) {}

XcbEventLoop::~XcbEventLoop() {
    stop();
}

bool XcbEventLoop::start() {
    if (connect_) {
        return thread_.start([this] { return turn(); });
    }
    if (!connection_ || connection_->hasError()) {
        return false;
    }
    return thread_.start([this] { return turn(); });
}

void XcbEventLoop::stop() {
    thread_.stop();
}

bool XcbEventLoop::turn() {
    if (!connection_) {
        connection_ = connect_();
        if (!connection_) {
            return false;
        }
    }
    xcb_connection_t* connection = connection_->get();
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        onEvent_(event);
        std::free(event);
    }
    if (connection_->hasError()) {
        return false;
    }
    int timeout = onIdle_ && idle_.count() > 0 ? static_cast<int>(idle_.count()) : -1;
    int ready = thread_.wait(xcb_get_file_descriptor(connection), POLLIN, timeout);
    if (ready < 0 && errno != EINTR) {
        return false;
    }
    if (ready == 0 && onIdle_) {
        onIdle_();
    }
    return true;
}

}  // namespace quillbridge
