// The desktop's sound while the host is muted, on a real sound server (PulseAudio, or PipeWire through
// pipewire-pulse): the host's mute controller with its routing and system-audio capture, as the host
// composes them, next to tones standing for the desktop's applications.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PulseTestTone.hpp"
#include "capture/SystemAudioMuteController.hpp"
#include "core/Logger.hpp"
#include "platform/linux/pulse/PulseAudioOutputMuteControls.hpp"
#include "platform/linux/pulse/PulseConnection.hpp"
#include "platform/linux/pulse/PulseHostAudioSink.hpp"
#include "platform/linux/pulse/PulseIntrospection.hpp"
#include "platform/linux/pulse/PulseSystemAudioRouter.hpp"
#include "platform/linux/pulse/PulseSystemAudioSource.hpp"
#include "support/PipedChildProcess.hpp"
#include "support/audio/ToneAnalysis.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

constexpr const char* sinkA = "quillbridge_sink_a";
constexpr const char* sinkB = "quillbridge_sink_b";
const std::string hostSink(PulseHostAudioSink::name);
constexpr double sampleRate = 48000;

template <class Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A state of the server once it has settled after a change, or as it is when it does not: PulseAudio
// settles at once, PipeWire a moment later (WirePlumber links streams and picks the default on its own time).
template <class Read>
auto settled(Read read, const decltype(read())& expected) {
    eventually([&] { return read() == expected; });
    return read();
}

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Keeps the left channel of the last few seconds captured.
class RecentAudio final : public CaptureStreamOutput {
public:
    void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame>) override {}
    void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer> buffer) override {
        std::lock_guard lock(mutex_);
        const auto& left = buffer->floatChannels[0];
        samples_.insert(samples_.end(), left.begin(), left.end());
        if (samples_.size() > 4 * sampleRate) {
            samples_.erase(samples_.begin(), samples_.end() - static_cast<std::ptrdiff_t>(2 * sampleRate));
        }
    }
    void captureStreamDidStop(const CaptureStreamFailure&) override {}

    void clear() {
        std::lock_guard lock(mutex_);
        samples_.clear();
    }
    // Whether the last half second carries every one of the tones.
    bool carries(const std::vector<double>& frequencies) {
        std::lock_guard lock(mutex_);
        if (samples_.size() < sampleRate / 2) {
            return false;
        }
        const std::span<const float> recent(samples_.data() + samples_.size() - 24000, 24000);
        return std::ranges::all_of(frequencies, [&](double frequency) {
            return toneAmplitude(recent, sampleRate, frequency) > 0.1;
        });
    }

private:
    std::mutex mutex_;
    std::vector<float> samples_;
};

// The loudest sample of half a second recorded from a sink's monitor, on a recorder of its own.
std::optional<float> monitorPeak(const std::string& sink) {
    const std::string command =
        "parec --device=" + sink +
        ".monitor --format=float32le --rate=48000 --channels=2 --raw --latency-msec=20 2>/dev/null";
    FILE* recorder = popen(command.c_str(), "r");
    if (recorder == nullptr) {
        return std::nullopt;
    }
    std::vector<float> samples(48000);
    const std::size_t read = std::fread(samples.data(), sizeof(float), samples.size(), recorder);
    pclose(recorder);
    if (read != samples.size()) {
        return std::nullopt;
    }
    float peak = 0;
    for (float sample : samples) {
        peak = std::max(peak, std::abs(sample));
    }
    return peak;
}

class PulseSystemAudioRoutingTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_PULSE") == nullptr) {
            GTEST_SKIP()
                << "needs a private sound server (run under run-desktop-services.sh --pulse or --pipewire)";
        }
        std::string error;
        server_ = PulseConnection::connect("Quillbridge routing test", 10s, &error);
        ASSERT_NE(server_, nullptr) << error;
        // Each test starts with both sinks unmuted, sink A the default and no sink of the host.
        ASSERT_TRUE(run(std::string("pactl set-sink-mute ") + sinkA + " 0"));
        ASSERT_TRUE(run(std::string("pactl set-sink-mute ") + sinkB + " 0"));
        ASSERT_TRUE(run(std::string("pactl set-default-sink ") + sinkA));
        ASSERT_FALSE(sinkNamed(hostSink));
    }

    void TearDown() override {
        if (auto leftover = sinkNamed(hostSink)) {
            run("pactl unload-module " + std::to_string(leftover->ownerModule));
        }
    }

    std::unique_ptr<SystemAudioMuteController> makeController() {
        std::string error;
        auto controls = PulseAudioOutputMuteControls::connect(10s, &error);
        EXPECT_NE(controls, nullptr) << error;
        return std::make_unique<SystemAudioMuteController>(std::move(controls),
                                                           std::make_unique<PulseSystemAudioRouter>(10s));
    }

    std::unique_ptr<PulseTestTone> playTone(double frequency, std::string sink = {},
                                            bool refusesToMove = false) {
        std::string error;
        auto tone = PulseTestTone::start({frequency, std::move(sink), refusesToMove}, &error);
        EXPECT_NE(tone, nullptr) << error;
        return tone;
    }

    std::vector<PulseSinkSummary> sinks() {
        PulseConnection::Lock lock(*server_);
        return PulseIntrospection::sinks(*server_).value_or(std::vector<PulseSinkSummary>{});
    }
    std::optional<PulseSinkSummary> sinkNamed(const std::string& name) {
        for (const PulseSinkSummary& sink : sinks()) {
            if (sink.name == name) {
                return sink;
            }
        }
        return std::nullopt;
    }
    std::string defaultSink() {
        PulseConnection::Lock lock(*server_);
        return PulseIntrospection::defaultSinkName(*server_).value_or("");
    }
    // The name of the sink the tone plays into, empty when it is not playing.
    std::string sinkOf(const PulseTestTone& tone) {
        std::optional<std::vector<PulseSinkInputSummary>> streams;
        {
            PulseConnection::Lock lock(*server_);
            streams = PulseIntrospection::sinkInputs(*server_);
        }
        for (const PulseSinkInputSummary& stream : streams.value_or(std::vector<PulseSinkInputSummary>{})) {
            if (stream.index != tone.sinkInput()) {
                continue;
            }
            for (const PulseSinkSummary& sink : sinks()) {
                if (sink.index == stream.sink) {
                    return sink.name;
                }
            }
        }
        return {};
    }
    std::optional<bool> muted(const std::string& name) {
        auto sink = sinkNamed(name);
        return sink ? std::optional<bool>(sink->muted) : std::nullopt;
    }

    std::unique_ptr<PulseConnection> server_;
    std::shared_ptr<RecentAudio> capture_ = std::make_shared<RecentAudio>();
};

TEST_F(PulseSystemAudioRoutingTest, WhileMutedTheDesktopsSoundReachesTheCaptureAndNotTheSinks) {
    auto controller = makeController();
    PulseSystemAudioSource source({}, capture_);
    ASSERT_TRUE(source.start());
    // Before the session: a tone on sink B, which the user muted, and one on sink A, the default.
    ASSERT_TRUE(run(std::string("pactl set-sink-mute ") + sinkB + " 1"));
    auto before = playTone(440, sinkB);
    auto onDefault = playTone(660);
    ASSERT_TRUE(before && onDefault);
    ASSERT_TRUE(eventually([&] { return capture_->carries({660}); }));

    ASSERT_TRUE(controller->muteOutputDevices().has_value());
    EXPECT_EQ(settled([&] { return defaultSink(); }, hostSink), hostSink);
    EXPECT_TRUE(eventually([&] { return source.recordedSinkName() == hostSink; }));
    // During the session: a tone asking for sink A, and one on the default output.
    auto during = playTone(1000, sinkA);
    auto duringOnDefault = playTone(1500);
    ASSERT_TRUE(during && duringOnDefault);
    EXPECT_TRUE(eventually([&] { return capture_->carries({440, 660, 1000, 1500}); }));
    for (const auto* tone : {before.get(), onDefault.get(), during.get(), duringOnDefault.get()}) {
        EXPECT_EQ(settled([&] { return sinkOf(*tone); }, hostSink), hostSink);
    }
    EXPECT_EQ(settled([&] { return muted(sinkA); }, true), true);
    EXPECT_EQ(settled([&] { return muted(sinkB); }, true), true);
    EXPECT_EQ(settled([&] { return muted(hostSink); }, false), false);
    EXPECT_EQ(monitorPeak(sinkA), 0.0f);
    EXPECT_EQ(monitorPeak(sinkB), 0.0f);

    controller->restoreSavedMuteStates();
    EXPECT_TRUE(eventually([&] { return !sinkNamed(hostSink); }));
    EXPECT_EQ(settled([&] { return defaultSink(); }, sinkA), sinkA);
    EXPECT_EQ(settled([&] { return sinkOf(*before); }, sinkB), sinkB);
    EXPECT_EQ(settled([&] { return sinkOf(*onDefault); }, sinkA), sinkA);
    EXPECT_EQ(settled([&] { return sinkOf(*during); }, sinkA), sinkA);
    // Born in the host's sink: given to the default output.
    EXPECT_EQ(settled([&] { return sinkOf(*duringOnDefault); }, sinkA), sinkA);
    EXPECT_EQ(settled([&] { return muted(sinkA); }, false), false);
    EXPECT_EQ(settled([&] { return muted(sinkB); }, true), true) << "the user's own mute stays";
    // Capture is back on the default sink's monitor and hears what plays there.
    EXPECT_TRUE(eventually([&] { return source.recordedSinkName() == sinkA; }));
    capture_->clear();
    EXPECT_TRUE(eventually([&] { return capture_->carries({660, 1000, 1500}); }));
}

TEST_F(PulseSystemAudioRoutingTest, NotMutingMovesNothing) {
    auto controller = makeController();
    PulseSystemAudioSource source({}, capture_);
    ASSERT_TRUE(source.start());
    auto tone = playTone(440, sinkB);
    ASSERT_TRUE(tone);
    // What a session that does not mute the host asks.
    controller->restoreSavedMuteStates();
    EXPECT_FALSE(controller->isActive());
    EXPECT_TRUE(eventually([&] { return !sinkNamed(hostSink); }));
    EXPECT_EQ(settled([&] { return defaultSink(); }, sinkA), sinkA);
    EXPECT_EQ(settled([&] { return sinkOf(*tone); }, sinkB), sinkB);
    EXPECT_EQ(source.recordedSinkName(), sinkA);
}

TEST_F(PulseSystemAudioRoutingTest, TheUsersChoicesDuringTheSessionStand) {
    // A sink that goes away during the session, with a stream on it.
    ASSERT_TRUE(run("pactl load-module module-null-sink sink_name=quillbridge_sink_c rate=48000"));
    auto onC = playTone(440, "quillbridge_sink_c");
    auto onB = playTone(660, sinkB);
    ASSERT_TRUE(onC && onB);
    auto controller = makeController();
    ASSERT_TRUE(controller->muteOutputDevices().has_value());
    ASSERT_EQ(settled([&] { return sinkOf(*onC); }, hostSink), hostSink);

    ASSERT_TRUE(run("pactl unload-module " + std::to_string(sinkNamed("quillbridge_sink_c")->ownerModule)));
    // The user picks sink B as the default and moves the tone on it back there.
    ASSERT_TRUE(run(std::string("pactl set-default-sink ") + sinkB));
    ASSERT_TRUE(run("pactl move-sink-input " + std::to_string(onB->sinkInput()) + " " + sinkB));
    ASSERT_TRUE(eventually([&] { return defaultSink() == sinkB && sinkOf(*onB) == sinkB; }));

    controller->restoreSavedMuteStates();
    EXPECT_TRUE(eventually([&] { return !sinkNamed(hostSink); }));
    EXPECT_EQ(settled([&] { return defaultSink(); }, sinkB), sinkB);
    EXPECT_EQ(settled([&] { return sinkOf(*onB); }, sinkB), sinkB);
    // Its sink is gone: the default output.
    EXPECT_EQ(settled([&] { return sinkOf(*onC); }, sinkB), sinkB);
}

TEST_F(PulseSystemAudioRoutingTest, AStreamThatRefusesToMoveStaysAndIsLoggedOnce) {
    ScopedLogCapture logs;
    auto fixedBefore = playTone(440, sinkB, true);
    auto movable = playTone(660, sinkB);
    ASSERT_TRUE(fixedBefore && movable);
    auto controller = makeController();
    ASSERT_TRUE(controller->muteOutputDevices().has_value());
    auto fixedDuring = playTone(1000, sinkB, true);
    ASSERT_TRUE(fixedDuring);
    const auto refusals = [&] {
        std::vector<std::string> found;
        for (const std::string& message : logs.messages("SystemAudioMuteController")) {
            if (message.starts_with("An audio stream refuses to move")) {
                found.push_back(message);
            }
        }
        return found;
    };
    ASSERT_TRUE(eventually([&] { return refusals().size() == 2; }));
    EXPECT_THAT(refusals(), testing::UnorderedElementsAre(
                                "An audio stream refuses to move and stays on its output: stream=" +
                                    std::to_string(fixedBefore->sinkInput()),
                                "An audio stream refuses to move and stays on its output: stream=" +
                                    std::to_string(fixedDuring->sinkInput())));
    EXPECT_EQ(settled([&] { return sinkOf(*fixedBefore); }, sinkB), sinkB);
    EXPECT_EQ(settled([&] { return sinkOf(*fixedDuring); }, sinkB), sinkB);
    EXPECT_EQ(settled([&] { return sinkOf(*movable); }, hostSink), hostSink);

    controller->restoreSavedMuteStates();
    EXPECT_EQ(settled([&] { return sinkOf(*fixedBefore); }, sinkB), sinkB);
    EXPECT_EQ(settled([&] { return sinkOf(*movable); }, sinkB), sinkB);
    EXPECT_EQ(refusals().size(), 2u);
}

TEST_F(PulseSystemAudioRoutingTest, AHostKilledMidSessionLeavesASinkThatTheNextStartRemoves) {
    const char* helper = std::getenv("QUILLBRIDGE_ROUTING_HELPER");
    if (helper == nullptr) {
        GTEST_SKIP() << "QUILLBRIDGE_ROUTING_HELPER names the helper program (CTest sets it)";
    }
    auto tone = playTone(440, sinkB);
    ASSERT_TRUE(tone);
    PipedChild child = startPipedChild(helper, {});
    ASSERT_GT(child.pid, 0);
    char said[6] = {};
    ASSERT_EQ(::read(child.fromChild, said, 5), 5);
    EXPECT_STREQ(said, "muted");
    ::kill(child.pid, SIGKILL);
    ::waitpid(child.pid, nullptr, 0);
    ::close(child.toChild);
    ::close(child.fromChild);
    // What the crash left: the sound goes nowhere.
    ASSERT_TRUE(eventually([&] { return sinkNamed(hostSink).has_value(); }));
    ASSERT_EQ(settled([&] { return defaultSink(); }, hostSink), hostSink);
    ASSERT_EQ(settled([&] { return sinkOf(*tone); }, hostSink), hostSink);

    ScopedLogCapture logs;
    auto controller = makeController();
    // Its queue undoes it at construction; a call on the queue waits for that.
    EXPECT_FALSE(controller->isActive());
    EXPECT_TRUE(eventually([&] { return !sinkNamed(hostSink); }));
    EXPECT_EQ(settled([&] { return defaultSink(); }, sinkA), sinkA) << "the default it replaced";
    EXPECT_EQ(settled([&] { return sinkOf(*tone); }, sinkA), sinkA);
    EXPECT_THAT(
        logs.messages("SystemAudioMuteController"),
        testing::Contains(std::string("Removed the private output left by an earlier run; its streams "
                                      "went to ") +
                          sinkA));
}

}  // namespace
}  // namespace quillbridge
