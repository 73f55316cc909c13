#include "platform/linux/pulse/PulseSystemAudioSource.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/Logger.hpp"

namespace quillbridge {
namespace {

constexpr double sampleRate = 48000;

template <class Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

class RecordingOutput final : public CaptureStreamOutput {
public:
    void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame>) override {}
    void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer> buffer) override {
        std::lock_guard lock(mutex_);
        buffers_.push_back(std::move(buffer));
    }
    void captureStreamDidStop(const CaptureStreamFailure&) override {
        std::lock_guard lock(mutex_);
        ++failures_;
    }

    std::vector<std::shared_ptr<AudioPCMBuffer>> buffers() const {
        std::lock_guard lock(mutex_);
        return buffers_;
    }
    int failures() const {
        std::lock_guard lock(mutex_);
        return failures_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        buffers_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<AudioPCMBuffer>> buffers_;
    int failures_ = 0;
};

// Plays a 1 kHz tone into a sink: amplitude 0.5 on the left, 0.25 on the right.
bool playTone(const std::string& sink, double seconds) {
    const std::string command = "pacat --playback --device=" + sink +
                                " --format=float32le --rate=48000 --channels=2 --raw --latency-msec=100";
    FILE* player = popen(command.c_str(), "w");
    if (player == nullptr) {
        return false;
    }
    const auto frames = static_cast<std::size_t>(seconds * sampleRate);
    std::vector<float> samples(frames * 2);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double value = std::sin(2 * std::numbers::pi * 1000 * double(frame) / sampleRate);
        samples[2 * frame] = static_cast<float>(0.5 * value);
        samples[2 * frame + 1] = static_cast<float>(0.25 * value);
    }
    const bool written = std::fwrite(samples.data(), sizeof(float), samples.size(), player) == samples.size();
    return pclose(player) == 0 && written;
}

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

struct ToneAnalysis {
    bool found = false;
    double leftRms = 0;
    double rightRms = 0;
    double frequency = 0;
};

// Looks for the tone in the captured channels and measures half a second from its middle.
ToneAnalysis analyse(const std::vector<std::shared_ptr<AudioPCMBuffer>>& buffers) {
    std::vector<float> left, right;
    for (const auto& buffer : buffers) {
        left.insert(left.end(), buffer->floatChannels[0].begin(), buffer->floatChannels[0].end());
        right.insert(right.end(), buffer->floatChannels[1].begin(), buffer->floatChannels[1].end());
    }
    std::size_t start = 0;
    while (start < left.size() && std::fabs(left[start]) < 0.1f) {
        ++start;
    }
    const std::size_t window = 24000;
    start += 9600;
    ToneAnalysis result;
    if (start + window > left.size()) {
        return result;
    }
    result.found = true;
    // Under load the player may underrun and leave short gaps of silence: measure only 10 ms blocks that
    // carry the tone, and take the frequency from the median distance between zero crossings.
    double leftEnergy = 0, rightEnergy = 0;
    std::size_t measured = 0;
    const std::size_t block = 480;
    for (std::size_t first = start; first + block <= start + window; first += block) {
        double blockEnergy = 0;
        for (std::size_t index = first; index < first + block; ++index) {
            blockEnergy += double(left[index]) * left[index];
        }
        if (std::sqrt(blockEnergy / block) < 0.05) {
            continue;
        }
        for (std::size_t index = first; index < first + block; ++index) {
            leftEnergy += double(left[index]) * left[index];
            rightEnergy += double(right[index]) * right[index];
        }
        measured += block;
    }
    if (measured == 0) {
        return result;
    }
    result.leftRms = std::sqrt(leftEnergy / measured);
    result.rightRms = std::sqrt(rightEnergy / measured);
    std::vector<std::size_t> periods;
    std::size_t previousCrossing = 0;
    for (std::size_t index = start + 1; index < start + window; ++index) {
        if (left[index - 1] < 0 && left[index] >= 0) {
            if (previousCrossing != 0) {
                periods.push_back(index - previousCrossing);
            }
            previousCrossing = index;
        }
    }
    if (periods.empty()) {
        return result;
    }
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    result.frequency = sampleRate / double(periods[periods.size() / 2]);
    return result;
}

class PulseSystemAudioSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_PULSE") == nullptr) {
            GTEST_SKIP() << "needs the private PulseAudio of tests/support/run-desktop-services.sh --pulse";
        }
        if (!run("pacat --version")) {
            GTEST_SKIP() << "pacat is not installed";
        }
        run("pactl set-default-sink quillbridge_sink_a");
    }
    void TearDown() override {
        run("pactl set-default-sink quillbridge_sink_a");
        run("pactl set-sink-mute quillbridge_sink_a 0");
    }

    std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
};

TEST_F(PulseSystemAudioSourceTest, CapturesAToneAsPlanarFloatWithItsFrequencyLevelAndTimes) {
    PulseSystemAudioSource source({}, output);
    ASSERT_TRUE(source.start());
    ASSERT_TRUE(eventually([&] { return source.recordedSinkName() == "quillbridge_sink_a"; }));
    ASSERT_TRUE(playTone("quillbridge_sink_a", 1.5));
    ASSERT_TRUE(eventually([&] { return analyse(output->buffers()).found; }));
    source.stop();

    const auto buffers = output->buffers();
    for (const auto& buffer : buffers) {
        EXPECT_EQ(buffer->format, (AudioPCMFormat{48000, 2, AudioSampleFormat::float32, false}));
        ASSERT_TRUE(buffer->hasFloatChannelData());
        EXPECT_EQ(buffer->floatChannels[0].size(), buffer->frameLength);
    }
    const auto tone = analyse(buffers);
    EXPECT_NEAR(tone.frequency, 1000, 10);
    EXPECT_NEAR(tone.leftRms, 0.5 / std::numbers::sqrt2, 0.02);
    EXPECT_NEAR(tone.rightRms, 0.25 / std::numbers::sqrt2, 0.01);

    // Times advance by each buffer's duration (to the millisecond), except where the source re-anchored its
    // count to the clock.
    std::uint64_t irregular = 0;
    for (std::size_t index = 1; index < buffers.size(); ++index) {
        const double spacing = double(buffers[index]->presentationTimeNanoseconds) -
                               double(buffers[index - 1]->presentationTimeNanoseconds);
        const double duration = buffers[index - 1]->frameLength * 1e9 / sampleRate;
        irregular += std::fabs(spacing - duration) > 1e6;
    }
    EXPECT_LE(irregular, source.resyncCount());
    EXPECT_GT(buffers.size(), 100u);
    EXPECT_EQ(output->failures(), 0);
}

TEST_F(PulseSystemAudioSourceTest, FollowsAChangeOfTheDefaultSink) {
    PulseSystemAudioSource source({}, output);
    ASSERT_TRUE(source.start());
    ASSERT_TRUE(eventually([&] { return source.recordedSinkName() == "quillbridge_sink_a"; }));
    ASSERT_TRUE(run("pactl set-default-sink quillbridge_sink_b"));
    ASSERT_TRUE(eventually([&] { return source.recordedSinkName() == "quillbridge_sink_b"; }));
    output->clear();
    ASSERT_TRUE(playTone("quillbridge_sink_b", 1.0));
    EXPECT_TRUE(eventually([&] { return analyse(output->buffers()).found; }));
}

// What the host mute does to system-audio capture: the sound server applies a sink's mute before its
// monitor, so a muted default sink is recorded as silence. (Its volume scales the monitor the same way.)
TEST_F(PulseSystemAudioSourceTest, AMutedSinkIsRecordedAsSilence) {
    const auto peak = [](const std::vector<std::shared_ptr<AudioPCMBuffer>>& buffers) {
        float loudest = 0;
        for (const auto& buffer : buffers) {
            for (const auto& channel : buffer->floatChannels) {
                for (float sample : channel) {
                    loudest = std::max(loudest, std::fabs(sample));
                }
            }
        }
        return loudest;
    };
    const auto frames = [](const std::vector<std::shared_ptr<AudioPCMBuffer>>& buffers) {
        std::size_t total = 0;
        for (const auto& buffer : buffers) {
            total += buffer->frameLength;
        }
        return total;
    };
    ASSERT_TRUE(run("pactl set-sink-mute quillbridge_sink_a 1"));
    PulseSystemAudioSource source({}, output);
    ASSERT_TRUE(source.start());
    ASSERT_TRUE(eventually([&] { return source.recordedSinkName() == "quillbridge_sink_a"; }));
    ASSERT_TRUE(playTone("quillbridge_sink_a", 1.0));
    // The player returns once the server took the whole second; what the monitor recorded meanwhile is
    // at least most of it.
    ASSERT_TRUE(eventually([&] { return frames(output->buffers()) >= 36000; }));
    EXPECT_EQ(peak(output->buffers()), 0.0f);

    ASSERT_TRUE(run("pactl set-sink-mute quillbridge_sink_a 0"));
    output->clear();
    ASSERT_TRUE(playTone("quillbridge_sink_a", 1.5));
    ASSERT_TRUE(eventually([&] { return analyse(output->buffers()).found; }))
        << "the tone is back once unmuted";
    source.stop();
    EXPECT_GT(peak(output->buffers()), 0.4f);
}

// Notes when each buffer arrived, and holds the loop thread once, as a reader that falls behind would.
class TimedOutput final : public CaptureStreamOutput {
public:
    struct Arrival {
        std::uint64_t stampNanoseconds;
        std::uint64_t durationNanoseconds;
        std::uint64_t arrivalNanoseconds;
        bool afterStall;
    };

    void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame>) override {}
    void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer> buffer) override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::lock_guard lock(mutex_);
        arrivals_.push_back({buffer->presentationTimeNanoseconds,
                             static_cast<std::uint64_t>(buffer->frameLength * 1e9 / sampleRate),
                             static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
                                 static_cast<std::uint64_t>(now.tv_nsec),
                             arrivals_.size() == stallAfter + 1});
        if (arrivals_.size() == stallAfter) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    }
    void captureStreamDidStop(const CaptureStreamFailure&) override {}

    std::vector<Arrival> arrivals() const {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }

private:
    // Well after the start, when an idle sink's first block mixed far ahead has been read.
    static constexpr std::size_t stallAfter = 200;
    mutable std::mutex mutex_;
    std::vector<Arrival> arrivals_;
};

// Stamps are capture times on the monotonic clock, from the server's own timing: a buffer was captured
// before it arrived, not long before, and one read late (the reader stalled) keeps the time it was captured.
TEST_F(PulseSystemAudioSourceTest, StampsAreCaptureTimesOnTheMonotonicClockHoweverLateTheyAreRead) {
    auto timed = std::make_shared<TimedOutput>();
    PulseSystemAudioSource source({}, timed);
    ASSERT_TRUE(source.start());
    ASSERT_TRUE(eventually([&] { return source.recordedSinkName() == "quillbridge_sink_a"; }));
    ASSERT_TRUE(playTone("quillbridge_sink_a", 1.5));
    ASSERT_TRUE(eventually([&] { return timed->arrivals().size() > 300; }));
    source.stop();

    // The server's measure has some slack: a millisecond or two.
    constexpr std::uint64_t slack = 3'000'000;
    std::optional<TimedOutput::Arrival> afterStall;
    for (const auto& arrival : timed->arrivals()) {
        EXPECT_LE(arrival.stampNanoseconds + arrival.durationNanoseconds, arrival.arrivalNanoseconds + slack);
        // On the same clock: an idle sink mixes its first block up to a few seconds ahead, no more.
        EXPECT_LT(double(arrival.arrivalNanoseconds) - double(arrival.stampNanoseconds), 5e9);
        if (arrival.afterStall) {
            afterStall = arrival;
        }
    }
    ASSERT_TRUE(afterStall);
    // Read some 150 ms after it was captured: a stamp taken from its arrival would be under a millisecond.
    EXPECT_GT(afterStall->arrivalNanoseconds - afterStall->stampNanoseconds - afterStall->durationNanoseconds,
              100'000'000u);
}

TEST_F(PulseSystemAudioSourceTest, WithoutASoundServerStartIsRefusedAndLogged) {
    const std::string saved = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/quillbridge/native", 1);
    ScopedLogCapture logs;
    PulseSystemAudioSource source({}, output);
    const bool started = source.start();
    setenv("PULSE_SERVER", saved.c_str(), 1);
    EXPECT_FALSE(started);
    EXPECT_THAT(logs.messages("SystemAudioCapture"),
                ::testing::ElementsAre(::testing::StartsWith("System audio is not captured: ")));
    EXPECT_EQ(output->failures(), 0);
}

}  // namespace
}  // namespace quillbridge
