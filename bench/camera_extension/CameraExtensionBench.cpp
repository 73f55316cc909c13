// Figures of the camera extension program (quillbridge-camera-extension) moving 1080p frames at 30 a second
// on a private PipeWire session. Not a test: it prints what it measured.
//
//   tests/support/run-desktop-services.sh --pipewire --
//   BUILD/bench/camera_extension/quillbridge_camera_extension_bench [SECONDS]
//
// (or `cmake --build BUILD --target quillbridge_camera_extension_bench_run`), on the Release build. It exits
// with 0 when the figures are out, 2 outside the environment and 1 when a measurement could not be made.
// Measured, after two seconds of warm-up, over SECONDS (20 by default):
// - sink to source, per frame: from the presentation time the host's producer stream stamps on a frame just
//   before queueing it on the sink node, to the moment an app's consumer stream on the source node has it
//   (after checking every pixel of it). The program looks for a frame every 33 ms when none waits, so up to
//   33 ms of that is the wait for its next look.
// - the program's CPU time over the run (utime + stime of /proc/PID/stat), as a share of one core.

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/camera_extension/CameraNotificationListener.hpp"
#include "support/camera_extension/CameraTestChildProcess.hpp"
#include "support/camera_extension/PipeWireTestCamera.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// utime + stime of the process, in clock ticks.
long processTicks(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), {});
    // The command name may hold spaces: fields are counted after its closing parenthesis.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stol(field);
        if (index == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(fraction * double(values.size() - 1) + 0.5))];
}

// The host's acknowledgement socket, read on a thread of its own: how many acknowledgements came.
class AcknowledgementCounter {
public:
    explicit AcknowledgementCounter(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof(address.sun_path) - 1);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        reader_ = std::thread([this] {
            std::uint8_t bytes[64];
            for (;;) {
                ssize_t count = ::recv(fd_, bytes, sizeof(bytes), 0);
                if (count <= 0 || stopping_)
                    return;
                if (auto message = ScheduledOutputMessage::decode(std::span(bytes, std::size_t(count))))
                    sequenceNumbers_.push_back(message->sequenceNumber);
            }
        });
    }
    ~AcknowledgementCounter() {
        stop();
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    void stop() {
        if (!reader_.joinable())
            return;
        stopping_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        reader_.join();
    }
    // After stop().
    std::size_t countFrom(std::uint64_t first) const {
        return std::size_t(std::count_if(sequenceNumbers_.begin(), sequenceNumbers_.end(),
                                         [&](std::uint64_t sequence) { return sequence >= first; }));
    }

private:
    std::string path_;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::vector<std::uint64_t> sequenceNumbers_;
    std::thread reader_;
};

// Prints the figures of the frames sent from firstMeasured on; false when none reached the app.
bool printFigures(int seconds, const std::map<std::uint64_t, std::int64_t>& sent, std::uint64_t firstMeasured,
                  std::size_t acknowledged, const std::vector<TestCameraConsumer::Frame>& frames,
                  double cpuShare) {
    std::vector<double> latenciesMilliseconds;
    std::size_t damaged = 0;
    for (const auto& frame : frames) {
        auto sentFrame = sent.find(frame.index);
        if (frame.index < firstMeasured || sentFrame == sent.end())
            continue;
        damaged += frame.intact ? 0 : 1;
        latenciesMilliseconds.push_back(double(frame.receivedNanoseconds - sentFrame->second) / 1e6);
    }
    if (latenciesMilliseconds.empty())
        return false;
    const std::size_t sentMeasured = std::size_t(std::count_if(
        sent.begin(), sent.end(), [&](const auto& entry) { return entry.first >= firstMeasured; }));
    std::printf("camera extension, 1920x1080 NV12 at 30 fps for %d s\n", seconds);
    std::printf("  frames sent %zu, acknowledged %zu, received by the app %zu, damaged %zu\n", sentMeasured,
                acknowledged, latenciesMilliseconds.size(), damaged);
    std::printf("  sink to source: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                percentile(latenciesMilliseconds, 0.5), percentile(latenciesMilliseconds, 0.9),
                percentile(latenciesMilliseconds, 0.99), percentile(latenciesMilliseconds, 1.0));
    std::printf("  p99 beyond the 33.3 ms poll: %.2f ms (goal under 5 ms)\n",
                percentile(latenciesMilliseconds, 0.99) - 33.333);
    std::printf("  program CPU: %.1f %% of one core (goal under 5 %%)\n", cpuShare * 100);
    return true;
}

int measure(int seconds) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    AcknowledgementCounter acknowledgements(runtime + "/" +
                                            std::string(ScheduledOutputMessage::socketFileName));
    CameraNotificationListener listener;
    CameraTestChildProcess program(QUILLBRIDGE_CAMERA_EXTENSION_PROGRAM, {"--foreground"},
                                   runtime + "/camera-extension-bench.log");
    if (!listener.waitFor(CameraNotifications::demandStopped, 30s)) {
        std::fprintf(stderr, "the camera extension did not set up:\n%s", program.log().c_str());
        return 1;
    }
    PipeWireTestSession hostSession;
    PipeWireTestSession appSession;
    TestCameraConsumer app(appSession);
    TestCameraProducer host(hostSession);
    if (!listener.waitFor(CameraNotifications::demandStarted, 20s) || !host.waitUntilStreaming(20s)) {
        std::fprintf(stderr, "the streams did not start:\n%s", program.log().c_str());
        return 1;
    }

    std::map<std::uint64_t, std::int64_t> sent;
    std::uint64_t index = 0;
    auto next = std::chrono::steady_clock::now();
    auto sendFor = [&](std::chrono::seconds duration) {
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end) {
            const std::int64_t presentationTime = monotonicNanoseconds();
            if (host.send(index, presentationTime))
                sent[index] = presentationTime;
            ++index;
            next += 33'333us;
            std::this_thread::sleep_until(next);
        }
    };
    sendFor(2s);
    const std::uint64_t firstMeasured = index;
    const long ticksBefore = processTicks(program.pid());
    const auto startedAt = std::chrono::steady_clock::now();
    sendFor(std::chrono::seconds(seconds));
    const double elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    const long ticksAfter = processTicks(program.pid());
    std::this_thread::sleep_for(200ms);
    acknowledgements.stop();

    const double cpuShare =
        double(ticksAfter - ticksBefore) / double(::sysconf(_SC_CLK_TCK)) / elapsedSeconds;
    if (!printFigures(seconds, sent, firstMeasured, acknowledgements.countFrom(firstMeasured), app.frames(),
                      cpuShare)) {
        std::fprintf(stderr, "no frame reached the app:\n%s", program.log().c_str());
        return 1;
    }
    // What the program reported meanwhile, when it reported a failure.
    if (std::string log = program.log(); log.find("error:") != std::string::npos)
        std::printf("  the program logged:\n%s", log.c_str());
    program.stop(SIGTERM);
    return 0;
}

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    if (std::getenv("QUILLBRIDGE_TEST_PIPEWIRE") == nullptr) {
        std::fprintf(stderr, "run me under tests/support/run-desktop-services.sh --pipewire\n");
        return 2;
    }
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    return quillbridge::measure(seconds);
}
