#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/quic/QuicTestFixture.hpp"

namespace quillbridge {
namespace {

// Interactive video: DSCP AF41 with the ECN bits clear.
constexpr int interactiveVideo = 0x88;

// The descriptor of this process's UDP socket bound to the address family and port; -1 when none is.
int boundSocket(int family, std::uint16_t port) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.ss_family != family ||
            getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_DGRAM) {
            continue;
        }
        const std::uint16_t bound = family == AF_INET ? reinterpret_cast<sockaddr_in&>(local).sin_port
                                                      : reinterpret_cast<sockaddr_in6&>(local).sin6_port;
        if (ntohs(bound) == port) {
            return fd;
        }
    }
    return -1;
}

int readOption(int fd, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    EXPECT_EQ(getsockopt(fd, level, name, &value, &length), 0) << std::strerror(errno);
    return value;
}

// The TOS byte of a packet the listener sends to a plain IPv4 socket: the stateless reset with which it
// answers a short-header packet of no connection it knows. Nothing when no answer came.
std::optional<int> tosOfAnswer(std::uint16_t port) {
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(probe, IPPROTO_IP, IP_RECVTOS, &on, sizeof on);
    sockaddr_in listener{};
    listener.sin_family = AF_INET;
    listener.sin_port = htons(port);
    listener.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<std::uint8_t> packet(1200, 0x5a);
    packet[0] = 0x40;  // short header, fixed bit set
    sendto(probe, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&listener), sizeof listener);
    std::optional<int> tos;
    pollfd ready{probe, POLLIN, 0};
    if (poll(&ready, 1, 5000) == 1) {
        std::uint8_t buffer[1500];
        iovec data{buffer, sizeof buffer};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (recvmsg(probe, &message, 0) > 0) {
            for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
                if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_TOS) {
                    tos = *CMSG_DATA(header);
                }
            }
        }
    }
    close(probe);
    return tos;
}

TEST_F(QuicTransportFixture, ListenerSocketsMarkTheirTrafficAsInteractiveVideo) {
    struct Case {
        const char* bind;
        int family;
    };
    for (const Case& c : {Case{"127.0.0.1", AF_INET}, Case{"::1", AF_INET6}, Case{"::", AF_INET6}}) {
        SCOPED_TRACE(c.bind);
        if (c.family == AF_INET6 && !hasIPv6Loopback()) {
            std::cout << "Skipped binding " << c.bind << ": this host has no IPv6 loopback\n";
            continue;
        }
        auto listener = listen(listenerParameters(c.bind));
        const int fd = boundSocket(c.family, listener->localPort());
        ASSERT_GE(fd, 0) << "no socket bound to port " << listener->localPort();
        // IPv4 packets, also those an IPv6 socket sends to mapped addresses, carry the TOS byte.
        EXPECT_EQ(readOption(fd, IPPROTO_IP, IP_TOS), interactiveVideo);
        if (c.family == AF_INET6) {
            EXPECT_EQ(readOption(fd, IPPROTO_IPV6, IPV6_TCLASS), interactiveVideo);
        }
        if (std::string(c.bind) != "::1") {
            // And the packets on the wire carry it.
            EXPECT_EQ(tosOfAnswer(listener->localPort()), interactiveVideo);
        }
    }
}

}  // namespace
}  // namespace quillbridge
