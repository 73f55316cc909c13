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

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

class ChildProcess {
public:
    ChildProcess(std::vector<std::string> arguments, const std::string& outputPath) {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (std::FILE* output = std::fopen(outputPath.c_str(), "w")) {
                ::dup2(::fileno(output), STDOUT_FILENO);
                ::dup2(::fileno(output), STDERR_FILENO);
            }
            std::vector<char*> argv;
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~ChildProcess() { stop(SIGTERM); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void stop(int signal) {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, signal);
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

bool microphoneNodeExists() {
    std::string output;
    if (std::FILE* pipe = ::popen("pw-cli ls Node 2>/dev/null", "r")) {
        char chunk[4096];
        while (std::size_t read = std::fread(chunk, 1, sizeof(chunk), pipe)) {
            output.append(chunk, read);
        }
        ::pclose(pipe);
    }
    return output.find("node.name = \"quillbridge-microphone\"") != std::string::npos;
}

std::vector<float> readFloatWav(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<float> samples;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            std::size_t count = std::min<std::size_t>(size, bytes.size() - at - 8) / 4;
            samples.resize(count);
            std::memcpy(samples.data(), bytes.data() + at + 8, count * 4);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return samples;
}

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
    ChildProcess program({QUILLBRIDGE_MICROPHONE_PROGRAM, "--foreground"},
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
    auto recorder = std::make_unique<ChildProcess>(
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
