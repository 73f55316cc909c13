#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <asio/async_result.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/use_awaitable.hpp>

#include "capture/StreamingAudioDispatcher.hpp"
#include "capture/StreamingFrameDispatcher.hpp"
#include "capture/VirtualMicrophoneAudioDispatcher.hpp"
#include "core/PendingCompletion.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::shared_ptr<const CapturedVideoFrame> frameNumbered(std::uint64_t number) {
    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->presentationTimeNanoseconds = number;
    return frame;
}

std::shared_ptr<const AudioPCMBuffer> bufferNumbered(std::uint64_t number) {
    auto buffer = std::make_shared<AudioPCMBuffer>();
    buffer->presentationTimeNanoseconds = number;
    return buffer;
}

// A consumer that takes one item at a time and stays busy until the test releases it.
class GatedConsumer {
public:
    std::vector<std::uint64_t> received;

    asio::awaitable<void> consume(std::uint64_t number) {
        received.push_back(number);
        co_await asio::async_initiate<const asio::use_awaitable_t<>&, void()>(
            [this](auto handler) { gate_ = PendingCompletion<>(std::move(handler)); }, asio::use_awaitable);
    }
    bool isBusy() const { return static_cast<bool>(gate_); }
    void release() { gate_.complete(); }

private:
    PendingCompletion<> gate_;
};

class CaptureMailboxTest : public ::testing::Test {
protected:
    void runReady() {
        context.restart();
        context.poll();
    }

    asio::io_context context;
    GatedConsumer consumer;
};

TEST_F(CaptureMailboxTest, FramesThatArriveWhileTheConsumerIsBusyReplaceEachOther) {
    StreamingFrameDispatcher frames(context.get_executor(), [this](auto frame) {
        return consumer.consume(frame->presentationTimeNanoseconds);
    });
    EXPECT_TRUE(frames.submit(frameNumbered(1)));
    // Start the one drain the first submit asked for.
    asio::co_spawn(context, frames.drain(), asio::detached);
    runReady();
    ASSERT_TRUE(consumer.isBusy());
    for (std::uint64_t number = 2; number <= 10; ++number) {
        EXPECT_FALSE(frames.submit(frameNumbered(number)));
    }
    consumer.release();
    runReady();
    consumer.release();
    runReady();
    EXPECT_THAT(consumer.received, ElementsAre(1u, 10u));
    EXPECT_FALSE(frames.isDraining());
    EXPECT_FALSE(frames.hasPendingFrame());

    // Once the drain has ended, the next submit starts a new one.
    frames.submitAndDrain(frameNumbered(11));
    runReady();
    consumer.release();
    runReady();
    EXPECT_THAT(consumer.received, ElementsAre(1u, 10u, 11u));
    EXPECT_FALSE(frames.isDraining());
}

TEST_F(CaptureMailboxTest, DiscardingKeepsTheItemBeingDeliveredAndDropsTheRest) {
    StreamingFrameDispatcher frames(context.get_executor(), [this](auto frame) {
        return consumer.consume(frame->presentationTimeNanoseconds);
    });
    frames.submitAndDrain(frameNumbered(1));
    runReady();
    frames.submitAndDrain(frameNumbered(2));
    frames.discardPending();
    EXPECT_TRUE(frames.isDraining());
    consumer.release();
    runReady();
    EXPECT_THAT(consumer.received, ElementsAre(1u));
    EXPECT_FALSE(frames.isDraining());

    GatedConsumer audioConsumer;
    StreamingAudioDispatcher audio(context.get_executor(), [&](auto buffer) {
        return audioConsumer.consume(buffer->presentationTimeNanoseconds);
    });
    audio.submitAndDrain(bufferNumbered(1));
    runReady();
    audio.submitAndDrain(bufferNumbered(2));
    audio.submitAndDrain(bufferNumbered(3));
    audio.discardPending();
    audioConsumer.release();
    runReady();
    EXPECT_THAT(audioConsumer.received, ElementsAre(1u));
    EXPECT_FALSE(audio.isDraining());
}

TEST_F(CaptureMailboxTest, AudioKeepsTheNewestThreeBuffersInArrivalOrder) {
    struct Case {
        std::uint64_t submittedWhileBusy;
        std::vector<std::uint64_t> expected;
    };
    const Case cases[] = {
        {1, {1, 2}},
        {3, {1, 2, 3, 4}},
        {4, {1, 3, 4, 5}},
        {9, {1, 8, 9, 10}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.submittedWhileBusy);
        GatedConsumer audioConsumer;
        StreamingAudioDispatcher audio(context.get_executor(), [&](auto buffer) {
            return audioConsumer.consume(buffer->presentationTimeNanoseconds);
        });
        audio.submitAndDrain(bufferNumbered(1));
        runReady();
        ASSERT_TRUE(audioConsumer.isBusy());
        for (std::uint64_t number = 2; number < 2 + testCase.submittedWhileBusy; ++number) {
            EXPECT_FALSE(audio.submit(bufferNumbered(number)));
            EXPECT_LE(audio.pendingCount(), StreamingAudioDispatcher::maximumPendingBuffers);
        }
        while (audioConsumer.isBusy()) {
            audioConsumer.release();
            runReady();
        }
        EXPECT_EQ(audioConsumer.received, testCase.expected);
        EXPECT_FALSE(audio.isDraining());
    }
}

TEST_F(CaptureMailboxTest, AFailingConsumerLosesOneItemNotTheMailbox) {
    std::vector<std::uint64_t> received;
    StreamingAudioDispatcher audio(context.get_executor(), [&](auto buffer) -> asio::awaitable<void> {
        received.push_back(buffer->presentationTimeNanoseconds);
        if (buffer->presentationTimeNanoseconds == 1) {
            throw std::runtime_error("consumer failed");
        }
        co_return;
    });
    audio.submitAndDrain(bufferNumbered(1));
    audio.submitAndDrain(bufferNumbered(2));
    runReady();
    audio.submitAndDrain(bufferNumbered(3));
    runReady();
    EXPECT_THAT(received, ElementsAre(1u, 2u, 3u));
    EXPECT_FALSE(audio.isDraining());
}

VirtualMicrophonePacket packet(std::int64_t id, std::int64_t frameCount, bool startsNewTimeline = false) {
    VirtualMicrophonePacket result;
    result.captureTimeNanoseconds = static_cast<std::uint64_t>(id);
    result.frameCount = frameCount;
    result.startsNewTimeline = startsNewTimeline;
    return result;
}

TEST(VirtualMicrophoneAudioDispatcherTest, KeepsAtMost2880FramesAndANewTimelineClearsThePending) {
    struct Case {
        const char* name;
        std::vector<VirtualMicrophonePacket> packets;
        std::vector<std::uint64_t> expectedConsumed;
        std::int64_t expectedPendingFrames;
    };
    const Case cases[] = {
        {"exactly 2880 frames stay", {packet(1, 960), packet(2, 960), packet(3, 960)}, {1, 2, 3}, 2880},
        {"one frame more drops the oldest",
         {packet(1, 960), packet(2, 960), packet(3, 960), packet(4, 1)},
         {2, 3, 4},
         1921},
        {"a new timeline discards everything pending",
         {packet(1, 480), packet(2, 480), packet(3, 480, true), packet(4, 480)},
         {3, 4},
         960},
        {"an oversized packet is still queued, alone",
         {packet(1, 100), packet(2, 100), packet(3, 4000)},
         {3},
         4000},
        {"drops as few old packets as needed",
         {packet(1, 1000), packet(2, 1000), packet(3, 800), packet(4, 1000)},
         {2, 3, 4},
         2800},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        SerialQueue queue("test.VirtualMicrophoneControl");
        std::vector<std::uint64_t> consumed;
        VirtualMicrophoneAudioDispatcher microphone(queue, [&](VirtualMicrophonePacket p) {
            EXPECT_TRUE(queue.isCurrent());
            consumed.push_back(p.captureTimeNanoseconds);
        });
        // Hold the queue so that every packet is still pending when the last one arrives.
        std::promise<void> release;
        queue.async([future = release.get_future().share()] { future.wait(); });
        for (const auto& p : testCase.packets) {
            EXPECT_TRUE(microphone.enqueue(p));
        }
        EXPECT_EQ(microphone.pendingFrameCount(), testCase.expectedPendingFrames);
        release.set_value();
        queue.sync([] {});
        EXPECT_THAT(consumed, ElementsAreArray(testCase.expectedConsumed));
        EXPECT_EQ(microphone.pendingFrameCount(), 0);
        EXPECT_FALSE(microphone.isDraining());
    }
}

}  // namespace
}  // namespace quillbridge
