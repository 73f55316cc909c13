#include "platform/linux/x11/XcbEventLoop.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace quillbridge {

XcbEventLoop::XcbEventLoop(std::unique_ptr<XcbConnection> connection,
                           std::function<void(xcb_generic_event_t*)> onEvent, std::chrono::milliseconds idle,
                           std::function<void()> onIdle)
    : connection_(std::move(connection)),
      onEvent_(std::move(onEvent)),
      idle_(idle),
      onIdle_(std::move(onIdle)) {}

XcbEventLoop::~XcbEventLoop() {
    stop();
}

bool XcbEventLoop::start() {
    if (thread_.joinable() || !connection_ || connection_->hasError()) {
        return false;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void XcbEventLoop::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
        wakeFd_ = -1;
    }
}

void XcbEventLoop::run() {
    xcb_connection_t* connection = connection_->get();
    while (!stopping_) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            onEvent_(event);
            std::free(event);
        }
        if (connection_->hasError()) {
            return;
        }
        pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        int timeout = onIdle_ && idle_.count() > 0 ? static_cast<int>(idle_.count()) : -1;
        int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (ready == 0 && onIdle_) {
            onIdle_();
        }
    }
}

}  // namespace quillbridge
