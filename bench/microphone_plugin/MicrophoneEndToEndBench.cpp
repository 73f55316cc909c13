// End-to-end figures of the microphone program against a private PipeWire session: the latency from a
// packet written on the property channel to its first sample in a recording application's hands, with the
// reader's target at 1440 frames (30 ms), and the program's CPU time while an application records. Not a
// test: it prints what it measured.
//
//   tests/support/run-desktop-services.sh --pipewire --
//   BUILD/bench/microphone_plugin/quillbridge_microphone_end_to_end_bench
//
// (or `cmake --build BUILD --target quillbridge_microphone_end_to_end_bench_run`). The host side writes a
// 480-frame packet every 10 ms, renews the lease every 500 ms, and every 500 ms one packet starts with a
// short pulse; the time is taken just before the packet is sent. The recording side is a PipeWire capture
// stream linked to the node, which takes the time (CLOCK_MONOTONIC) when its process callback receives the
// buffer holding the pulse. CPU: the program's user and system time from /proc over the recording's
// steady part, as a share of one core. Exits 0 when measured, 2 outside the PipeWire session, 1 when a
// measurement failed.

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/PipeWirePulseRecorder.hpp"
#include "support/microphone/PropertyChannelTestClient.hpp"
#include "virtual_devices/MicrophoneDiagnosticsKeys.hpp"
#include "virtual_devices/MicrophonePacket.hpp"

using namespace quillbridge;
using namespace quillbridge::microphone;

namespace {

constexpr int packetFrames = 480;
constexpr int packetsPerPulse = 50;
constexpr int packetCount = 1200;  // 12 s
constexpr int warmUpPackets = 200;

// User plus system time, in clock ticks, from a /proc stat file (a process's or a thread's).
long statTicks(const std::string& path) {
    std::ifstream file(path);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (text.rfind(')') == std::string::npos) {
        return 0;
    }
    std::istringstream stream(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; stream >> field; ++index) {
        if (index == 14 || index == 15) {
            ticks += std::stol(field);
        }
    }
    return ticks;
}

// The process's CPU time in clock ticks: all of it, and that of its property channel thread.
struct ProgramTicks {
    long total = 0;
    long channel = 0;
};

ProgramTicks programTicks(pid_t pid) {
    ProgramTicks ticks;
    std::string base = "/proc/" + std::to_string(pid);
    ticks.total = statTicks(base + "/stat");
    for (const auto& task : std::filesystem::directory_iterator(base + "/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "qb-mic-channel") {
            ticks.channel += statTicks((task.path() / "stat").string());
        }
    }
    return ticks;
}

// The PipeWire daemon's CPU time, for comparison: it too wakes for every graph cycle.
long daemonTicks() {
    long ticks = 0;
    for (const auto& process : std::filesystem::directory_iterator("/proc")) {
        std::ifstream comm(process.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "pipewire") {
            ticks += statTicks((process.path() / "stat").string());
        }
    }
    return ticks;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

std::vector<std::uint8_t> packet(std::uint64_t firstFrame, bool pulse) {
    std::vector<float> samples(packetFrames, 0.0f);
    if (pulse) {
        std::fill(samples.begin(), samples.begin() + 16, 1.0f);
    }
    return encodeMicrophonePacket(MicrophonePacketHeader{1, 0, firstFrame * 20833, 0, 1440},
                                  std::span<const float>(samples));
}

// What the host's side did and what it cost the program meanwhile.
struct HostRun {
    bool realTime = false;
    int droppedPackets = 0;
    std::vector<std::int64_t> pulseWrites;
    double cpuSeconds = 0;
    double channelSeconds = 0;
    double daemonSeconds = 0;
    double wallSeconds = 0;
};

// The host's side: a packet every 10 ms at real-time priority where it may, keeping at most 2880 frames of
// backlog as the host's microphone mailbox does (after a stall it drops the packets it is late with instead
// of bursting); CPU times are taken after the warm-up.
HostRun writeAsTheHost(PropertyChannelTestClient& client, pid_t program) {
    HostRun run;
    sched_param priority{};
    priority.sched_priority = 50;
    run.realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
    ProgramTicks ticksAtStart;
    long daemonTicksAtStart = 0;
    std::int64_t cpuStart = 0;
    auto next = std::chrono::steady_clock::now();
    for (int index = 0; index < packetCount; ++index) {
        if (index == warmUpPackets) {
            ticksAtStart = programTicks(program);
            daemonTicksAtStart = daemonTicks();
            cpuStart = monotonicNanoseconds();
        }
        bool pulse = index % packetsPerPulse == packetsPerPulse / 2;
        if (pulse) {
            run.pulseWrites.push_back(monotonicNanoseconds());
        }
        client.writePacket(packet(static_cast<std::uint64_t>(index) * packetFrames, pulse));
        if (index % packetsPerPulse == 0) {
            client.setAcquired(true);
        }
        next += std::chrono::milliseconds(10);
        while (std::chrono::steady_clock::now() - next > std::chrono::milliseconds(60) &&
               index + 1 < packetCount) {
            next += std::chrono::milliseconds(10);
            ++index;
            ++run.droppedPackets;
        }
        std::this_thread::sleep_until(next);
    }
    ProgramTicks ticksAtEnd = programTicks(program);
    double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    run.cpuSeconds = static_cast<double>(ticksAtEnd.total - ticksAtStart.total) * tick;
    run.channelSeconds = static_cast<double>(ticksAtEnd.channel - ticksAtStart.channel) * tick;
    run.daemonSeconds = static_cast<double>(daemonTicks() - daemonTicksAtStart) * tick;
    run.wallSeconds = static_cast<double>(monotonicNanoseconds() - cpuStart) / 1e9;
    return run;
}

// Each written pulse's latency to its first arrival within a second, in milliseconds.
std::vector<double> pulseLatencies(const std::vector<std::int64_t>& writes,
                                   const std::vector<std::int64_t>& arrivals) {
    std::vector<double> latencies;
    for (std::int64_t written : writes) {
        auto arrival = std::find_if(arrivals.begin(), arrivals.end(), [written](std::int64_t time) {
            return time > written && time - written < 1'000'000'000;
        });
        if (arrival != arrivals.end()) {
            latencies.push_back(static_cast<double>(*arrival - written) / 1e6);
        }
    }
    return latencies;
}

void printFigures(const HostRun& run, const std::vector<double>& latencies,
                  const std::optional<PropertyChannelResponse>& diagnostics) {
    std::printf(
        "  packet written to sample recorded: min %.1f ms, median %.1f ms, p90 %.1f ms, max %.1f ms\n",
        percentile(latencies, 0), percentile(latencies, 0.5), percentile(latencies, 0.9),
        percentile(latencies, 1));
    std::printf("  each pulse, in order (ms):");
    for (double latency : latencies) {
        std::printf(" %.0f", latency);
    }
    std::printf(
        "\n  program CPU while recording: %.2f %% of one core (%.2f s over %.1f s), of which the property "
        "channel's thread %.2f %%\n",
        100 * run.cpuSeconds / run.wallSeconds, run.cpuSeconds, run.wallSeconds,
        100 * run.channelSeconds / run.wallSeconds);
    std::printf("  for comparison, the PipeWire daemon over the same time: %.2f %% of one core\n",
                100 * run.daemonSeconds / run.wallSeconds);
    if (diagnostics && std::holds_alternative<PropertyChannelDictionary>(diagnostics->value)) {
        const auto& dictionary = std::get<PropertyChannelDictionary>(diagnostics->value);
        for (auto key : {diagnosticsKey::underflows, diagnosticsKey::overflows, diagnosticsKey::readFrames,
                         diagnosticsKey::writeFrames, diagnosticsKey::queuedFrames}) {
            if (const auto* value = dictionary.find(key)) {
                std::printf("  %s: %lld\n", std::string(key).c_str(),
                            static_cast<long long>(std::get<std::int64_t>(*value)));
            }
        }
    }
}

int measure(pid_t program) {
    auto client = PropertyChannelTestClient::connectWhenReady(PropertyChannelTestClient::defaultPath(),
                                                              std::chrono::seconds(10));
    if (!client || !client->setAcquired(true)) {
        std::fprintf(stderr, "the program did not answer on its property channel\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    PipeWirePulseRecorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "the recording stream could not start\n");
        return 1;
    }
    auto running = [&client] {
        auto answer = client->get(deviceObjectID, selector::isRunning);
        return answer && answer->value == PropertyChannelValue(1u);
    };
    for (int attempt = 0; attempt < 200 && !running(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!running()) {
        std::fprintf(stderr, "the recording stream never started the microphone\n");
        return 1;
    }
    HostRun run = writeAsTheHost(*client, program);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto latencies = pulseLatencies(run.pulseWrites, recorder.pulseArrivals());
    std::printf("microphone end to end, target 1440 frames (30.0 ms), 480-frame packets every 10 ms\n");
    std::printf("  writer %s, packets dropped after writer stalls %d\n",
                run.realTime ? "at real-time priority" : "at normal priority", run.droppedPackets);
    std::printf("  pulses written %zu, recorded %zu, frames recorded %llu\n", run.pulseWrites.size(),
                latencies.size(), static_cast<unsigned long long>(recorder.framesReceived()));
    if (latencies.size() < run.pulseWrites.size() / 2 || latencies.empty()) {
        std::fprintf(stderr, "too few pulses were recorded\n");
        return 1;
    }
    printFigures(run, latencies, client->get(deviceObjectID, selector::diagnostics));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QUILLBRIDGE_TEST_PIPEWIRE") == nullptr) {
        std::fprintf(stderr, "run inside tests/support/run-desktop-services.sh --pipewire\n");
        return 2;
    }
    std::string programPath = argc > 1 ? argv[1] : QUILLBRIDGE_MICROPHONE_PROGRAM;
    std::string logPath = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/quillbridge-microphone-bench.log";
    pid_t program = fork();
    if (program == 0) {
        std::FILE* log = std::fopen(logPath.c_str(), "w");
        if (log != nullptr) {
            dup2(fileno(log), STDERR_FILENO);
        }
        execl(programPath.c_str(), programPath.c_str(), "--foreground", static_cast<char*>(nullptr));
        _exit(127);
    }
    int result = measure(program);
    kill(program, SIGTERM);
    int status = 0;
    waitpid(program, &status, 0);
    return result;
}
