#include "bridge/QueuedPersonaVirtualCameraFeeder.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <asio/io_context.hpp>

#include "core/Logger.hpp"
#include "core/ManualClock.hpp"
#include "support/bridge/FakePersonaCameraSink.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::string_view category = "PersonaCameraFeeder";
constexpr std::string_view mismatchText =
    "Decoded Persona frame does not match the virtual camera's 1920×1080 420v sink format";

std::int64_t nanosecondsOf(Clock::TimePoint time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// A packed NV12 frame whose luma bytes are `luma` and chroma bytes `chroma`, with the first luma byte marking
// it.
DecodedPersonaCameraFrame makeFrame(int width, int height, std::uint8_t luma, std::uint8_t chroma,
                                    std::int64_t presentationTimeNanoseconds) {
    DecodedPersonaCameraFrame frame;
    frame.width = width;
    frame.height = height;
    frame.lumaPlane.assign(std::size_t(width) * height, luma);
    frame.chromaPlane.assign(std::size_t(frame.chromaRowByteCount()) * frame.chromaRowCount(), chroma);
    frame.presentationTimeNanoseconds = presentationTimeNanoseconds;
    frame.durationNanoseconds = 0;
    return frame;
}

class QueuedPersonaVirtualCameraFeederTest : public ::testing::Test {
protected:
    QueuedPersonaVirtualCameraFeederTest() {
        feeder = QueuedPersonaVirtualCameraFeeder::create(context.get_executor(), clock,
                                                          std::make_unique<FakePersonaCameraSink>(sink));
    }
    ~QueuedPersonaVirtualCameraFeederTest() override {
        feeder.reset();
        run();
    }

    void run() {
        context.restart();
        context.poll();
    }
    void advance(Clock::Duration duration) {
        clock.advance(duration);
        run();
    }
    std::int64_t now() const { return nanosecondsOf(clock.now()); }
    DecodedPersonaCameraFrame frame(std::uint8_t luma, std::int64_t leadNanoseconds = 0) {
        return makeFrame(1920, 1080, luma, std::uint8_t(luma + 1), now() + leadNanoseconds);
    }
    void startFeeding() {
        feeder->setWantsToFeed(true);
        run();
    }
    // Gives one frame to the feeder as the receiver's output handler does, and lets the queue run.
    void submit(DecodedPersonaCameraFrame decoded) {
        feeder->submit(std::move(decoded));
        run();
    }
    std::vector<std::uint64_t> enqueuedSequenceNumbers() const {
        std::vector<std::uint64_t> numbers;
        for (const auto& queued : sink->enqueued)
            numbers.push_back(queued->sequenceNumber);
        return numbers;
    }
    void acknowledge(std::uint64_t sequenceNumber) {
        ASSERT_TRUE(sink->scheduledOutput);
        sink->scheduledOutput(sequenceNumber);
        run();
    }

    ScopedLogCapture logs;
    asio::io_context context;
    ManualClock clock;
    std::shared_ptr<FakePersonaCameraSinkState> sink = std::make_shared<FakePersonaCameraSinkState>();
    std::shared_ptr<QueuedPersonaVirtualCameraFeeder> feeder;
};

TEST_F(QueuedPersonaVirtualCameraFeederTest, NewestFrameWinsAndIsCopiedIntoTheCanonicalFormat) {
    startFeeding();
    EXPECT_EQ(sink->connectAttempts, 1);
    EXPECT_TRUE(feeder->enqueue(frame(40)));
    // A second frame before the drain ran replaces the first and asks for no second drain.
    EXPECT_FALSE(feeder->enqueue(frame(80)));
    feeder->scheduleDrain();
    run();

    ASSERT_EQ(sink->enqueued.size(), 1u);
    const PersonaCameraSinkFrame& queued = *sink->enqueued[0];
    ASSERT_EQ(queued.planes.size(), Ids::frameByteCount);
    EXPECT_EQ(queued.planes.front(), 80);
    EXPECT_EQ(queued.planes[Ids::lumaByteCount - 1], 80);
    EXPECT_EQ(queued.planes[Ids::lumaByteCount], 81);
    EXPECT_EQ(queued.planes.back(), 81);
    EXPECT_EQ(queued.sequenceNumber, 0u);
    EXPECT_FALSE(queued.isDiscontinuity);
    EXPECT_EQ(queued.durationNanoseconds, QueuedPersonaVirtualCameraFeeder::defaultFrameDurationNanoseconds);
    EXPECT_EQ(queued.presentationTimeNanoseconds, now());

    // The slot is free again: the next frame needs a drain of its own.
    EXPECT_TRUE(feeder->enqueue(frame(90)));
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, FramesWhileNotFeedingAreDroppedWithoutConnecting) {
    submit(frame(40));
    EXPECT_EQ(sink->connectAttempts, 0);
    EXPECT_THAT(sink->enqueued, IsEmpty());
    EXPECT_THAT(logs.messages(category), IsEmpty());
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, MismatchingFramesAreDroppedAndLoggedOncePerConnectionOrSuccess) {
    startFeeding();
    submit(makeFrame(1280, 720, 40, 41, now()));
    submit(makeFrame(1280, 720, 40, 41, now()));
    EXPECT_THAT(sink->enqueued, IsEmpty());
    EXPECT_THAT(logs.messages(category), ElementsAre(mismatchText));

    // A frame that succeeds allows the next failure to be logged.
    submit(frame(50));
    submit(makeFrame(1920, 720, 40, 41, now()));
    EXPECT_EQ(logs.messages(category).size(), 2u);

    // So does a new connection.
    feeder->setWantsToFeed(false);
    run();
    startFeeding();
    submit(makeFrame(1280, 1080, 40, 41, now()));
    EXPECT_EQ(logs.messages(category).size(), 3u);

    // Planes shorter than the frame's size are refused, not read past their end.
    submit(frame(55));
    auto truncated = frame(60);
    truncated.chromaPlane.resize(100);
    submit(std::move(truncated));
    EXPECT_EQ(logs.messages(category).back(),
              "Could not copy the decoded Persona image into a canonical sink buffer: 0");
    EXPECT_EQ(sink->enqueued.size(), 2u);
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, RoomInTheSinkFreesOnAcknowledgement) {
    sink->capacity = 2;
    startFeeding();
    submit(frame(1));
    submit(frame(2));
    submit(frame(3));  // No room: dropped, without a log line.
    EXPECT_THAT(enqueuedSequenceNumbers(), ElementsAre(0u, 1u));
    EXPECT_EQ(feeder->pendingSampleCount(), 2u);

    acknowledge(0);
    acknowledge(7);  // An unknown number changes nothing.
    EXPECT_EQ(feeder->pendingSampleCount(), 1u);
    submit(frame(4));
    EXPECT_THAT(enqueuedSequenceNumbers(), ElementsAre(0u, 1u, 2u));
    EXPECT_EQ(sink->enqueued.back()->planes.front(), 4);
    EXPECT_THAT(logs.messages(category), IsEmpty());
}

// A sink that loses frames without acknowledging them (buffers the platform never delivers) must not close
// the feed once the lost frames fill its room: frames at 30 fps stop only until the oldest lost one has
// waited out the acknowledgement timeout.
TEST_F(QueuedPersonaVirtualCameraFeederTest, FramesTheSinkNeverAcknowledgesStopHoldingTheRoom) {
    constexpr auto frameInterval = 33ms;
    startFeeding();
    submit(frame(1));
    acknowledge(0);
    const Clock::TimePoint firstLostAt = clock.now();
    for (std::uint8_t luma = 2; luma <= 4; ++luma) {  // Frames 1 to 3 are lost.
        submit(frame(luma));
        advance(frameInterval);
    }
    EXPECT_THAT(enqueuedSequenceNumbers(), ElementsAre(0u, 1u, 2u, 3u));
    EXPECT_EQ(feeder->pendingSampleCount(), 3u);

    std::uint8_t luma = 5;
    while (clock.now() - firstLostAt < QueuedPersonaVirtualCameraFeeder::acknowledgementTimeout) {
        submit(frame(luma++));
        advance(frameInterval);
    }
    EXPECT_EQ(sink->enqueued.size(), 4u) << "frames went while the lost ones filled the room";
    submit(frame(luma));
    EXPECT_THAT(enqueuedSequenceNumbers(), ElementsAre(0u, 1u, 2u, 3u, 4u));
    EXPECT_EQ(sink->enqueued.back()->planes.front(), luma);
    EXPECT_EQ(feeder->pendingSampleCount(), 3u);

    // A late acknowledgement of a forgotten frame changes nothing; one of a waiting frame frees its room.
    acknowledge(1);
    EXPECT_EQ(feeder->pendingSampleCount(), 3u);
    acknowledge(4);
    EXPECT_EQ(feeder->pendingSampleCount(), 2u);

    // Every lost frame is forgotten in its turn, and the feed runs on; said once per connection.
    for (int index = 0; index < 30; ++index) {
        submit(frame(std::uint8_t(++luma)));
        acknowledge(sink->enqueued.back()->sequenceNumber);
        advance(frameInterval);
    }
    EXPECT_EQ(sink->enqueued.size(), 35u);
    EXPECT_EQ(feeder->pendingSampleCount(), 0u);
    EXPECT_THAT(logs.messages(category),
                ElementsAre("Persona camera frame 1 was not acknowledged; no longer waiting for it"));

    feeder->setWantsToFeed(false);
    startFeeding();
    submit(frame(++luma));
    advance(QueuedPersonaVirtualCameraFeeder::acknowledgementTimeout);
    submit(frame(++luma));
    EXPECT_EQ(logs.messages(category).size(), 2u);
    EXPECT_EQ(logs.messages(category).back(),
              "Persona camera frame 35 was not acknowledged; no longer waiting for it");
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, ASinkWithoutCapacityStillTakesOneFrame) {
    sink->capacity = 0;
    startFeeding();
    submit(frame(1));
    submit(frame(2));
    EXPECT_THAT(enqueuedSequenceNumbers(), ElementsAre(0u));
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, SwitchingOffDropsEverythingAndSequenceNumbersContinue) {
    startFeeding();
    submit(frame(1));
    submit(frame(2));
    EXPECT_EQ(feeder->pendingSampleCount(), 2u);

    // A frame waiting in the slot when feeding stops never reaches the sink.
    EXPECT_TRUE(feeder->enqueue(frame(3)));
    feeder->setWantsToFeed(false);
    feeder->scheduleDrain();
    run();
    EXPECT_EQ(sink->enqueued.size(), 2u);
    EXPECT_EQ(sink->openConnections, 0);
    EXPECT_EQ(sink->closedConnections, 1);
    EXPECT_EQ(feeder->pendingSampleCount(), 0u);

    startFeeding();
    EXPECT_EQ(sink->openConnections, 1);
    submit(frame(4));
    EXPECT_THAT(enqueuedSequenceNumbers(), ElementsAre(0u, 1u, 2u));
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, AnAbsentCameraIsRetriedEverySecondUntilFeedingStops) {
    sink->connectFailure =
        PersonaCameraSinkConnectError{PersonaCameraSinkConnectError::Kind::deviceNotFound, 0};
    startFeeding();
    EXPECT_EQ(sink->connectAttempts, 1);
    advance(999ms);
    EXPECT_EQ(sink->connectAttempts, 1);
    advance(1ms);
    EXPECT_EQ(sink->connectAttempts, 2);
    // A frame meanwhile tries to connect too, without adding a second retry.
    submit(frame(1));
    EXPECT_EQ(sink->connectAttempts, 3);
    advance(1s);
    EXPECT_EQ(sink->connectAttempts, 4);
    EXPECT_EQ(clock.pendingSleeperCount(), 1u);

    feeder->setWantsToFeed(false);
    run();
    advance(5s);
    EXPECT_EQ(sink->connectAttempts, 4);
    EXPECT_THAT(logs.messages(category), IsEmpty());

    // The camera appears: the next retry connects and retrying ends.
    startFeeding();
    sink->connectFailure.reset();
    advance(1s);
    EXPECT_EQ(sink->openConnections, 1);
    advance(3s);
    EXPECT_EQ(sink->connectAttempts, 6);
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, ConnectionFailuresAreLoggedWithTheirStatusAndRetried) {
    using Kind = PersonaCameraSinkConnectError::Kind;
    const struct {
        Kind kind;
        std::string text;
    } cases[] = {
        {Kind::queueUnavailable, "Could not open Persona camera sink queue: -12"},
        {Kind::scheduledOutputRegistrationFailed,
         "Could not register for Persona camera scheduled output: -12"},
        {Kind::startFailed, "Could not start Persona camera sink stream: -12"},
    };
    for (const auto& failure : cases) {
        SCOPED_TRACE(failure.text);
        logs.clear();
        sink->connectAttempts = 0;
        sink->connectFailure = PersonaCameraSinkConnectError{failure.kind, -12};
        startFeeding();
        advance(1s);
        EXPECT_EQ(sink->connectAttempts, 2);
        EXPECT_THAT(logs.messages(category), ElementsAre(failure.text, failure.text));
        feeder->setWantsToFeed(false);
        run();
    }
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, FramesAreQueuedAtTheirPresentationTime) {
    startFeeding();
    submit(frame(1, 40'000'000));
    EXPECT_THAT(sink->enqueued, IsEmpty());
    EXPECT_EQ(feeder->deferredSampleCount(), 1u);
    advance(39ms);
    EXPECT_THAT(sink->enqueued, IsEmpty());
    advance(1ms);
    ASSERT_EQ(sink->enqueued.size(), 1u);
    EXPECT_EQ(sink->enqueued[0]->planes.front(), 1);
    EXPECT_EQ(feeder->deferredSampleCount(), 0u);

    // A time already past goes at once.
    submit(frame(2, -5'000'000));
    EXPECT_EQ(sink->enqueued.size(), 2u);
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, AFarFutureTimeIsNotWaitedFor) {
    startFeeding();
    submit(frame(1, std::int64_t(3) * 3600 * 1'000'000'000));
    EXPECT_EQ(sink->enqueued.size(), 1u);
    EXPECT_EQ(clock.pendingSleeperCount(), 0u);
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, DeferredFramesCountAgainstTheRoom) {
    sink->capacity = 2;
    startFeeding();
    submit(frame(1, 100'000'000));
    submit(frame(2, 100'000'000));
    submit(frame(3, 100'000'000));  // No room left: two frames already wait.
    submit(frame(4));
    EXPECT_EQ(feeder->deferredSampleCount(), 2u);
    advance(100ms);
    ASSERT_EQ(sink->enqueued.size(), 2u);
    EXPECT_EQ(sink->enqueued[0]->planes.front(), 1);
    EXPECT_EQ(sink->enqueued[1]->planes.front(), 2);

    // A deferred frame whose feeding stopped meanwhile is dropped.
    acknowledge(0);
    acknowledge(1);
    submit(frame(5, 50'000'000));
    feeder->setWantsToFeed(false);
    run();
    advance(50ms);
    EXPECT_EQ(sink->enqueued.size(), 2u);
    EXPECT_EQ(feeder->deferredSampleCount(), 0u);
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, AFailedEnqueueIsLoggedAndForgottenWhileStayingConnected) {
    startFeeding();
    sink->enqueueStatus = -5;
    submit(frame(1));
    EXPECT_EQ(feeder->pendingSampleCount(), 0u);
    EXPECT_TRUE(feeder->isConnected());
    EXPECT_THAT(logs.messages(category), ElementsAre("Persona camera sink enqueue failed: -5"));
    sink->enqueueStatus = 0;
    submit(frame(2));
    EXPECT_THAT(enqueuedSequenceNumbers(), ElementsAre(1u));
}

TEST_F(QueuedPersonaVirtualCameraFeederTest, WorkLeftBehindByAGoneFeederDoesNothing) {
    sink->connectFailure =
        PersonaCameraSinkConnectError{PersonaCameraSinkConnectError::Kind::deviceNotFound, 0};
    startFeeding();
    feeder->setWantsToFeed(true);
    feeder->submit(frame(1));
    feeder.reset();
    advance(3s);
    EXPECT_EQ(sink->connectAttempts, 1);
}

}  // namespace
}  // namespace quillbridge
