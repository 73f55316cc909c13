// The headset's microphone on the desktop: the host as the application builds it, the real microphone
// program under PipeWire, and a headset that shares its microphone over real QUIC. A desktop recorder
// (pw-record) reading "Quillbridge Microphone" makes the host ask the headset for its microphone, and
// records the tone the headset sends. Run through run-e2e-environment.sh --pipewire.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "EndToEndHostFixture.hpp"
#include "support/audio/ToneAnalysis.hpp"
#include "support/microphone/MicrophoneProcessTestSupport.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

class EndToEndMicrophoneTest : public EndToEndHostFixture {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_PIPEWIRE") == nullptr) {
            GTEST_SKIP() << "needs run-e2e-environment.sh --pipewire";
        }
        EndToEndHostFixture::SetUp();
    }
};

TEST_F(EndToEndMicrophoneTest, ADesktopRecorderGetsTheHeadsetsMicrophoneTone) {
    LoggedChildProcess program({QUILLBRIDGE_MICROPHONE_PROGRAM, "--foreground"},
                               (root / "microphone.log").string());

    auto simulator = makeHeadset();
    onHeadset([&] { return simulator->connect(); });
    pair(*simulator);
    startStreaming(*simulator, StreamConfigurationMessage{});

    // The headset's user shares the microphone: the host publishes the virtual microphone.
    onHeadset([&] { return simulator->sendMicrophoneSharingState(true); });
    ASSERT_TRUE(waitUntil(microphoneNodeExists)) << "the host publishes Quillbridge Microphone";
    EXPECT_NE(readHeadset([&] { return simulator->microphoneRequested(); }), std::optional<bool>(true));

    const auto recording = (root / "recording.wav").string();
    auto recorder = std::make_unique<LoggedChildProcess>(
        std::vector<std::string>{"pw-record", "--target", "quillbridge-microphone", "--rate", "48000",
                                 "--channels", "1", "--format", "f32", recording},
        (root / "pw-record.log").string());
    ASSERT_TRUE(waitUntil([&] {
        return readHeadset([&] { return simulator->microphoneRequested(); }) == true;
    })) << "a recording application makes the host ask for the microphone";

    // Three seconds of a 440 Hz tone in 10 ms chunks at real-time pace.
    onHeadset([&] { return simulator->sendMicrophoneFormat(MicrophoneFormatMessage{48000, 1}); });
    constexpr double frequency = 440;
    std::uint64_t frame = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t chunk = 1; chunk <= 300; ++chunk) {
        std::vector<float> samples(480);
        for (float& sample : samples) {
            sample = 0.5f * float(std::sin(2 * std::numbers::pi * frequency * double(frame++) / 48000));
        }
        const std::uint64_t captureTime = (chunk - 1) * 10'000'000ULL + 1'000'000'000ULL;
        onHeadset([&] { return simulator->sendMicrophoneChunk(chunk, captureTime, samples); });
        std::this_thread::sleep_until(start + chunk * 10ms);
    }
    std::this_thread::sleep_for(300ms);
    recorder->stop(SIGINT);
    EXPECT_TRUE(waitUntil([&] {
        return readHeadset([&] { return simulator->microphoneRequested(); }) == false;
    })) << "with nobody recording the host stops asking";

    const auto samples = readFloatWav(recording);
    ASSERT_GT(samples.size(), 48000u);
    // The loudest second of the recording: the tone.
    std::size_t best = 0;
    double bestLevel = 0;
    for (std::size_t at = 0; at + 48000 <= samples.size(); at += 4800) {
        const double level = rootMeanSquare(std::span<const float>(samples.data() + at, 48000));
        if (level > bestLevel) {
            bestLevel = level;
            best = at;
        }
    }
    const std::span<const float> loudest(samples.data() + best, 48000);
    EXPECT_GT(bestLevel, 0.2) << "the tone was recorded";
    EXPECT_NEAR(dominantFrequencyHertz(loudest, 48000), frequency, 10);

    onHeadset([&] { return simulator->sendMicrophoneSharingState(false); });
    EXPECT_TRUE(waitUntil([] { return !microphoneNodeExists(); })) << "the host retracts the microphone";
    onHeadset([&] { return simulator->disconnect(); });
}

}  // namespace
}  // namespace quillbridge
