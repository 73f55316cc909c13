#include "core/SerialQueue.hpp"

#include <atomic>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

TEST(SerialQueueTests, RunsWorkInOrderOnItsOwnThreadAndSyncWaitsForIt) {
    SerialQueue queue("test.queue");
    std::vector<int> order;
    for (int index = 0; index < 100; ++index) {
        queue.async([&order, index] { order.push_back(index); });
    }
    bool ranOnQueue = queue.sync([&queue] { return queue.isCurrent(); });
    EXPECT_TRUE(ranOnQueue);
    EXPECT_FALSE(queue.isCurrent());
    ASSERT_EQ(order.size(), 100u);
    for (int index = 0; index < 100; ++index) {
        EXPECT_EQ(order[index], index);
    }
}

TEST(SerialQueueTests, NestedSyncRunsInlineAndExceptionsReachTheCaller) {
    SerialQueue queue("test.queue");
    int nested = queue.sync([&queue] { return queue.sync([] { return 7; }) + 1; });
    EXPECT_EQ(nested, 8);
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    // A throwing fire-and-forget item does not stop the queue.
    queue.async([] { throw std::runtime_error("ignored"); });
    EXPECT_EQ(queue.sync([] { return 1; }), 1);
}

TEST(SerialQueueTests, DestructionRunsWorkAlreadyQueued) {
    std::atomic<int> ran{0};
    {
        SerialQueue queue("test.queue");
        for (int index = 0; index < 10; ++index) {
            queue.async([&ran] { ran.fetch_add(1); });
        }
    }
    EXPECT_EQ(ran.load(), 10);
}

}  // namespace
}  // namespace quillbridge
