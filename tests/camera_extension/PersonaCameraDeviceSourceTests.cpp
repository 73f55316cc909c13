#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "camera_extension/PersonaCameraDeviceSource.hpp"
#include "camera_extension/PersonaCameraProviderSource.hpp"
#include "support/camera_extension/FakeCameraDeviceHost.hpp"
#include "support/camera_extension/FakeCameraNotificationCenter.hpp"
#include "support/camera_extension/ManualCameraStateQueue.hpp"
#include "support/camera_extension/RecordingCameraLog.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

using std::chrono::milliseconds;
using testing::ElementsAre;
using testing::IsEmpty;

const std::string started(CameraNotifications::demandStarted);
const std::string stopped(CameraNotifications::demandStopped);
const std::string query(CameraNotifications::demandQuery);

// The device source on fakes: a fake platform device, a manual state queue and clock, recorded notifications
// and log lines.
class CameraDeviceSourceTest : public testing::Test {
protected:
    PersonaCameraDeviceSource::Environment environment() {
        return PersonaCameraDeviceSource::Environment{host,  notifications, queue,
                                                      queue, log.logger(),  &mirror};
    }

    void createDevice() {
        device = PersonaCameraDeviceSource::create(CameraDeviceIdentifiers::deviceName, environment());
        ASSERT_NE(device, nullptr);
        notifications.posted.clear();
        log.clear();
    }

    // Starts the sink and answers its first consume request with nothing waiting.
    void startSink() {
        host.startSink();
        queue.runUntilIdle();
    }

    void completeConsume(CameraSinkConsumeResult result) {
        sink().complete(std::move(result));
        queue.runUntilIdle();
    }

    FakeCameraSinkStream& sink() { return host.sinkStreamFake; }
    FakeCameraSourceStream& source() { return host.sourceStreamFake; }
    std::uint64_t now() const { return std::uint64_t(queue.nowNanoseconds()); }

    FakeCameraDeviceHost host;
    FakeCameraNotificationCenter notifications;
    ManualCameraStateQueue queue;
    RecordingCameraLog log;
    RecordingCameraFrameMirror mirror;
    std::shared_ptr<PersonaCameraDeviceSource> device;
};

TEST_F(CameraDeviceSourceTest, SettingUpObservesTheDemandQueryAndPostsDemandStoppedOnce) {
    auto deviceSource = PersonaCameraDeviceSource::create(CameraDeviceIdentifiers::deviceName, environment());

    ASSERT_NE(deviceSource, nullptr);
    EXPECT_EQ(deviceSource->localizedName(), "Quillbridge Persona Camera");
    EXPECT_THAT(notifications.posted, ElementsAre(stopped));
    EXPECT_TRUE(notifications.observers.contains(query));
    EXPECT_THAT(log.lines(), IsEmpty());

    deviceSource.reset();
    EXPECT_FALSE(notifications.observers.contains(query));
    EXPECT_EQ(host.removeStreamsCount, 1);
}

struct SetUpFailureCase {
    const char* name;
    int formatStatus;
    std::optional<std::string> streamsFailure;
    std::optional<std::string> deviceFailure;
    const char* logLine;
    bool postsDemandStopped;
};

void PrintTo(const SetUpFailureCase& testCase, std::ostream* out) {
    *out << testCase.name;
}

class CameraSetUpFailureTest : public CameraDeviceSourceTest,
                               public testing::WithParamInterface<SetUpFailureCase> {};

// Each failure is logged and leaves the provider without a device, observing nothing and with no streams
// left.
TEST_P(CameraSetUpFailureTest, LogsAndLeavesNoDevice) {
    const SetUpFailureCase& failure = GetParam();
    host.formatStatus = failure.formatStatus;
    host.streamsFailure = failure.streamsFailure;
    host.deviceFailure = failure.deviceFailure;

    PersonaCameraProviderSource provider(environment());

    EXPECT_EQ(provider.deviceSource(), nullptr);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], (RecordingCameraLog::Line{CameraLogLevel::error, failure.logLine}));
    EXPECT_EQ(notifications.posted,
              failure.postsDemandStopped ? std::vector<std::string>{stopped} : std::vector<std::string>{});
    EXPECT_TRUE(notifications.observers.empty());
    EXPECT_EQ(host.removeStreamsCount, failure.formatStatus != 0 ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, CameraSetUpFailureTest,
    testing::Values(
        SetUpFailureCase{"Format", -28, {}, {}, "Could not create the Persona camera format: -28", false},
        SetUpFailureCase{
            "Streams", 0, "no server", {}, "Could not add the Persona camera streams: no server", false},
        SetUpFailureCase{
            "Device", 0, {}, "timed out", "Could not add the Persona camera device: timed out", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraDeviceSourceTest, ProviderKeepsTheDeviceItSetUp) {
    PersonaCameraProviderSource provider(environment());

    ASSERT_NE(provider.deviceSource(), nullptr);
    EXPECT_EQ(host.removeStreamsCount, 0);
}

TEST_F(CameraDeviceSourceTest, TwoAppsThenOneThenNonePostOneDemandStopped) {
    createDevice();

    host.startSource();
    host.startSource();
    queue.runUntilIdle();
    EXPECT_THAT(notifications.posted, ElementsAre(started));

    host.stopSource();
    queue.runUntilIdle();
    EXPECT_THAT(notifications.posted, ElementsAre(started));

    host.stopSource();
    queue.runUntilIdle();
    EXPECT_THAT(notifications.posted, ElementsAre(started, stopped));
    EXPECT_THAT(log.messages(),
                ElementsAre("Persona camera source stream started", "Persona camera source stream stopped"));
}

TEST_F(CameraDeviceSourceTest, AStopWithNoAppStreamingStillReportsNoDemand) {
    createDevice();

    host.stopSource();
    queue.runUntilIdle();

    EXPECT_THAT(notifications.posted, ElementsAre(stopped));
    host.startSource();
    queue.runUntilIdle();
    EXPECT_THAT(notifications.posted, ElementsAre(stopped, started));
}

TEST_F(CameraDeviceSourceTest, DemandQueryIsAnsweredWithTheCurrentDemand) {
    createDevice();

    notifications.deliver(query);
    queue.runUntilIdle();
    host.startSource();
    queue.runUntilIdle();
    notifications.deliver(query);
    queue.runUntilIdle();

    EXPECT_THAT(notifications.posted, ElementsAre(stopped, started, started));
}

TEST_F(CameraDeviceSourceTest, WorkQueuedForADeviceSourceThatIsGoneDoesNothing) {
    createDevice();
    host.startSource();
    notifications.deliver(query);

    device.reset();
    queue.runUntilIdle();

    EXPECT_THAT(notifications.posted, IsEmpty());
}

TEST_F(CameraDeviceSourceTest, SinkBufferGoesToTheAppsAndIsAcknowledged) {
    createDevice();
    host.startSource();
    startSink();
    ASSERT_EQ(sink().requests.size(), 1u);
    EXPECT_EQ(sink().requests.front().client, 41u);

    auto result = sink().buffer(7, 123'000);
    result.discontinuityFlags = 1;
    completeConsume(std::move(result));

    EXPECT_THAT(source().sent, ElementsAre(FakeCameraSourceStream::Sent{123'000, 1, now()}));
    EXPECT_THAT(sink().acknowledgements, ElementsAre(FakeCameraSinkStream::Acknowledgement{7, now()}));
    EXPECT_EQ(mirror.writeCount, 1);
    EXPECT_EQ(*sink().heldBufferCount, 0);
    EXPECT_THAT(log.messages(), ElementsAre("Persona camera source stream started",
                                            "Persona camera sink stream started; visible clients: 1",
                                            "Consumed first Persona sink buffer, sequence 7",
                                            "Sent first Persona buffer to camera source clients",
                                            "Acknowledged first Persona scheduled output"));
    // Nothing more was waiting: the next request comes one poll later.
    EXPECT_THAT(queue.requestedDelays, ElementsAre(milliseconds(33)));
    EXPECT_TRUE(sink().requests.empty());
    queue.advance(milliseconds(33));
    EXPECT_EQ(sink().requests.size(), 1u);
}

TEST_F(CameraDeviceSourceTest, MoreBuffersWaitingAreAskedForAtOnce) {
    createDevice();
    startSink();

    completeConsume(sink().buffer(1, {}, /*hasMore=*/true));

    EXPECT_EQ(sink().requests.size(), 1u);
    EXPECT_THAT(queue.requestedDelays, IsEmpty());
    // One request is outstanding at a time.
    host.startSink();
    queue.runUntilIdle();
    EXPECT_EQ(sink().requests.size(), 1u);
}

TEST_F(CameraDeviceSourceTest, BuffersArrivingWhileNoAppStreamsAreStillAcknowledged) {
    createDevice();
    startSink();

    completeConsume(sink().buffer(3, 50));
    const std::uint64_t firstAcknowledged = now();
    queue.advance(milliseconds(33));
    completeConsume(sink().buffer(4, 60, false, /*hasImage=*/false));

    EXPECT_THAT(source().sent, IsEmpty());
    EXPECT_THAT(sink().acknowledgements,
                ElementsAre(FakeCameraSinkStream::Acknowledgement{3, firstAcknowledged},
                            FakeCameraSinkStream::Acknowledgement{4, now()}));
    EXPECT_EQ(mirror.writeCount, 1);
    EXPECT_EQ(log.count("Acknowledged first Persona scheduled output"), 1u);
}

TEST_F(CameraDeviceSourceTest, PresentationTimeFallsBackToTheHostClockAndNegativeHostTimesCountAsZero) {
    createDevice();
    host.startSource();
    queue.startNanoseconds = -5'000;
    startSink();

    completeConsume(sink().buffer(9));

    EXPECT_THAT(source().sent, ElementsAre(FakeCameraSourceStream::Sent{-5'000, 0, 0}));
    EXPECT_THAT(sink().acknowledgements, ElementsAre(FakeCameraSinkStream::Acknowledgement{9, 0}));
}

TEST_F(CameraDeviceSourceTest, CompletionFromBeforeAStopAndRestartIsIgnored) {
    createDevice();
    host.startSource();
    startSink();
    host.stopSink();
    startSink();
    ASSERT_EQ(sink().requests.size(), 2u);

    completeConsume(sink().buffer(1));  // the request of the first run

    EXPECT_THAT(source().sent, IsEmpty());
    EXPECT_THAT(sink().acknowledgements, IsEmpty());
    EXPECT_EQ(*sink().heldBufferCount, 0);
    EXPECT_THAT(queue.requestedDelays, IsEmpty());
    completeConsume(sink().buffer(2));
    EXPECT_THAT(sink().acknowledgements, ElementsAre(FakeCameraSinkStream::Acknowledgement{2, now()}));
}

TEST_F(CameraDeviceSourceTest, DelayedRequestFromBeforeAStopAndRestartIsIgnored) {
    createDevice();
    startSink();
    completeConsume({});  // nothing waiting: a request 33 ms later
    host.stopSink();
    startSink();
    ASSERT_EQ(sink().requests.size(), 1u);

    queue.advance(milliseconds(33));

    EXPECT_EQ(sink().requestCount, 2);
    EXPECT_EQ(sink().requests.size(), 1u);
}

TEST_F(CameraDeviceSourceTest, SinkLoopRunsWhileAnyHostStartRemains) {
    createDevice();
    startSink();
    host.startSink();
    host.stopSink();
    queue.runUntilIdle();

    completeConsume(sink().buffer(5));
    EXPECT_THAT(sink().acknowledgements, ElementsAre(FakeCameraSinkStream::Acknowledgement{5, now()}));

    host.stopSink();
    queue.runUntilIdle();
    EXPECT_EQ(log.count("Persona camera sink stream stopped"), 1u);
    queue.advance(milliseconds(33));
    EXPECT_EQ(sink().requestCount, 1);
}

TEST_F(CameraDeviceSourceTest, ConsumeErrorsAreLoggedOncePerDescriptionAndRetriedWithDoublingDelays) {
    createDevice();
    startSink();
    log.clear();

    for (int attempt = 0; attempt < 9; ++attempt) {
        completeConsume(FakeCameraSinkStream::failure("queue gone"));
        queue.advance(queue.requestedDelays.back());
    }
    EXPECT_THAT(
        queue.requestedDelays,
        ElementsAre(milliseconds(10), milliseconds(20), milliseconds(40), milliseconds(80), milliseconds(160),
                    milliseconds(320), milliseconds(640), milliseconds(1000), milliseconds(1000)));
    EXPECT_THAT(log.lines(), ElementsAre(RecordingCameraLog::Line{CameraLogLevel::error,
                                                                  "Persona camera sink failed: queue gone"}));

    completeConsume(FakeCameraSinkStream::failure("client gone"));
    EXPECT_EQ(log.count("Persona camera sink failed: client gone"), 1u);
    queue.advance(queue.requestedDelays.back());

    // A success resets the delay; the same error is logged again once a buffer came through.
    completeConsume(sink().buffer(1));
    queue.advance(milliseconds(33));
    completeConsume(FakeCameraSinkStream::failure("client gone"));
    EXPECT_EQ(queue.requestedDelays.back(), milliseconds(10));
    EXPECT_EQ(log.count("Persona camera sink failed: client gone"), 2u);
}

TEST_F(CameraDeviceSourceTest, MissingSinkClientIsWaitedForWithTheSameBackOffAndLoggedOnce) {
    createDevice();
    sink().clients.clear();
    startSink();

    for (int attempt = 0; attempt < 8; ++attempt)
        queue.advance(queue.requestedDelays.back());
    EXPECT_THAT(
        queue.requestedDelays,
        ElementsAre(milliseconds(10), milliseconds(20), milliseconds(40), milliseconds(80), milliseconds(160),
                    milliseconds(320), milliseconds(640), milliseconds(1000), milliseconds(1000)));
    EXPECT_EQ(log.count("Waiting for CoreMediaIO to publish the Persona sink client"), 1u);
    EXPECT_THAT(sink().requests, IsEmpty());

    sink().clients = {8, 9};
    queue.advance(milliseconds(1000));

    ASSERT_EQ(sink().requests.size(), 1u);
    EXPECT_EQ(sink().requests.front().client, 8u);
    EXPECT_EQ(log.count("Resolved the Persona camera sink client"), 1u);
    completeConsume(FakeCameraSinkStream::failure("x"));
    EXPECT_EQ(queue.requestedDelays.back(), milliseconds(10));
}

TEST_F(CameraDeviceSourceTest, OnceOnlyLinesAreLoggedAgainAfterTheSinkRestarts) {
    createDevice();
    host.startSource();
    for (int run = 0; run < 2; ++run) {
        startSink();
        completeConsume(sink().buffer(10 + run, {}, true));
        completeConsume(sink().buffer(20 + run));
        host.stopSink();
        queue.runUntilIdle();
    }

    EXPECT_EQ(log.count("Consumed first Persona sink buffer, sequence 10"), 1u);
    EXPECT_EQ(log.count("Consumed first Persona sink buffer, sequence 11"), 1u);
    EXPECT_EQ(log.count("Sent first Persona buffer to camera source clients"), 2u);
    EXPECT_EQ(log.count("Acknowledged first Persona scheduled output"), 2u);
    EXPECT_EQ(log.count("Persona camera sink stream stopped"), 2u);
    EXPECT_EQ(sink().acknowledgements.size(), 4u);
}

TEST_F(CameraDeviceSourceTest, KeepsTheLastTenSentBuffersUntilTheAppsStop) {
    createDevice();
    host.startSource();
    startSink();

    std::weak_ptr<CameraSourceSampleBuffer> first;
    for (int index = 0; index < 12; ++index) {
        completeConsume(sink().buffer(std::uint64_t(index), {}, true));
        if (index == 0)
            first = source().lastSent;
    }

    EXPECT_EQ(device->retainedSourceBufferCount(), 10u);
    EXPECT_TRUE(first.expired());
    EXPECT_FALSE(source().lastSent.expired());
    host.stopSource();
    queue.runUntilIdle();
    EXPECT_EQ(device->retainedSourceBufferCount(), 0u);
    EXPECT_TRUE(source().lastSent.expired());
}

TEST_F(CameraDeviceSourceTest, BufferThatCannotBePreparedIsStillAcknowledgedAndLoggedOnce) {
    createDevice();
    host.startSource();
    startSink();
    source().failToMake = true;

    completeConsume(sink().buffer(1, {}, true));
    completeConsume(sink().buffer(2, {}, true));
    source().failToMake = false;
    completeConsume(sink().buffer(3, {}, true));
    source().failToMake = true;
    completeConsume(sink().buffer(4, {}, true));

    EXPECT_EQ(sink().acknowledgements.size(), 4u);
    EXPECT_EQ(source().sent.size(), 1u);
    // Logged once, and again after a buffer went through.
    EXPECT_EQ(log.count("Could not prepare Persona sink buffer for source delivery"), 2u);
}

}  // namespace
}  // namespace quillbridge
