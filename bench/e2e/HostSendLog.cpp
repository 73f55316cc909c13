#include "HostSendLog.hpp"

#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <ctime>
#include <mutex>

namespace quillbridge {

namespace {

std::atomic<int> watchedPort{-1};
std::mutex sendsMutex;
std::vector<HostSendLog::Send>& noted() {
    static std::vector<HostSendLog::Send> sends;
    return sends;
}

std::uint64_t now() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(time.tv_nsec);
}

int localPort(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }
    return -1;
}

void note(int socket, const msghdr* message) {
    const int port = watchedPort.load(std::memory_order_relaxed);
    if (port < 0 || message == nullptr) {
        return;
    }
    const std::uint64_t time = now();
    if (localPort(socket) != port) {
        return;
    }
    std::size_t bytes = 0;
    for (std::size_t index = 0; index < message->msg_iovlen; ++index) {
        bytes += message->msg_iov[index].iov_len;
    }
    std::lock_guard lock(sendsMutex);
    noted().push_back({time, bytes});
}

}  // namespace

void HostSendLog::start(std::uint16_t localPort) {
    std::lock_guard lock(sendsMutex);
    noted().clear();
    noted().reserve(1 << 20);
    watchedPort = localPort;
}

void HostSendLog::stop() {
    watchedPort = -1;
}

std::vector<HostSendLog::Send> HostSendLog::sends() {
    std::lock_guard lock(sendsMutex);
    return noted();
}

}  // namespace quillbridge

extern "C" ssize_t sendmsg(int socket, const msghdr* message, int flags) {
    using Sendmsg = ssize_t (*)(int, const msghdr*, int);
    static const auto next = reinterpret_cast<Sendmsg>(dlsym(RTLD_NEXT, "sendmsg"));
    quillbridge::note(socket, message);
    return next(socket, message, flags);
}
