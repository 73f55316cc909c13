#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <pipewire/pipewire.h>

#include "camera_extension/linux/PipeWireLoopStateQueue.hpp"

namespace quillbridge {
namespace {

using std::chrono::milliseconds;
using testing::ElementsAre;

// A PipeWire loop (no server needed) turned by the test's thread.
class PipeWireLoopStateQueueTest : public testing::Test {
protected:
    static void SetUpTestSuite() { pw_init(nullptr, nullptr); }

    void SetUp() override {
        loop = pw_loop_new(nullptr);
        ASSERT_NE(loop, nullptr);
        queue = std::make_unique<PipeWireLoopStateQueue>(*loop);
    }

    void TearDown() override {
        queue.reset();
        pw_loop_destroy(loop);
    }

    // Turns the loop until the condition holds; false after two seconds.
    template <class Condition>
    bool turnUntil(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        // SPA's version checks compare signed and unsigned numbers.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wsign-compare"
        pw_loop_enter(loop);
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            pw_loop_iterate(loop, 10);
        pw_loop_leave(loop);
#pragma clang diagnostic pop
        return condition();
    }

    pw_loop* loop = nullptr;
    std::unique_ptr<PipeWireLoopStateQueue> queue;
    std::vector<int> ran;
};

TEST_F(PipeWireLoopStateQueueTest, RunsWorkInOrderOnTheLoopNeverInline) {
    queue->async([&] {
        ran.push_back(1);
        queue->async([&] { ran.push_back(3); });
    });
    queue->async([&] { ran.push_back(2); });
    EXPECT_TRUE(ran.empty());

    EXPECT_TRUE(turnUntil([&] { return ran.size() == 3; }));
    EXPECT_THAT(ran, ElementsAre(1, 2, 3));
}

TEST_F(PipeWireLoopStateQueueTest, DelayedWorkRunsByDeadlineThenInTheOrderQueued) {
    queue->asyncAfter(milliseconds(40), [&] { ran.push_back(3); });
    queue->asyncAfter(milliseconds(5), [&] { ran.push_back(1); });
    queue->asyncAfter(milliseconds(5), [&] { ran.push_back(2); });
    const auto queuedAt = std::chrono::steady_clock::now();

    EXPECT_TRUE(turnUntil([&] { return ran.size() == 3; }));
    EXPECT_THAT(ran, ElementsAre(1, 2, 3));
    EXPECT_GE(std::chrono::steady_clock::now() - queuedAt, milliseconds(40));
}

TEST_F(PipeWireLoopStateQueueTest, WorkQueuedFromAnotherThreadRunsOnTheLoop) {
    std::thread::id ranOn;
    std::thread([&] {
        queue->asyncAfter(milliseconds(1), [&] { ranOn = std::this_thread::get_id(); });
    }).join();

    EXPECT_TRUE(turnUntil([&] { return ranOn != std::thread::id(); }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(PipeWireLoopStateQueueTest, WorkLeftWhenTheQueueGoesIsReleasedWithoutRunning) {
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watched = held;
    queue->async([this, held] { ran.push_back(1); });
    queue->asyncAfter(milliseconds(1000), [this, held = std::move(held)] { ran.push_back(2); });

    queue.reset();

    EXPECT_TRUE(watched.expired());
    EXPECT_TRUE(ran.empty());
}

}  // namespace
}  // namespace quillbridge
