#include "bridge/ClockedVisionMicrophoneReceiver.hpp"

#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "core/Logger.hpp"

namespace quillbridge {
namespace {

constexpr std::int64_t ms = 1'000'000;
constexpr std::uint32_t framesPerChunk = 480;  // 10 ms at 48 kHz

class RecordingLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override {
        std::lock_guard lock(mutex_);
        if (record.category == "VisionMicrophoneReceiver") {
            messages_.push_back(record.message);
        }
    }
    std::vector<std::string> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> messages_;
};

struct HandledChunk {
    MicrophoneFormatMessage format;
    std::uint64_t captureTimeNanoseconds;
    std::int64_t targetHostTimeNanoseconds;
    std::int64_t targetBufferFrameCount;
    bool startsNewTimeline;
    std::int64_t frameCount;
    Bytes payload;
};

class ClockedVisionMicrophoneReceiverTest : public testing::Test {
protected:
    void SetUp() override { previousSink_ = installLogSink(sink_); }
    void TearDown() override { installLogSink(previousSink_); }

    template <class T>
    T run(asio::awaitable<T> awaitable) {
        auto future = asio::co_spawn(context_, std::move(awaitable), asio::use_future);
        context_.restart();
        context_.run();
        return future.get();
    }

    std::optional<std::uint64_t> send(std::uint64_t chunkID, std::uint64_t captureTime,
                                      std::uint32_t frameCount = framesPerChunk,
                                      std::optional<std::size_t> payloadSize = std::nullopt,
                                      std::optional<Uuid> stream = std::nullopt) {
        MicrophoneFrameStreamHeader header;
        header.chunkID = chunkID;
        header.captureTimeNanoseconds = captureTime;
        header.frameCount = frameCount;
        header.payloadByteCount = static_cast<std::uint32_t>(payloadSize.value_or(frameCount * 4));
        Bytes payload(payloadSize.value_or(std::size_t{frameCount} * 4), 0x3f);
        return run(receiver_.receive(stream.value_or(stream_), header, std::move(payload)));
    }

    void openStream() {
        run(receiver_.updateFormat(48000, 1));
        run(receiver_.startStream(stream_));
    }

    asio::io_context context_;
    std::shared_ptr<RecordingLogSink> sink_ = std::make_shared<RecordingLogSink>();
    std::shared_ptr<LogSink> previousSink_;
    std::shared_ptr<PersonaAVTimingCoordinator> coordinator_ = std::make_shared<PersonaAVTimingCoordinator>();
    std::vector<HandledChunk> handled_;
    bool handlerAccepts_ = true;
    std::uint64_t hostTime_ = 1'000 * ms;
    Uuid stream_ = Uuid::random();
    ClockedVisionMicrophoneReceiver receiver_{
        context_.get_executor(), coordinator_,
        [this](const MicrophoneFormatMessage& format, std::uint64_t capture, std::int64_t target,
               std::int64_t targetFrames, bool newTimeline, std::int64_t frames, const Bytes& payload) {
            handled_.push_back({format, capture, target, targetFrames, newTimeline, frames, payload});
            return handlerAccepts_;
        },
        [this] { return hostTime_; }};
};

TEST_F(ClockedVisionMicrophoneReceiverTest, OnlyMonoAt48kHzIsAcceptedAndARefusalKeepsTheEarlierFormat) {
    run(receiver_.startStream(stream_));
    run(receiver_.updateFormat(44100, 1));
    EXPECT_EQ(send(1, 0), std::nullopt) << "no format yet";

    run(receiver_.updateFormat(48000, 1));
    run(receiver_.updateFormat(44100, 1));
    run(receiver_.updateFormat(48000, 2));
    EXPECT_EQ(send(2, 0), 2u) << "the 48 kHz mono format stays in force";
    ASSERT_EQ(handled_.size(), 1u);
    EXPECT_EQ(handled_[0].format.sampleRate, 48000);
    EXPECT_EQ(handled_[0].format.channelCount, 1u);

    EXPECT_EQ(sink_->messages(),
              (std::vector<std::string>{
                  "Rejected unsupported Vision microphone format: sampleRate=44100.000000, channels=1",
                  "Rejected unsupported Vision microphone format: sampleRate=44100.000000, channels=1",
                  "Rejected unsupported Vision microphone format: sampleRate=48000.000000, channels=2"}));
}

TEST_F(ClockedVisionMicrophoneReceiverTest,
       StaleChunksAreReportedWithTheHighWaterMarkAndLoggedOncePerStream) {
    openStream();
    EXPECT_EQ(send(1, 0), 1u);
    EXPECT_EQ(send(2, 10 * ms), 2u);
    EXPECT_EQ(send(3, 20 * ms), 3u);
    EXPECT_EQ(send(3, 30 * ms), 3u);
    EXPECT_EQ(send(2, 30 * ms), 3u);
    EXPECT_EQ(handled_.size(), 3u) << "stale chunks never reach the handler";
    EXPECT_EQ(sink_->messages(),
              std::vector<std::string>{"Rejected stale microphone chunk: chunkID=3, highWater=3"});

    // The comparison is unsigned: identifiers above the signed range are newer, not older.
    EXPECT_EQ(send(0x8000'0000'0000'0000ULL, 30 * ms), 0x8000'0000'0000'0000ULL);
    EXPECT_EQ(send(4, 40 * ms), 0x8000'0000'0000'0000ULL);

    // A new stream starts afresh: identifiers may restart and the stale line may be written again.
    run(receiver_.startStream(Uuid::random()));
    EXPECT_EQ(send(1, 0, framesPerChunk, std::nullopt, std::nullopt), std::nullopt) << "old stream";
}

TEST_F(ClockedVisionMicrophoneReceiverTest, ANewStreamRestartsTheChunkIdentifiers) {
    openStream();
    EXPECT_EQ(send(7, 0), 7u);
    EXPECT_EQ(send(7, 0), 7u);
    stream_ = Uuid::random();
    run(receiver_.startStream(stream_));
    EXPECT_EQ(send(1, 0), 1u);
    EXPECT_EQ(send(1, 0), 1u);
    EXPECT_EQ(sink_->messages().size(), 2u);
}

TEST_F(ClockedVisionMicrophoneReceiverTest, ChunksThatDoNotBelongAreDroppedWithoutAReport) {
    openStream();
    struct Case {
        const char* name;
        std::uint32_t frameCount;
        std::size_t payloadSize;
    };
    const Case cases[] = {
        {"one byte short", 480, 1919},
        {"one byte long", 480, 1921},
        {"no frames", 0, 0},
        // Four times this count wraps to 4 in 32 bits.
        {"count whose product wraps in 32 bits", 0x4000'0001u, 4},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(send(1, 0, testCase.frameCount, testCase.payloadSize), std::nullopt) << testCase.name;
    }
    EXPECT_EQ(send(1, 0, framesPerChunk, std::nullopt, Uuid::random()), std::nullopt) << "another stream";
    EXPECT_TRUE(handled_.empty());

    EXPECT_EQ(send(1, 0), 1u) << "the refusals left the high-water mark alone";
}

TEST_F(ClockedVisionMicrophoneReceiverTest, TheTimelineContinuesWithinTwoMillisecondsEitherWay) {
    openStream();
    struct Step {
        std::int64_t offsetFromExpected;
        bool startsNewTimeline;
    };
    // Each chunk is 10 ms long; the offset is from where the previous one ended.
    const Step steps[] = {{0, true},  // the first chunk of a stream
                          {0, false},         {15 * ms / 10, false}, {2 * ms, false},
                          {-2 * ms, false},   {25 * ms / 10, true},  {-25 * ms / 10, true},
                          {2 * ms + 1, true}, {-2 * ms - 1, true}};
    std::int64_t expected = 5'000 * ms;
    std::uint64_t chunkID = 1;
    for (const auto& step : steps) {
        const std::int64_t capture = expected + step.offsetFromExpected;
        ASSERT_EQ(send(chunkID, static_cast<std::uint64_t>(capture)), chunkID);
        EXPECT_EQ(handled_.back().startsNewTimeline, step.startsNewTimeline)
            << "offset " << step.offsetFromExpected;
        expected = capture + 10 * ms;
        ++chunkID;
    }
}

TEST_F(ClockedVisionMicrophoneReceiverTest, TheHandlerGetsTheChunkWithTheClocksTimes) {
    openStream();
    // A twin clock given the same calls tells what the receiver's clock answers.
    PersonaAVTimingCoordinator twin;
    twin.resetMicrophoneReservoir();
    const std::int64_t expectedTarget = twin.microphonePresentationHostTime(123 * ms, hostTime_);
    const std::int64_t expectedFrames =
        ClockedVisionMicrophoneReceiver::targetBufferFrameCount(twin.microphoneReservoirNanoseconds());

    ASSERT_EQ(send(9, 123 * ms), 9u);
    ASSERT_EQ(handled_.size(), 1u);
    const auto& chunk = handled_[0];
    EXPECT_EQ(chunk.captureTimeNanoseconds, 123u * ms);
    EXPECT_EQ(chunk.targetHostTimeNanoseconds, expectedTarget);
    EXPECT_EQ(chunk.targetBufferFrameCount, expectedFrames);
    EXPECT_TRUE(chunk.startsNewTimeline);
    EXPECT_EQ(chunk.frameCount, 480);
    EXPECT_EQ(chunk.payload, Bytes(1920, 0x3f));
}

TEST_F(ClockedVisionMicrophoneReceiverTest, ACaptureTimeBeyondTheSignedRangeIsClampedForTheTimeline) {
    openStream();
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
    ASSERT_EQ(send(1, huge), 1u);
    EXPECT_EQ(handled_.back().captureTimeNanoseconds, huge) << "the handler gets the time as sent";
    // The expected next time overflowed, so the next chunk starts a new timeline instead of wrapping.
    ASSERT_EQ(send(2, huge), 2u);
    EXPECT_TRUE(handled_.back().startsNewTimeline);
}

TEST_F(ClockedVisionMicrophoneReceiverTest, AChunkTheHandlerRefusesIsNotReportedAndMayComeAgain) {
    openStream();
    ASSERT_EQ(send(1, 0), 1u);
    handlerAccepts_ = false;
    EXPECT_EQ(send(2, 10 * ms), std::nullopt);
    handlerAccepts_ = true;
    EXPECT_EQ(send(2, 20 * ms), 2u);
    EXPECT_TRUE(sink_->messages().empty());
}

TEST_F(ClockedVisionMicrophoneReceiverTest, EndingAndResettingLeaveTheStream) {
    openStream();
    ASSERT_EQ(send(1, 0), 1u);
    EXPECT_FALSE(run(receiver_.endStream(Uuid::random())));
    EXPECT_EQ(send(2, 10 * ms), 2u) << "ending another stream changes nothing";
    EXPECT_TRUE(run(receiver_.endStream(stream_)));
    EXPECT_FALSE(run(receiver_.endStream(stream_)));
    EXPECT_EQ(send(3, 20 * ms), std::nullopt);

    run(receiver_.startStream(stream_));
    EXPECT_EQ(send(1, 0), 1u) << "the format outlives the stream";
    run(receiver_.reset());
    run(receiver_.startStream(stream_));
    EXPECT_EQ(send(2, 10 * ms), std::nullopt) << "reset forgets the format";
}

TEST(ClockedVisionMicrophoneReceiverTargetFrames, ReservoirIsRaisedToThirtyMillisecondsAndClamped) {
    struct Case {
        std::int64_t reservoirNanoseconds;
        std::int64_t frames;
    };
    const Case cases[] = {{std::numeric_limits<std::int64_t>::min(), 1440},
                          {0, 1440},
                          {10 * ms, 1440},
                          {30 * ms, 1440},
                          {60 * ms, 2880},
                          {120 * ms, 5760},
                          {130 * ms, 5760},
                          {std::numeric_limits<std::int64_t>::max(), 5760}};
    for (const auto& testCase : cases) {
        EXPECT_EQ(ClockedVisionMicrophoneReceiver::targetBufferFrameCount(testCase.reservoirNanoseconds),
                  testCase.frames)
            << testCase.reservoirNanoseconds;
    }
}

}  // namespace
}  // namespace quillbridge
