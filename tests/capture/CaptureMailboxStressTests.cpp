#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <asio/thread_pool.hpp>

#include "capture/StreamingAudioDispatcher.hpp"
#include "capture/StreamingFrameDispatcher.hpp"
#include "capture/VirtualMicrophoneAudioDispatcher.hpp"

namespace quillbridge {
namespace {

constexpr std::uint64_t itemCount = 100'000;
// How long to wait for the consumer to catch up before the test gives up (a bound, not a timing).
constexpr auto generousBound = std::chrono::seconds(60);

// What one consumer saw, shared with the test thread.
class ConsumerRecord {
public:
    // Records one item: it must be newer than every item before it. Busy for a random short while.
    void receive(std::uint64_t number) {
        thread_local std::minstd_rand random(std::random_device{}());
        {
            std::lock_guard lock(mutex_);
            if (active_) {
                concurrentDeliveries_ = true;
            }
            active_ = true;
            if (!received_.empty() && number <= received_.back()) {
                outOfOrder_ = true;
            }
            received_.push_back(number);
        }
        const int spins = static_cast<int>(random() % 200);
        for (int spin = 0; spin < spins; ++spin) {
            std::this_thread::yield();
        }
        {
            std::lock_guard lock(mutex_);
            active_ = false;
        }
        changed_.notify_all();
    }

    // Waits until the item has been received.
    bool waitFor(std::uint64_t number) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, generousBound, [&] {
            return !received_.empty() && received_.back() == number && !active_;
        });
    }

    std::vector<std::uint64_t> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    bool outOfOrder() const {
        std::lock_guard lock(mutex_);
        return outOfOrder_;
    }
    bool concurrentDeliveries() const {
        std::lock_guard lock(mutex_);
        return concurrentDeliveries_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint64_t> received_;
    bool active_ = false;
    bool outOfOrder_ = false;
    bool concurrentDeliveries_ = false;
};

// Waits until a condition holds, polling with yields, at most the generous bound.
template <class Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + generousBound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST(CaptureMailboxStressTest, FramesFromAProducerThreadReachASlowConsumerNewestFirstAndNeverTwice) {
    asio::thread_pool pool(2);
    ConsumerRecord consumer;
    StreamingFrameDispatcher frames(pool.get_executor(), [&](auto frame) -> asio::awaitable<void> {
        consumer.receive(frame->presentationTimeNanoseconds);
        co_return;
    });
    std::thread producer([&] {
        for (std::uint64_t number = 1; number <= itemCount; ++number) {
            auto frame = std::make_shared<CapturedVideoFrame>();
            frame->presentationTimeNanoseconds = number;
            frames.submitAndDrain(std::move(frame));
        }
    });
    producer.join();
    ASSERT_TRUE(consumer.waitFor(itemCount));
    ASSERT_TRUE(eventually([&] { return !frames.isDraining(); }));
    EXPECT_FALSE(consumer.outOfOrder());
    EXPECT_FALSE(consumer.concurrentDeliveries());
    EXPECT_FALSE(frames.hasPendingFrame());
    pool.join();
}

TEST(CaptureMailboxStressTest, AudioFromAProducerThreadKeepsOrderAndItsBound) {
    asio::thread_pool pool(2);
    ConsumerRecord consumer;
    StreamingAudioDispatcher audio(pool.get_executor(), [&](auto buffer) -> asio::awaitable<void> {
        consumer.receive(buffer->presentationTimeNanoseconds);
        co_return;
    });
    std::atomic<bool> boundExceeded = false;
    std::thread producer([&] {
        for (std::uint64_t number = 1; number <= itemCount; ++number) {
            auto buffer = std::make_shared<AudioPCMBuffer>();
            buffer->presentationTimeNanoseconds = number;
            audio.submitAndDrain(std::move(buffer));
            if (audio.pendingCount() > StreamingAudioDispatcher::maximumPendingBuffers) {
                boundExceeded = true;
            }
        }
    });
    producer.join();
    ASSERT_TRUE(consumer.waitFor(itemCount));
    ASSERT_TRUE(eventually([&] { return !audio.isDraining(); }));
    EXPECT_FALSE(consumer.outOfOrder());
    EXPECT_FALSE(consumer.concurrentDeliveries());
    EXPECT_FALSE(boundExceeded);
    EXPECT_EQ(audio.pendingCount(), 0u);
    pool.join();
}

TEST(CaptureMailboxStressTest, MicrophonePacketsKeepOrderAndTheFrameBound) {
    SerialQueue queue("test.VirtualMicrophoneControl");
    ConsumerRecord consumer;
    VirtualMicrophoneAudioDispatcher microphone(
        queue, [&](VirtualMicrophonePacket packet) { consumer.receive(packet.captureTimeNanoseconds); });
    std::atomic<bool> boundExceeded = false;
    std::thread producer([&] {
        std::minstd_rand random(7);
        for (std::uint64_t number = 1; number <= itemCount; ++number) {
            VirtualMicrophonePacket packet;
            packet.captureTimeNanoseconds = number;
            packet.frameCount = 1 + static_cast<std::int64_t>(random() % 960);
            packet.startsNewTimeline = random() % 1000 == 0;
            microphone.enqueue(std::move(packet));
            if (microphone.pendingFrameCount() > VirtualMicrophoneAudioDispatcher::maximumPendingFrameCount) {
                boundExceeded = true;
            }
        }
    });
    producer.join();
    ASSERT_TRUE(consumer.waitFor(itemCount));
    queue.sync([] {});
    EXPECT_FALSE(microphone.isDraining());
    EXPECT_FALSE(consumer.outOfOrder());
    EXPECT_FALSE(boundExceeded);
    EXPECT_EQ(microphone.pendingFrameCount(), 0);
}

}  // namespace
}  // namespace quillbridge
