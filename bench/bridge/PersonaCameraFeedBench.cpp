// Figures of the host's feed of the virtual camera at 1080p30: decoded Persona frames given to the feeder,
// copied into the camera's format and queued on the camera program's PipeWire sink at their presentation
// time, until an app's consumer on the camera's source node has them. Not a test: it prints what it measured.
//
//   tests/support/run-desktop-services.sh --pipewire --
//   BUILD/bench/bridge/quillbridge_persona_camera_feed_bench [SECONDS] [LEAD-MS]
//
// Measured, after two seconds of warm-up, over SECONDS (20 by default), with frames due LEAD-MS (0 by
// default) after they are given to the feeder, as the media clock stamps them:
// - feeder to app, per frame: from the moment the frame is given to the feeder to the moment the app has it
//   (every pixel checked); the presentation lead is part of it and reported as its share. Decoding comes
//   before this and is measured by quillbridge_bridge_bench.
// - the host's added CPU: the CPU time of the feeder's queue and PipeWire threads (every thread of this
// program
//   but the main thread, which makes the frames, and the app's PipeWire thread), as a share of one core.
// Exits with 0 when the figures are out, 2 outside the environment and 1 when a measurement could not be
// made.

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/QueuedPersonaVirtualCameraFeeder.hpp"
#include "core/SerialQueue.hpp"
#include "core/SteadyClock.hpp"
#include "platform/linux/pipewire/PipeWirePersonaCameraSink.hpp"
#include "support/camera_extension/CameraNotificationListener.hpp"
#include "support/camera_extension/CameraTestChildProcess.hpp"
#include "support/camera_extension/PipeWireTestCamera.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;
using namespace std::chrono_literals;

// The name and utime + stime (clock ticks) of one thread of this process.
std::pair<std::string, long> threadTicks(const std::string& tid) {
    std::ifstream file("/proc/self/task/" + tid + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), {});
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos)
        return {"", 0};
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14 || index == 15)
            ticks += std::stol(field);
        if (index == 15)
            break;
    }
    return {stat.substr(open + 1, close - open - 1), ticks};
}

// CPU ticks of every thread but the main one and those named `excluded`.
long hostTicks(const std::string& excluded) {
    long total = 0;
    if (DIR* directory = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(directory)) {
            const std::string tid = entry->d_name;
            if (tid == "." || tid == ".." || tid == std::to_string(::getpid()))
                continue;
            auto [name, ticks] = threadTicks(tid);
            if (name != excluded)
                total += ticks;
        }
        ::closedir(directory);
    }
    return total;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(fraction * double(values.size() - 1) + 0.5))];
}

DecodedPersonaCameraFrame testFrame(std::uint64_t index, std::int64_t presentationTimeNanoseconds) {
    DecodedPersonaCameraFrame frame;
    frame.width = int(Ids::widthPixels);
    frame.height = int(Ids::heightPixels);
    frame.lumaPlane.resize(Ids::lumaByteCount);
    frame.chromaPlane.resize(Ids::chromaByteCount);
    CameraTestFrames::fill(MutableCameraImage{frame.lumaPlane.data(), Ids::lumaRowByteCount,
                                              frame.chromaPlane.data(), Ids::chromaRowByteCount},
                           index);
    frame.presentationTimeNanoseconds = presentationTimeNanoseconds;
    frame.durationNanoseconds = 33'333'333;
    return frame;
}

int measure(int seconds, int leadMilliseconds) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    CameraNotificationListener listener;
    CameraTestChildProcess program(QUILLBRIDGE_CAMERA_EXTENSION_PROGRAM, {"--foreground"},
                                   runtime + "/camera-extension-feed-bench.log");
    if (!listener.waitFor(CameraNotifications::demandStopped, 30s)) {
        std::fprintf(stderr, "the camera extension did not set up:\n%s", program.log().c_str());
        return 1;
    }
    PipeWireTestSession appSession;
    TestCameraConsumer app(appSession);
    if (!listener.waitFor(CameraNotifications::demandStarted, 20s)) {
        std::fprintf(stderr, "the app did not start recording:\n%s", program.log().c_str());
        return 1;
    }
    SteadyClock clock;
    SerialQueue queue("persona-camera-feeder");
    auto feeder = QueuedPersonaVirtualCameraFeeder::create(queue.executor(), clock,
                                                           std::make_unique<PipeWirePersonaCameraSink>());
    feeder->setWantsToFeed(true);
    const auto connectDeadline = std::chrono::steady_clock::now() + 20s;
    while (!queue.sync([&] { return feeder->isConnected(); })) {
        if (std::chrono::steady_clock::now() > connectDeadline) {
            std::fprintf(stderr, "the feeder did not connect:\n%s", program.log().c_str());
            return 1;
        }
        std::this_thread::sleep_for(20ms);
    }

    std::map<std::uint64_t, std::int64_t> given;
    std::uint64_t index = 0;
    auto next = std::chrono::steady_clock::now();
    auto feedFor = [&](std::chrono::seconds duration) {
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end) {
            // Made before it is timed: the frame's making is the decoder's work, not the feed's.
            DecodedPersonaCameraFrame frame = testFrame(index, 0);
            const std::int64_t now = monotonicNanoseconds();
            frame.presentationTimeNanoseconds = now + std::int64_t(leadMilliseconds) * 1'000'000;
            given[index] = now;
            feeder->submit(std::move(frame));
            ++index;
            next += 33'333us;
            std::this_thread::sleep_until(next);
        }
    };
    feedFor(2s);
    const std::uint64_t firstMeasured = index;
    const long ticksBefore = hostTicks("camera-test");
    const auto startedAt = std::chrono::steady_clock::now();
    feedFor(std::chrono::seconds(seconds));
    const double elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    const long ticksAfter = hostTicks("camera-test");
    std::this_thread::sleep_for(300ms);
    const std::size_t pendingAtEnd = queue.sync([&] { return feeder->pendingSampleCount(); });
    feeder->setWantsToFeed(false);
    queue.sync([&] { feeder.reset(); });

    std::vector<double> latencies;
    std::size_t damaged = 0;
    for (const auto& frame : app.frames()) {
        auto entry = given.find(frame.index);
        if (frame.index < firstMeasured || entry == given.end())
            continue;
        damaged += frame.intact ? 0 : 1;
        latencies.push_back(double(frame.receivedNanoseconds - entry->second) / 1e6);
    }
    if (latencies.empty()) {
        std::fprintf(stderr,
                     "no frame reached the app (%zu frames before, %zu unacknowledged at the end):\n%s",
                     app.frames().size(), pendingAtEnd, program.log().c_str());
        return 1;
    }
    const double cpuShare =
        double(ticksAfter - ticksBefore) / double(::sysconf(_SC_CLK_TCK)) / elapsedSeconds;
    const double p50 = percentile(latencies, 0.5);
    std::printf("Persona camera feed, 1920x1080 NV12 at 30 fps for %d s, presentation lead %d ms\n", seconds,
                leadMilliseconds);
    std::printf("  frames given %zu, received by the app %zu, damaged %zu, unacknowledged at the end %zu\n",
                std::size_t(index - firstMeasured), latencies.size(), damaged, pendingAtEnd);
    std::printf("  feeder to app: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n", p50,
                percentile(latencies, 0.9), percentile(latencies, 0.99), percentile(latencies, 1.0));
    std::printf("  presentation lead's share of the p50: %.0f %%\n",
                p50 > 0 ? 100.0 * leadMilliseconds / p50 : 0.0);
    std::printf("  host threads' CPU (feeder queue, PipeWire): %.1f %% of one core\n", cpuShare * 100);
    program.stop(SIGTERM);
    return 0;
}

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    if (std::getenv("QUILLBRIDGE_TEST_PIPEWIRE") == nullptr) {
        std::fprintf(stderr, "run it under tests/support/run-desktop-services.sh --pipewire\n");
        return 2;
    }
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int lead = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
    return quillbridge::measure(seconds, lead);
}
