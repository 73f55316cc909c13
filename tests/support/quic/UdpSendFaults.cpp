#include "support/quic/UdpSendFaults.hpp"

#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103
#endif

namespace quillbridge {

namespace {

std::atomic<bool> refuseSegmented{false};
std::atomic<int> refusedSegmented{0};
std::atomic<int> blockedSocket{-1};
std::atomic<int> blocksLeft{0};
std::atomic<int> blocked{0};

bool isSegmented(const msghdr* message) {
    auto* mutableMessage = const_cast<msghdr*>(message);
    for (cmsghdr* header = CMSG_FIRSTHDR(mutableMessage); header != nullptr;
         header = CMSG_NXTHDR(mutableMessage, header)) {
        if (header->cmsg_level == SOL_UDP && header->cmsg_type == UDP_SEGMENT) {
            return true;
        }
    }
    return false;
}

// Whether this send on the socket is to fail with EAGAIN (and takes one from the count if so).
bool takeBlock(int socket) {
    const int target = blockedSocket.load();
    if (target != socket && target != UdpSendFaults::anySocket) {
        return false;
    }
    int left = blocksLeft.load();
    while (left != 0) {
        if (left < 0 || blocksLeft.compare_exchange_weak(left, left - 1)) {
            ++blocked;
            return true;
        }
    }
    return false;
}

}  // namespace

void UdpSendFaults::refuseSegmentedSends(bool refuse) {
    refuseSegmented = refuse;
}

int UdpSendFaults::refusedSegmentedSends() {
    return refusedSegmented;
}

void UdpSendFaults::blockSends(int socket, int count) {
    blocksLeft = count;
    blockedSocket = socket;
}

void UdpSendFaults::unblockSends() {
    blockedSocket = -1;
    blocksLeft = 0;
}

int UdpSendFaults::blockedSends() {
    return blocked;
}

void UdpSendFaults::reset() {
    unblockSends();
    refuseSegmented = false;
    refusedSegmented = 0;
    blocked = 0;
}

}  // namespace quillbridge

// This test program's sendmsg: the C library's, unless a fault is set.
extern "C" ssize_t sendmsg(int socket, const msghdr* message, int flags) {
    using Sendmsg = ssize_t (*)(int, const msghdr*, int);
    static const auto next = reinterpret_cast<Sendmsg>(dlsym(RTLD_NEXT, "sendmsg"));
    if (quillbridge::takeBlock(socket)) {
        errno = EAGAIN;
        return -1;
    }
    if (quillbridge::refuseSegmented && quillbridge::isSegmented(message)) {
        ++quillbridge::refusedSegmented;
        errno = EIO;
        return -1;
    }
    return next(socket, message, flags);
}
