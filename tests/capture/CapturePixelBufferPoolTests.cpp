#include "capture/CapturePixelBufferPool.hpp"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

TEST(CapturePixelBufferPoolTest, LendsEachBufferOnceAndTakesItBackWhenTheLastHolderLetsGo) {
    CapturePixelBufferPool pool(64, 2);
    EXPECT_EQ(pool.allocatedCount(), 0u) << "buffers are allocated on first use";
    auto first = pool.acquire();
    auto second = pool.acquire();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_FALSE(pool.acquire()) << "the pool is bounded: nothing is lent beyond its capacity";
    auto copy = first;
    first.reset();
    EXPECT_EQ(pool.availableCount(), 0u);
    copy.reset();
    EXPECT_EQ(pool.availableCount(), 1u);
    auto again = pool.acquire();
    ASSERT_TRUE(again);
    EXPECT_EQ(pool.allocatedCount(), 2u) << "a returned buffer is lent again, not allocated anew";
}

// A frame that outlives its capture (handed to the session after the stream stopped) must hold only its own
// buffer: destroying the pool frees the rest at once, and the held one when its frame goes.
TEST(CapturePixelBufferPoolTest, DestroyingThePoolFreesIdleBuffersAndLaterTheHeldOne) {
    const auto before = CapturePixelBufferPool::liveBufferCount();
    std::shared_ptr<std::uint8_t> held;
    {
        CapturePixelBufferPool pool(1024, 4);
        std::vector<std::shared_ptr<std::uint8_t>> lent;
        for (int index = 0; index < 4; ++index) {
            lent.push_back(pool.acquire());
        }
        EXPECT_EQ(CapturePixelBufferPool::liveBufferCount(), before + 4);
        held = lent.front();
        lent.clear();
        EXPECT_EQ(CapturePixelBufferPool::liveBufferCount(), before + 4) << "a live pool keeps its buffers";
    }
    EXPECT_EQ(CapturePixelBufferPool::liveBufferCount(), before + 1);
    held.get()[1023] = 7;  // still a whole buffer for its holder
    held.reset();
    EXPECT_EQ(CapturePixelBufferPool::liveBufferCount(), before);
}

}  // namespace
}  // namespace quillbridge
