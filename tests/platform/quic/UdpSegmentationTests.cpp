#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <memory>

#include <gtest/gtest.h>
#include <asio/experimental/awaitable_operators.hpp>

#include "platform/quic/QuicTestFixture.hpp"

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103
#endif

namespace {

// While set, segmented UDP sends fail with EIO, as they do on a network device without checksum offload.
std::atomic<bool> refuseSegmentedSends{false};
std::atomic<int> refusedSegmentedSends{0};

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

}  // namespace

// This test program's sendmsg: the C library's, unless segmented sends are being refused.
extern "C" ssize_t sendmsg(int socket, const msghdr* message, int flags) {
    using Sendmsg = ssize_t (*)(int, const msghdr*, int);
    static const auto next = reinterpret_cast<Sendmsg>(dlsym(RTLD_NEXT, "sendmsg"));
    if (refuseSegmentedSends && isSegmented(message)) {
        ++refusedSegmentedSends;
        errno = EIO;
        return -1;
    }
    return next(socket, message, flags);
}

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;

TEST_F(QuicTransportFixture, PacketsGoOutOneByOneWhereTheKernelCannotSegmentThem) {
    refuseSegmentedSends = true;
    struct Restore {
        ~Restore() { refuseSegmentedSends = false; }
    } restore;

    auto listener = listen(listenerParameters());
    auto [server, client] = run(
        [](QuicListener& listener, QuicTestClient& headset)
            -> asio::awaitable<std::pair<std::shared_ptr<QuicConnection>, std::shared_ptr<QuicConnection>>> {
            auto [server, client] = co_await (listener.accept() && headset.connect(listener.localPort()));
            co_return std::pair{server, client};
        }(*listener, headset));
    constexpr std::size_t length = 8u << 20;
    run([](std::shared_ptr<QuicConnection> server,
           std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
        auto send = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
            auto stream = co_await server->openStream(QuicStreamDirectionality::unidirectional);
            co_await stream->send(patternBytes(0, length), true);
        };
        auto receive = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<Bytes> {
            auto stream = co_await client->acceptStream();
            Bytes all;
            for (;;) {
                auto chunk = co_await stream->receive(1, 1u << 20);
                appendBytes(all, chunk.data);
                if (chunk.isComplete) {
                    co_return all;
                }
            }
        };
        auto received = co_await (send(server) && receive(client));
        EXPECT_EQ(received, patternBytes(0, length));
    }(server, client));
    EXPECT_GT(refusedSegmentedSends.load(), 0);
}

}  // namespace
}  // namespace quillbridge
