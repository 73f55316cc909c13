#include "input/BoundedFileReader.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

// A stream that keeps growing while it is read: a writer sends far more than any limit below (and blocks
// until the reader takes it). Reading "the whole file" would take it all; the bounded read stops after
// limit + 1 bytes each time.
TEST(BoundedFileReaderTest, StopsOneBytePastTheLimitOfAStreamThatKeepsGrowing) {
    int sockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
    std::thread writer([descriptor = sockets[1]] {
        Bytes block(4096, 0x42);
        for (int count = 0; count < 4096; ++count) {
            if (::send(descriptor, block.data(), block.size(), MSG_NOSIGNAL) <= 0)
                break;
        }
        ::close(descriptor);
    });
    for (std::size_t limit : {0u, 1u, 4095u, 100'000u}) {
        SCOPED_TRACE(limit);
        auto contents = BoundedFileReader::readAtMost(sockets[0], limit);
        ASSERT_TRUE(contents);
        EXPECT_EQ(contents->size(), limit + 1);
    }
    ::shutdown(sockets[0], SHUT_RDWR);
    writer.join();
    ::close(sockets[0]);
}

TEST(BoundedFileReaderTest, ReadsAShorterStreamToItsEndAndReportsReadErrors) {
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ASSERT_EQ(::write(pipe[1], "hello", 5), 5);
    ::close(pipe[1]);
    auto contents = BoundedFileReader::readAtMost(pipe[0], 10);
    ASSERT_TRUE(contents);
    EXPECT_EQ(asText(*contents), "hello");
    ::close(pipe[0]);

    EXPECT_FALSE(BoundedFileReader::readAtMost(-1, 10));
}

}  // namespace
}  // namespace quillbridge
