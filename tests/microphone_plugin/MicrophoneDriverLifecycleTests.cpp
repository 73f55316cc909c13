// The factory and interface table, the publication lease on a manual clock, device start and stop, and the
// zero time stamp.

#include <gtest/gtest.h>

#include <limits>

#include "support/microphone/MicrophoneDriverHarness.hpp"

namespace quillbridge {
namespace {

using namespace microphone;
namespace sel = microphone::selector;
using Announcement = RecordingMicrophoneHost::Announcement;
using std::chrono::milliseconds;
using std::chrono::seconds;

const std::vector<Announcement> publicationAnnouncement{
    {boxObjectID, {{sel::acquired, scope::global, 0}, {sel::boxDeviceList, scope::global, 0}}},
    {plugInObjectID, {{sel::deviceList, scope::global, 0}}}};
const std::vector<Announcement> runningAnnouncement{{deviceObjectID, {{sel::isRunning, scope::global, 0}}}};

TEST(MicrophoneDriverInterfaceTests, TheFactoryCreatesOnlyThePlugInTypeAndAddsNoReference) {
    MicrophoneDriverHarness harness;
    EXPECT_EQ(harness.driver->create(nullptr, microphone_uuid::plugInType), harness.ref);
    EXPECT_EQ(harness.driver->create(nullptr, microphone_uuid::driverInterface), nullptr);
    EXPECT_EQ(harness.table().addRef(harness.ref), 1u);
}

TEST(MicrophoneDriverInterfaceTests, QueryInterfaceAnswersTheTwoInterfacesWithAReferenceAndNothingElse) {
    MicrophoneDriverHarness harness;
    void* answer = nullptr;
    EXPECT_EQ(harness.table().queryInterface(harness.ref, &microphone_uuid::unknownInterface, &answer), 0);
    EXPECT_EQ(answer, harness.ref);
    EXPECT_EQ(harness.table().queryInterface(harness.ref, &microphone_uuid::driverInterface, &answer), 0);
    MicrophoneUUIDBytes other = microphone_uuid::driverInterface;
    other.bytes[15] ^= 1;
    EXPECT_EQ(harness.table().queryInterface(harness.ref, &other, &answer), status::noInterface);
    EXPECT_EQ(harness.table().queryInterface(harness.ref, &microphone_uuid::plugInType, &answer),
              status::noInterface);
    EXPECT_EQ(harness.table().queryInterface(harness.ref, nullptr, &answer), status::illegalOperation);
    EXPECT_EQ(harness.table().queryInterface(harness.ref, &microphone_uuid::driverInterface, nullptr),
              status::illegalOperation);
    // Two references were taken, by the two accepted queries only.
    EXPECT_EQ(harness.table().release(harness.ref), 1u);
    EXPECT_EQ(harness.table().release(harness.ref), 0u);
}

TEST(MicrophoneDriverInterfaceTests, AddRefSaturatesAndReleaseStopsAtZero) {
    MicrophoneDriverHarness harness;
    EXPECT_EQ(harness.table().release(harness.ref), 0u);
    EXPECT_EQ(harness.table().addRef(harness.ref), 1u);
    MicrophoneDriverTestAccess::setReferenceCount(*harness.driver,
                                                  std::numeric_limits<std::uint32_t>::max() - 1);
    EXPECT_EQ(harness.table().addRef(harness.ref), std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(harness.table().addRef(harness.ref), std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(harness.table().release(harness.ref), std::numeric_limits<std::uint32_t>::max() - 1);
}

TEST(MicrophoneDriverInterfaceTests, AReferenceThatIsNotALiveDriversIsRefusedEverywhere) {
    MicrophoneDriverHarness harness;
    const MicrophoneDriverInterface* foreignTable = &harness.table();
    MicrophoneDriverRef foreign = &foreignTable;
    const auto& table = harness.table();
    auto address = MicrophoneDriverHarness::address(sel::objectClass);
    std::uint32_t value = 0;
    std::uint32_t size = 0;
    bool flag = false;
    void* answer = nullptr;
    double sampleTime = 0;
    std::uint64_t hostTime = 0;
    std::uint64_t seed = 0;
    MicrophoneIOCycleInfo cycle;
    float sample = 0;
    for (MicrophoneDriverRef reference : {foreign, MicrophoneDriverRef(nullptr)}) {
        EXPECT_EQ(table.queryInterface(reference, &microphone_uuid::unknownInterface, &answer),
                  status::badObject);
        EXPECT_EQ(table.addRef(reference), 0u);
        EXPECT_EQ(table.release(reference), 0u);
        EXPECT_EQ(table.initialize(reference, &harness.host), status::badObject);
        EXPECT_EQ(table.createDevice(reference, nullptr, nullptr, &value), status::badObject);
        EXPECT_EQ(table.addDeviceClient(reference, deviceObjectID, nullptr), status::badObject);
        EXPECT_FALSE(table.hasProperty(reference, boxObjectID, 0, &address));
        EXPECT_EQ(table.isPropertySettable(reference, boxObjectID, 0, &address, &flag), status::badObject);
        EXPECT_EQ(table.getPropertyDataSize(reference, boxObjectID, 0, &address, 0, nullptr, &size),
                  status::badObject);
        EXPECT_EQ(table.getPropertyData(reference, boxObjectID, 0, &address, 0, nullptr, 4, &size, &value),
                  status::badObject);
        EXPECT_EQ(table.setPropertyData(reference, boxObjectID, 0, &address, 0, nullptr, 4, &value),
                  status::badObject);
        EXPECT_EQ(table.startIO(reference, deviceObjectID, 0), status::badObject);
        EXPECT_EQ(table.stopIO(reference, deviceObjectID, 0), status::badObject);
        EXPECT_EQ(table.getZeroTimeStamp(reference, deviceObjectID, 0, &sampleTime, &hostTime, &seed),
                  status::badObject);
        EXPECT_EQ(
            table.willDoIOOperation(reference, deviceObjectID, 0, microphone_io::readInput, &flag, &flag),
            status::badObject);
        EXPECT_EQ(table.doIOOperation(reference, deviceObjectID, inputStreamObjectID, 0,
                                      microphone_io::readInput, 1, &cycle, &sample, nullptr),
                  status::badObject);
    }
}

TEST(MicrophoneDriverInterfaceTests, DeviceOperationsAnswerForTheDeviceOnly) {
    MicrophoneDriverHarness harness;
    const auto& table = harness.table();
    auto ref = harness.ref;
    MicrophoneObjectID created = 0;
    EXPECT_EQ(table.createDevice(ref, nullptr, nullptr, &created), status::unsupportedOperation);
    EXPECT_EQ(table.destroyDevice(ref, deviceObjectID), status::unsupportedOperation);
    MicrophoneClientInfo client{7, 1234};
    for (MicrophoneObjectID object : {plugInObjectID, boxObjectID, inputStreamObjectID, 9u}) {
        SCOPED_TRACE(object);
        EXPECT_EQ(table.addDeviceClient(ref, object, &client), status::badObject);
        EXPECT_EQ(table.removeDeviceClient(ref, object, &client), status::badObject);
        EXPECT_EQ(table.performDeviceConfigurationChange(ref, object, 48000, nullptr), status::badObject);
        EXPECT_EQ(table.abortDeviceConfigurationChange(ref, object, 48000, nullptr), status::badObject);
        EXPECT_EQ(table.startIO(ref, object, 0), status::badObject);
        EXPECT_EQ(table.beginIOOperation(ref, object, 0, microphone_io::readInput, 480, nullptr),
                  status::badObject);
    }
    EXPECT_EQ(table.addDeviceClient(ref, deviceObjectID, &client), 0);
    EXPECT_EQ(table.removeDeviceClient(ref, deviceObjectID, &client), 0);
    EXPECT_EQ(table.performDeviceConfigurationChange(ref, deviceObjectID, 48000, nullptr), 0);
    EXPECT_EQ(table.performDeviceConfigurationChange(ref, deviceObjectID, 44100, nullptr),
              status::unsupportedOperation);
    EXPECT_EQ(table.abortDeviceConfigurationChange(ref, deviceObjectID, 44100, nullptr), 0);

    bool willDo = false;
    bool inPlace = false;
    EXPECT_EQ(table.willDoIOOperation(ref, deviceObjectID, 0, microphone_io::readInput, &willDo, &inPlace),
              0);
    EXPECT_TRUE(willDo);
    EXPECT_TRUE(inPlace);
    EXPECT_EQ(table.willDoIOOperation(ref, deviceObjectID, 0, microphone_io::writeMix, &willDo, &inPlace), 0);
    EXPECT_FALSE(willDo);
    EXPECT_TRUE(inPlace);
    EXPECT_EQ(table.beginIOOperation(ref, deviceObjectID, 0, microphone_io::readInput, 480, nullptr), 0);
    EXPECT_EQ(table.endIOOperation(ref, deviceObjectID, 0, microphone_io::readInput, 480, nullptr), 0);

    MicrophoneIOCycleInfo cycle;
    float untouched = 5;
    EXPECT_EQ(table.doIOOperation(ref, deviceObjectID, deviceObjectID, 0, microphone_io::readInput, 1, &cycle,
                                  &untouched, nullptr),
              status::badObject);
    EXPECT_EQ(table.doIOOperation(ref, boxObjectID, inputStreamObjectID, 0, microphone_io::readInput, 1,
                                  &cycle, &untouched, nullptr),
              status::badObject);
    EXPECT_EQ(table.doIOOperation(ref, deviceObjectID, inputStreamObjectID, 0, microphone_io::writeMix, 1,
                                  &cycle, &untouched, nullptr),
              0);
    EXPECT_EQ(untouched, 5);
}

TEST(MicrophoneDriverInterfaceTests, InitializeMakesThePublicationQueueOnce) {
    MicrophoneDriverHarness harness;
    harness.table().initialize(harness.ref, &harness.host);
    auto labels = harness.scheduler.queueLabels();
    EXPECT_EQ(std::count(labels.begin(), labels.end(), "com.mossharbor.quillbridge.microphone.publication"),
              1);
}

TEST(MicrophonePublicationLeaseTests, RenewalsKeepTheDeviceAndItIsRetractedFifteenSecondsAfterTheLast) {
    MicrophoneDriverHarness harness;
    auto acquired = [&harness] {
        return harness.u32(boxObjectID, MicrophoneDriverHarness::address(sel::acquired));
    };
    ASSERT_EQ(harness.acquire(true), 0);
    harness.scheduler.runReady();
    EXPECT_EQ(harness.host.takeAnnouncements(), publicationAnnouncement);
    for (int renewal = 0; renewal < 10; ++renewal) {
        harness.scheduler.advance(seconds(2));
        ASSERT_EQ(harness.acquire(true), 0);
    }
    harness.scheduler.advance(milliseconds(14999));
    EXPECT_EQ(acquired(), 1u);
    EXPECT_TRUE(harness.host.takeAnnouncements().empty()) << "renewals announce nothing";
    harness.scheduler.advance(milliseconds(1));
    EXPECT_EQ(acquired(), 0u);
    EXPECT_EQ(harness.host.takeAnnouncements(), publicationAnnouncement);
    EXPECT_TRUE(harness.objects(plugInObjectID, MicrophoneDriverHarness::address(sel::deviceList)).empty());
    harness.scheduler.advance(seconds(30));
    EXPECT_TRUE(harness.host.takeAnnouncements().empty());
}

TEST(MicrophonePublicationLeaseTests, ZeroRetractsAtOnceAndDisarmsTheTimer) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.acquire(true), 0);
    harness.scheduler.runReady();
    harness.host.takeAnnouncements();
    harness.scheduler.advance(seconds(3));
    ASSERT_EQ(harness.acquire(false), 0);
    EXPECT_EQ(harness.u32(boxObjectID, MicrophoneDriverHarness::address(sel::acquired)), 0u);
    harness.scheduler.runReady();
    EXPECT_EQ(harness.host.takeAnnouncements(), publicationAnnouncement);
    harness.scheduler.advance(seconds(20));
    EXPECT_TRUE(harness.host.takeAnnouncements().empty());
    ASSERT_EQ(harness.acquire(false), 0);
    harness.scheduler.runReady();
    EXPECT_TRUE(harness.host.takeAnnouncements().empty()) << "releasing an unacquired box changes nothing";
}

TEST(MicrophonePublicationLeaseTests, AcquiringTwiceAnnouncesOnceAndASupersededAnnouncementIsSkipped) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.acquire(true), 0);
    ASSERT_EQ(harness.acquire(true), 0);
    harness.scheduler.runReady();
    EXPECT_EQ(harness.host.takeAnnouncements(), publicationAnnouncement);

    // Released and acquired again before the queue ran: only the last change is announced.
    ASSERT_EQ(harness.acquire(false), 0);
    ASSERT_EQ(harness.acquire(true), 0);
    harness.scheduler.runReady();
    EXPECT_EQ(harness.host.takeAnnouncements(), publicationAnnouncement);
}

TEST(MicrophonePublicationLeaseTests, AnnouncementsAreMadeWithoutTheStateLockHeld) {
    MicrophoneDriverHarness harness;
    int announcements = 0;
    harness.host.setOnAnnouncement([&] {
        auto& mutex = MicrophoneDriverTestAccess::stateMutex(*harness.driver);
        EXPECT_TRUE(mutex.try_lock());
        mutex.unlock();
        ++announcements;
    });
    ASSERT_EQ(harness.acquire(true), 0);
    ASSERT_EQ(harness.startIO(), 0);
    auto name = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString("Desk"));
    ASSERT_EQ(harness.setReference(boxObjectID, sel::name, name.get()), 0);
    harness.scheduler.advance(seconds(16));
    EXPECT_EQ(announcements, 6);
}

TEST(MicrophonePublicationLeaseTests, ShortLeasesExpireAfterTheirOwnDuration) {
    MicrophoneDriverHarness harness(milliseconds(1500));
    ASSERT_EQ(harness.acquire(true), 0);
    harness.scheduler.advance(milliseconds(1499));
    EXPECT_EQ(harness.u32(boxObjectID, MicrophoneDriverHarness::address(sel::acquired)), 1u);
    harness.scheduler.advance(milliseconds(1));
    EXPECT_EQ(harness.u32(boxObjectID, MicrophoneDriverHarness::address(sel::acquired)), 0u);
}

TEST(MicrophoneDeviceIOTests, StartAndStopNestAndTheThirdStopIsRefused) {
    MicrophoneDriverHarness harness;
    auto running = [&harness] {
        return harness.u32(deviceObjectID, MicrophoneDriverHarness::address(sel::isRunning));
    };
    ASSERT_EQ(harness.acquire(true), 0);
    harness.scheduler.runReady();
    harness.host.takeAnnouncements();

    ASSERT_EQ(harness.startIO(), 0);
    ASSERT_EQ(harness.startIO(), 0);
    harness.scheduler.runReady();
    EXPECT_EQ(harness.host.takeAnnouncements(), runningAnnouncement) << "only the first start is announced";
    ASSERT_EQ(harness.stopIO(), 0);
    EXPECT_EQ(running(), 1u);
    ASSERT_EQ(harness.stopIO(), 0);
    EXPECT_EQ(running(), 0u);
    EXPECT_EQ(harness.stopIO(), status::illegalOperation);
    harness.scheduler.runReady();
    EXPECT_EQ(harness.host.takeAnnouncements(), runningAnnouncement);
}

TEST(MicrophoneDeviceIOTests, RunningChangesAreAnnouncedOnlyWhilePublishedAndNotWhenSuperseded) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.startIO(), 0);
    ASSERT_EQ(harness.stopIO(), 0);
    harness.scheduler.runReady();
    EXPECT_TRUE(harness.host.takeAnnouncements().empty()) << "an unpublished device announces nothing";

    ASSERT_EQ(harness.acquire(true), 0);
    harness.scheduler.runReady();
    harness.host.takeAnnouncements();
    ASSERT_EQ(harness.startIO(), 0);
    ASSERT_EQ(harness.stopIO(), 0);
    harness.scheduler.runReady();
    EXPECT_EQ(harness.host.takeAnnouncements(), runningAnnouncement) << "the start's announcement is stale";

    ASSERT_EQ(harness.startIO(), 0);
    ASSERT_EQ(harness.acquire(false), 0);
    harness.scheduler.runReady();
    EXPECT_EQ(harness.host.takeAnnouncements(), publicationAnnouncement) << "a retraction supersedes it";
}

TEST(MicrophoneDeviceIOTests, TheZeroTimeStampAdvancesOnePeriodAtATime) {
    MicrophoneDriverHarness harness;
    const double period = 1e9 / 48000.0 * 16384;
    auto zero = [&harness] {
        double sampleTime = -1;
        std::uint64_t hostTime = 0;
        std::uint64_t seed = 0;
        EXPECT_EQ(
            harness.table().getZeroTimeStamp(harness.ref, deviceObjectID, 0, &sampleTime, &hostTime, &seed),
            0);
        EXPECT_EQ(seed, 1u);
        return std::pair{sampleTime, hostTime};
    };
    ASSERT_EQ(harness.startIO(), 0);
    std::uint64_t start = harness.scheduler.nowHostTicks();
    EXPECT_EQ(zero(), std::pair(0.0, start));
    harness.scheduler.advance(std::chrono::nanoseconds(static_cast<std::int64_t>(period) - 1));
    EXPECT_EQ(zero(), std::pair(0.0, start));
    harness.scheduler.advance(std::chrono::nanoseconds(2));
    EXPECT_EQ(zero(), std::pair(16384.0, start + static_cast<std::uint64_t>(period)));
    harness.scheduler.advance(std::chrono::nanoseconds(static_cast<std::int64_t>(3 * period)));
    EXPECT_EQ(zero().first, 2 * 16384.0);
    EXPECT_EQ(zero().first, 3 * 16384.0);
    EXPECT_EQ(zero().first, 4 * 16384.0);
    EXPECT_EQ(zero().first, 4 * 16384.0);

    double sampleTime = 0;
    std::uint64_t hostTime = 0;
    std::uint64_t seed = 0;
    EXPECT_EQ(harness.table().getZeroTimeStamp(harness.ref, boxObjectID, 0, &sampleTime, &hostTime, &seed),
              status::badObject);
}

}  // namespace
}  // namespace quillbridge
