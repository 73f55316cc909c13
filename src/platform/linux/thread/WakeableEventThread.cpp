#include "platform/linux/thread/WakeableEventThread.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace quillbridge {

WakeableEventThread::~WakeableEventThread() {
    stop();
}

bool WakeableEventThread::start(std::function<bool()> turn) {
    if (thread_.joinable() || !turn) {
        return false;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        return false;
    }
    turn_ = std::move(turn);
    thread_ = std::thread([this] { run(); });
    return true;
}

void WakeableEventThread::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
        wakeFd_ = -1;
    }
}

void WakeableEventThread::wake() const {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
}

int WakeableEventThread::wait(int fd, short events, int timeoutMilliseconds) const {
    pollfd fds[2] = {{fd, events, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMilliseconds);
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
        // Taken back, so that the next wait waits again; a stop is seen through `stopping_`.
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t read = ::read(wakeFd_, &count, sizeof count);
    }
    return ready;
}

void WakeableEventThread::run() {
    while (!stopping_) {
        if (!turn_()) {
            return;
        }
    }
}

}  // namespace quillbridge
