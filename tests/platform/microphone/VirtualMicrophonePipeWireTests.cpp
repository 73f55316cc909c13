// The host's virtual microphone against the real microphone program under a private PipeWire session: the
// host publishes the device, a recording application makes demand appear and vanish, and a tone the host
// submits is what the application records.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>

#include "bridge/AudioObjectVirtualMicrophoneDevice.hpp"
#include "core/SteadyClock.hpp"
#include "platform/linux/microphone/PropertyChannelMicrophoneAudioObjectSystem.hpp"
#include "support/microphone/MicrophoneProcessTestSupport.hpp"

namespace quillbridge {
namespace {

using SteadyTime = std::chrono::steady_clock;
using namespace std::chrono_literals;

template <class Predicate>
bool waitFor(Predicate predicate, SteadyTime::duration timeout) {
    auto deadline = SteadyTime::now() + timeout;
    while (SteadyTime::now() < deadline) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return predicate();
}

std::int64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

class VirtualMicrophonePipeWireTests : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_PIPEWIRE") == nullptr) {
            GTEST_SKIP() << "needs the PipeWire session of tests/support/run-desktop-services.sh --pipewire";
        }
        folder_ = std::filesystem::temp_directory_path() /
                  ("quillbridge-virtual-microphone-test." + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        program_ = std::make_unique<LoggedChildProcess>(
            std::vector<std::string>{QUILLBRIDGE_MICROPHONE_PROGRAM, "--foreground"},
            (folder_ / "program.log").string());
        auto path = PropertyChannelMicrophoneAudioObjectSystem::defaultSocketPath();
        ASSERT_TRUE(path);
        system_ = std::make_shared<PropertyChannelMicrophoneAudioObjectSystem>(*path);
        ASSERT_TRUE(
            waitFor([this] { return system_->translateUIDToBox(microphone::boxUID).has_value(); }, 10s))
            << programLog();
        device_ = std::make_unique<AudioObjectVirtualMicrophoneDevice>(
            system_, std::make_shared<PersonaAVTimingCoordinator>(), std::make_shared<SteadyClock>());
        device_->setDemandChangedHandler([this](bool isDemanded) {
            demand_ = isDemanded;
            (isDemanded ? demandOnAt_ : demandOffAt_) = SteadyTime::now();
        });
    }
    void TearDown() override {
        device_.reset();
        system_.reset();
        program_.reset();
        std::filesystem::remove_all(folder_);
    }
    std::string programLog() const {
        std::ifstream file(folder_ / "program.log");
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }

    std::filesystem::path folder_;
    std::unique_ptr<LoggedChildProcess> program_;
    std::shared_ptr<PropertyChannelMicrophoneAudioObjectSystem> system_;
    std::unique_ptr<AudioObjectVirtualMicrophoneDevice> device_;
    std::atomic<bool> demand_{false};
    std::atomic<SteadyTime::time_point> demandOnAt_{};
    std::atomic<SteadyTime::time_point> demandOffAt_{};
};

TEST_F(VirtualMicrophonePipeWireTests, PublishedDeviceFollowsARecorderAndCarriesTheTone) {
    ASSERT_TRUE(device_->publish().has_value()) << programLog();
    EXPECT_TRUE(device_->rendererIsRunning());
    ASSERT_TRUE(waitFor(microphoneNodeExists, 10s)) << programLog();
    EXPECT_FALSE(demand_);

    auto recording = (folder_ / "recording.wav").string();
    auto recorder = std::make_unique<LoggedChildProcess>(
        std::vector<std::string>{"pw-record", "--target", "quillbridge-microphone", "--rate", "48000",
                                 "--channels", "1", "--format", "f32", recording},
        (folder_ / "pw-record.log").string());
    ASSERT_TRUE(waitFor([this] { return demand_.load(); }, 10s)) << "demand appears while pw-record records";

    // Two seconds of a 440 Hz tone in 10 ms packets at real-time pace.
    constexpr double frequency = 440;
    constexpr int framesPerPacket = 480;
    std::uint64_t frame = 0;
    SteadyTime::duration submitTime{};
    auto start = SteadyTime::now();
    for (int packet = 0; packet < 200; ++packet) {
        Bytes samples;
        for (int index = 0; index < framesPerPacket; ++index, ++frame) {
            float value = 0.5f * float(std::sin(2 * std::numbers::pi * frequency * double(frame) / 48000));
            auto bits = std::bit_cast<std::uint32_t>(value);
            for (int byte = 0; byte < 4; ++byte) {
                samples.push_back(static_cast<std::uint8_t>(bits >> (8 * byte)));
            }
        }
        const auto submitStart = SteadyTime::now();
        device_->submitAudio(frame * 20833, monotonicNanoseconds() + 30'000'000, 1440, framesPerPacket,
                             samples);
        submitTime += SteadyTime::now() - submitStart;
        std::this_thread::sleep_until(start + (packet + 1) * 10ms);
    }
    std::this_thread::sleep_for(200ms);

    recorder->stop(SIGINT);
    const auto recorderStoppedAt = SteadyTime::now();
    ASSERT_TRUE(waitFor([this] { return !demand_.load(); }, 10s))
        << "demand vanishes after the recorder stops";
    const auto offDelay =
        std::chrono::duration_cast<std::chrono::milliseconds>(demandOffAt_.load() - recorderStoppedAt);

    auto samples = readFloatWav(recording);
    ASSERT_GT(samples.size(), 48000u);
    // Frequency from the rising zero crossings of the loud part.
    std::size_t first = 0, last = 0, crossings = 0;
    for (std::size_t index = 1; index < samples.size(); ++index) {
        if (samples[index - 1] < 0 && samples[index] >= 0 &&
            std::abs(samples[index] - samples[index - 1]) > 0.01f) {
            if (crossings == 0) {
                first = index;
            }
            last = index;
            ++crossings;
        }
    }
    ASSERT_GT(crossings, 400u) << "the tone was recorded";
    const double measured = double(crossings - 1) * 48000 / double(last - first);
    EXPECT_NEAR(measured, frequency, frequency * 0.03);

    std::printf(
        "demand off %lld ms after the recorder stopped (delay 750 ms); tone %.1f Hz; one packet's "
        "submission (socket round trip) %.1f us on average\n",
        static_cast<long long>(offDelay.count()), measured,
        std::chrono::duration<double, std::micro>(submitTime).count() / 200);
    device_->stop();
    EXPECT_FALSE(device_->rendererIsRunning());
    EXPECT_TRUE(waitFor([] { return !microphoneNodeExists(); }, 10s)) << "stop retracts the device at once";
}

TEST_F(VirtualMicrophonePipeWireTests, WithoutTheProgramPublishingSaysTheDriverIsNotInstalled) {
    program_.reset();
    auto result = device_->publish();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, VirtualMicrophoneDeviceError::Kind::driverNotInstalled);
}

}  // namespace
}  // namespace quillbridge
