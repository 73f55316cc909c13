#include "bridge/AudioObjectVirtualMicrophoneDevice.hpp"

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "core/ManualClock.hpp"
#include "support/bridge/FakeMicrophoneAudioObjectSystem.hpp"
#include "virtual_devices/MicrophoneDiagnosticsKeys.hpp"
#include "virtual_devices/MicrophonePacket.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Fake = FakeMicrophoneAudioObjectSystem;
using Kind = VirtualMicrophoneDeviceError::Kind;
namespace selector = microphone::selector;

class RecordingLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override {
        std::lock_guard lock(mutex_);
        if (record.category == "VirtualMicrophoneDevice") {
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

class AudioObjectVirtualMicrophoneDeviceTest : public testing::Test {
protected:
    void SetUp() override {
        previousSink_ = installLogSink(sink_);
        device_->setDemandChangedHandler([this](bool isDemanded) {
            std::lock_guard lock(mutex_);
            demandReports_.push_back(isDemanded);
        });
    }
    void TearDown() override {
        device_.reset();
        installLogSink(previousSink_);
    }

    // Moves time forward deadline by deadline, letting the queues run what fell due at each.
    void advance(std::chrono::nanoseconds duration) {
        const auto target = clock_->now() + duration;
        device_->drainQueuesForTesting();
        while (auto next = clock_->nextDeadline()) {
            if (*next > target) {
                break;
            }
            clock_->advanceTo(*next);
            device_->drainQueuesForTesting();
        }
        clock_->advanceTo(target);
        device_->drainQueuesForTesting();
    }

    std::vector<bool> demandReports() {
        std::lock_guard lock(mutex_);
        return demandReports_;
    }
    int acquireCount() {
        return system_->with([](Fake& fake) {
            int count = 0;
            for (bool acquired : fake.acquisitions) {
                count += acquired ? 1 : 0;
            }
            return count;
        });
    }
    void setRunning(std::uint32_t running) {
        system_->with([running](Fake& fake) { fake.running = running; });
        system_->fire(Fake::deviceID, selector::isRunning);
        device_->drainQueuesForTesting();
    }

    std::shared_ptr<RecordingLogSink> sink_ = std::make_shared<RecordingLogSink>();
    std::shared_ptr<LogSink> previousSink_;
    std::shared_ptr<Fake> system_ = std::make_shared<Fake>();
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    std::vector<std::chrono::nanoseconds> sleeps_;
    std::vector<std::pair<std::int64_t, std::int64_t>> observations_;
    std::mutex mutex_;
    std::vector<bool> demandReports_;
    std::unique_ptr<AudioObjectVirtualMicrophoneDevice> device_ =
        std::make_unique<AudioObjectVirtualMicrophoneDevice>(
            system_, std::make_shared<PersonaAVTimingCoordinator>(), clock_,
            [this](std::chrono::nanoseconds duration) { sleeps_.push_back(duration); },
            [this](std::int64_t source, std::int64_t host) { observations_.emplace_back(source, host); });
};

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, PublishingFailuresLeaveNothingAcquired) {
    struct Case {
        const char* name;
        bool boxInstalled;
        int lookupsBeforeDevice;
        std::int32_t acquireStatus;
        VirtualMicrophoneDeviceError error;
        std::string description;
        int lookups;
    };
    const Case cases[] = {
        {"not installed",
         false,
         0,
         0,
         {Kind::driverNotInstalled},
         "Quillbridge Microphone must be installed before microphone sharing can be used.",
         0},
        {"device never appears",
         true,
         -1,
         0,
         {Kind::driverDeviceUnavailable},
         "Quillbridge Microphone is not available yet. Restart the Mac and try again.",
         50},
        {"acquisition refused",
         true,
         0,
         microphone::status::illegalOperation,
         {Kind::publishDriver, microphone::status::unspecified},
         "Could not make Quillbridge Microphone available (2003329396).",
         0},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        system_->with([&](Fake& fake) {
            fake.boxInstalled = testCase.boxInstalled;
            fake.lookupsBeforeDevice = testCase.lookupsBeforeDevice;
            fake.acquireStatus = testCase.acquireStatus;
            fake.deviceLookups = 0;
        });
        sleeps_.clear();
        auto result = device_->publish();
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), testCase.error);
        EXPECT_EQ(result.error().description(), testCase.description);
        EXPECT_EQ(system_->with([](Fake& fake) { return fake.deviceLookups; }), testCase.lookups);
        EXPECT_EQ(sleeps_, std::vector<std::chrono::nanoseconds>(testCase.lookups, 20ms));
        EXPECT_FALSE(system_->with([](Fake& fake) { return fake.boxAcquired; }));
        EXPECT_FALSE(device_->rendererIsRunning());
        EXPECT_TRUE(system_->registeredListeners().empty());
        EXPECT_EQ(clock_->pendingSleeperCount(), 0u) << "no heartbeat, no poll";
    }
}

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, PublishRetractsFirstThenFindsTheDeviceAndRenewsTheLease) {
    system_->with([](Fake& fake) { fake.lookupsBeforeDevice = 2; });
    ASSERT_TRUE(device_->publish().has_value());
    EXPECT_TRUE(device_->rendererIsRunning());
    EXPECT_EQ(sleeps_.size(), 2u);
    EXPECT_EQ(system_->with([](Fake& fake) { return fake.acquisitions; }), (std::vector<bool>{false, true}));
    EXPECT_EQ(sink_->messages(),
              std::vector<std::string>{"Published Quillbridge Microphone through the installed HAL driver"});

    advance(1999ms);
    EXPECT_EQ(acquireCount(), 1);
    advance(1ms);
    EXPECT_EQ(acquireCount(), 2);
    advance(4s);
    EXPECT_EQ(acquireCount(), 4);

    device_->stop();
    EXPECT_FALSE(device_->rendererIsRunning());
    EXPECT_FALSE(system_->with([](Fake& fake) { return fake.boxAcquired; }));
    EXPECT_TRUE(system_->registeredListeners().empty());
    advance(10s);
    EXPECT_EQ(acquireCount(), 4) << "the heartbeat stopped";

    // Publishing again passes through retracted first.
    ASSERT_TRUE(device_->publish().has_value());
    EXPECT_EQ(system_->with([](Fake& fake) { return fake.boxAcquired; }), true);
}

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, DemandTurnsOnAtOnceAndOffOnlyAfter750Milliseconds) {
    ASSERT_TRUE(device_->publish().has_value());
    EXPECT_TRUE(demandReports().empty());

    setRunning(1);
    EXPECT_EQ(demandReports(), std::vector<bool>{true}) << "a listener call reports at once";

    setRunning(0);
    advance(749ms);
    EXPECT_EQ(demandReports(), std::vector<bool>{true});
    advance(1ms);
    EXPECT_EQ(demandReports(), (std::vector<bool>{true, false}));

    // Recording resumes within the delay: no demand-off.
    setRunning(1);
    setRunning(0);
    advance(600ms);
    setRunning(1);
    advance(2s);
    EXPECT_EQ(demandReports(), (std::vector<bool>{true, false, true}));

    device_->stop();
    EXPECT_EQ(demandReports(), (std::vector<bool>{true, false, true, false})) << "stop reports demand off";
}

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, WithoutListenersThePollFindsDemand) {
    system_->with([](Fake& fake) {
        fake.refusedListeners[selector::isRunning] = microphone::status::unknownProperty;
        fake.refusedListeners[MicrophoneAudioObjectSystem::processObjectListSelector] =
            microphone::status::unknownProperty;
    });
    ASSERT_TRUE(device_->publish().has_value());
    EXPECT_EQ(sink_->messages(), (std::vector<std::string>{
                                     "Could not observe installed virtual microphone running state: "
                                     "status=2003332927; lightweight polling will remain active",
                                     "Could not observe Core Audio process changes: status=2003332927; "
                                     "polling will remain active",
                                     "Published Quillbridge Microphone through the installed HAL driver"}));
    system_->with([](Fake& fake) { fake.running = 1; });
    advance(499ms);
    EXPECT_TRUE(demandReports().empty());
    advance(1ms);
    EXPECT_EQ(demandReports(), std::vector<bool>{true});
}

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, ARecordingProcessCountsOnlyForThisDeviceAndWhileItRecords) {
    ASSERT_TRUE(device_->publish().has_value());
    system_->with([](Fake& fake) {
        fake.processes[7] = {{Fake::otherDeviceID}, 1};
        fake.processes[8] = {{Fake::deviceID}, 0};
    });
    system_->fire(MicrophoneAudioObjectSystem::systemObjectID,
                  MicrophoneAudioObjectSystem::processObjectListSelector);
    device_->drainQueuesForTesting();
    EXPECT_TRUE(demandReports().empty());
    EXPECT_EQ(
        system_->registeredListeners().count({8, MicrophoneAudioObjectSystem::processIsRunningInputSelector}),
        1u);

    system_->with([](Fake& fake) { fake.processes[8].isRunningInput = 1; });
    system_->fire(8, MicrophoneAudioObjectSystem::processIsRunningInputSelector);
    device_->drainQueuesForTesting();
    EXPECT_EQ(demandReports(), std::vector<bool>{true});

    // The process goes away: its listeners go, and demand ends after the delay.
    system_->with([](Fake& fake) { fake.processes.erase(8); });
    advance(500ms);
    EXPECT_EQ(system_->registeredListeners().count({8, MicrophoneAudioObjectSystem::processDevicesSelector}),
              0u);
    advance(750ms);
    EXPECT_EQ(demandReports(), (std::vector<bool>{true, false}));
}

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, AProcessWhoseSecondListenerFailsGetsNeither) {
    system_->with([](Fake& fake) {
        fake.refusedListeners[MicrophoneAudioObjectSystem::processIsRunningInputSelector] = 1;
        fake.processes[8] = {{Fake::deviceID}, 1};
    });
    ASSERT_TRUE(device_->publish().has_value());
    EXPECT_EQ(system_->registeredListeners().count({8, MicrophoneAudioObjectSystem::processDevicesSelector}),
              0u);
    EXPECT_EQ(demandReports(), std::vector<bool>{true}) << "the poll still reads the process";
}

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, DiagnosticsFeedTheClockOnlyWhenTheRenderedTimeChanged) {
    ASSERT_TRUE(device_->publish().has_value());
    auto setDiagnostics = [this](microphone::PropertyChannelDictionary dictionary) {
        system_->with([&](Fake& fake) { fake.diagnosticsValue = dictionary; });
    };
    using Entries = std::vector<std::pair<std::string, microphone::PropertyChannelScalar>>;
    const std::string source(microphone::diagnosticsKey::renderedSourceTimeNanoseconds);
    const std::string host(microphone::diagnosticsKey::renderHostTimeNanoseconds);

    setDiagnostics({Entries{{source, std::int64_t{100}}, {host, std::int64_t{900}}}});
    advance(500ms);
    advance(500ms);
    setDiagnostics({Entries{{source, std::int64_t{0}}, {host, std::int64_t{950}}}});
    advance(500ms);
    setDiagnostics({Entries{{source, std::int64_t{200}}, {host, std::string("x")}}});
    advance(500ms);
    setDiagnostics({Entries{{source, std::int64_t{200}}}});
    advance(500ms);
    setDiagnostics({Entries{{source, std::int64_t{-1}}, {host, std::int64_t{1000}}}});
    advance(500ms);
    EXPECT_EQ(observations_, (std::vector<std::pair<std::int64_t, std::int64_t>>{
                                 {100, 900}, {std::numeric_limits<std::int64_t>::max(), 1000}}));
}

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, SubmittedAudioIsOnePacketWithClampedCounts) {
    const Bytes samples(1920, 0x11);
    device_->submitAudio(1, 2, 1440, 480, samples);
    EXPECT_TRUE(system_->with([](Fake& fake) { return fake.packets.empty(); })) << "not published";

    ASSERT_TRUE(device_->publish().has_value());
    device_->setHalAudioGeneration(9);
    device_->submitAudio(123, -5, 1440, 480, samples);
    auto packets = system_->with([](Fake& fake) { return fake.packets; });
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 1960u);
    auto header = microphone::readMicrophonePacketHeader(packets[0]);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(*header, (microphone::MicrophonePacketHeader{9, -5, 123, 480, 1440}));

    struct Case {
        std::int64_t count;
        std::uint32_t clamped;
    };
    for (auto [count, clamped] :
         {Case{-1, 0}, Case{std::int64_t{1} << 33, 0xFFFFFFFFu}, Case{0xFFFFFFFF, 0xFFFFFFFFu}}) {
        auto packet = AudioObjectVirtualMicrophoneDevice::makePacket(1, 0, 0, count, count, {});
        ASSERT_EQ(packet.size(), 40u);
        EXPECT_EQ(microphone::loadLittleEndian<std::uint32_t>(packet.data() + 32), clamped) << count;
        EXPECT_EQ(microphone::loadLittleEndian<std::uint32_t>(packet.data() + 36), clamped) << count;
    }

    system_->with([](Fake& fake) { fake.packetStatus = microphone::status::illegalOperation; });
    device_->submitAudio(1, 2, 1440, 480, samples);
    device_->submitAudio(1, 2, 1440, 480, samples);
    auto messages = sink_->messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         "Could not submit audio to the installed HAL microphone driver: status=1852797029"),
              1);
}

TEST_F(AudioObjectVirtualMicrophoneDeviceTest, TheHandlerIsCalledOutsideTheDevicesLock) {
    ASSERT_TRUE(device_->publish().has_value());
    std::vector<bool> seen;
    // Replacing the handler from inside it would deadlock if the lock were held.
    device_->setDemandChangedHandler([this, &seen](bool isDemanded) {
        seen.push_back(isDemanded);
        device_->setDemandChangedHandler([&seen](bool again) { seen.push_back(again); });
    });
    setRunning(1);
    setRunning(0);
    advance(750ms);
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace quillbridge
