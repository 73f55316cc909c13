// The headset's microphone on the desktop, end to end: from a microphone chunk the headset sends over real
// QUIC to its samples in a desktop recording application's hands. The host, composed from its real adapters
// as the application composes it, runs in a process of its own; the real microphone program serves the
// virtual microphone under PipeWire; the headset simulator and the recording application (a PipeWire capture
// stream on "quillbridge-microphone") run in this process. Not a test: it prints what it measured.
//
//   tests/e2e/run-e2e-environment.sh --pipewire
//   BUILD/bench/e2e/quillbridge_microphone_chunk_to_recording_bench
//
// (or `cmake --build BUILD --target quillbridge_microphone_chunk_to_recording_bench_run`). The headset sends
// a 480-frame chunk every 10 ms stamped with its capture time on the headset's audio clock (this machine's
// CLOCK_MONOTONIC at the first chunk, as the simulator's clock synchronisation tells the host, then 10 ms a
// chunk, however late the sending runs); every 50th chunk starts with a short pulse. Latency: from just
// before the pulse's chunk is handed to the headset's QUIC stream (loopback transit included, so an upper
// bound of "received by the host") to the recording stream's process callback holding the pulse. The
// reservoir is the buffer the microphone program keeps (its "targetFrames" diagnostics, sampled while
// forwarding; 30 ms at least). Host CPU: the host process's CPU time (it reports its own
// CLOCK_PROCESS_CPUTIME_ID) while chunks flow, against an equal stretch just before with the session
// streaming, the microphone published and the recorder attached but no chunks; the difference is what
// forwarding costs. The microphone program's CPU is shown apart. Exit status 0 when measured, 2 outside the
// environment, 1 when a measurement failed.

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "capture/ScreenRecorder.hpp"
#include "platform/linux/host/LinuxHostServices.hpp"
#include "support/HostProcessChannel.hpp"
#include "support/PipeWirePulseRecorder.hpp"
#include "support/ProcessCpuTime.hpp"
#include "support/headset/HeadsetSimulator.hpp"
#include "support/headset/HostLocator.hpp"
#include "support/microphone/PropertyChannelTestClient.hpp"
#include "virtual_devices/MicrophoneDeviceIdentifiers.hpp"
#include "virtual_devices/MicrophoneDiagnosticsKeys.hpp"
#include "virtual_devices/PropertyChannelMessage.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

constexpr auto waitBound = 60s;
constexpr std::uint16_t hostPort = 49557;
constexpr const char* hostAddress = "127.0.0.1";
constexpr int chunkFrames = 480;
constexpr int chunksPerPulse = 50;
constexpr int warmUpChunks = 200;
constexpr int measuredChunks = 1500;  // 15 s
constexpr auto chunkInterval = 10ms;

std::uint64_t cpuNanoseconds(clockid_t clock) {
    timespec time{};
    clock_gettime(clock, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(time.tv_nsec);
}

// ---- The host process -------------------------------------------------------------------------------

// Builds the host and answers: "code DIGITS" (typed into the pairing prompt once it shows), "running?"
// ("yes" once a headset is connected and the session streams), "cpu?" (the process's CPU time in
// nanoseconds), "quit". Says "ready" once it listens.
int runHost(int readFd, int writeFd) {
    LineChannel channel(readFd, writeFd);
    EventLoopThread main;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path root =
        std::filesystem::path(config != nullptr ? config : "/tmp") / "quillbridge-microphone-bench";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    LinuxHostServicesOptions options;
    options.mainActor = main.context.get_executor();
    options.defaultsFile = root / "defaults.json";
    options.dataDirectory = root / "data";
    options.useSecretService = false;
    options.hostDisplayName = "Microphone Bench Host";
    options.listenPort = hostPort;
    options.bindAddress = hostAddress;
    std::string error;
    auto host = main.call([&] { return LinuxHostServices::create(std::move(options), &error); });
    if (!host) {
        std::cerr << "the host could not be built: " << error << "\n";
        return 1;
    }
    auto& recorder = host->recorder();
    main.run([](ScreenRecorder& recorder) -> asio::awaitable<void> {
        recorder.startHostAvailabilityMonitoring();
        recorder.setLocalNetworkPermissionChecksEnabled(true);
        co_await recorder.checkMandatoryPermissions();
    }(recorder));
    channel.send("ready");
    while (auto line = channel.receive()) {
        if (line->starts_with("code ")) {
            const auto deadline = std::chrono::steady_clock::now() + waitBound;
            while (!main.call([&] { return recorder.pairingPrompt().has_value(); }) &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(10ms);
            }
            main.run(recorder.submitPairingCode(line->substr(5)));
            channel.send("ok");
        } else if (*line == "running?") {
            const bool running = main.call([&] { return recorder.isConnected() && recorder.isRunning(); });
            channel.send(running ? "yes" : "no");
        } else if (*line == "cpu?") {
            channel.send(std::to_string(cpuNanoseconds(CLOCK_PROCESS_CPUTIME_ID)));
        } else if (*line == "quit") {
            break;
        }
    }
    main.run(recorder.shutdown());
    host.reset();
    channel.send("bye");
    return 0;
}

// ---- This side: the headset, the microphone program and the recording application ---------------------

struct ChildProcess {
    pid_t pid = -1;
    std::unique_ptr<LineChannel> channel;
};

// This program again, as the host process, its standard error into the log file.
ChildProcess startHostProcess(const std::string& logPath) {
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    int toHost[2];
    int fromHost[2];
    if (::pipe2(toHost, O_CLOEXEC) != 0 || ::pipe2(fromHost, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipes");
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("no host process");
    }
    if (pid == 0) {
        // Descriptors 3 and 4 across exec, the rest closed by it. Through copies first: a pipe may already
        // sit at 3 or 4, where dup2 onto itself would leave it closed on exec.
        const int input = ::dup(toHost[0]);
        const int output = ::dup(fromHost[1]);
        ::dup2(input, 3);
        ::dup2(output, 4);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            ::dup2(log, STDERR_FILENO);
        }
        char mode[] = "--host";
        char* arguments[] = {self.data(), mode, nullptr};
        ::execv(arguments[0], arguments);
        std::_Exit(127);
    }
    ::close(toHost[0]);
    ::close(fromHost[1]);
    ChildProcess host;
    host.pid = pid;
    host.channel = std::make_unique<LineChannel>(fromHost[0], toHost[1]);
    return host;
}

pid_t startMicrophoneProgram(const std::string& program, const std::string& logPath) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        ::execl(program.c_str(), program.c_str(), "--foreground", static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    return pid;
}

void stopProcess(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(50ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = waitBound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

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

// Whether a UDP socket is bound to the host's port (the listener starts a moment after the host is built).
bool hostListens() {
    char port[8];
    std::snprintf(port, sizeof port, ":%04X ", hostPort);
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream file(table);
        std::string line;
        while (std::getline(file, line)) {
            if (line.find(port) != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// Each pulse's latency to the first arrival after it, in milliseconds: within half the spacing of the pulses,
// so that a lost pulse is counted as lost rather than matched with the next one's arrival.
std::vector<double> pulseLatencies(const std::vector<std::int64_t>& sends,
                                   const std::vector<std::int64_t>& arrivals) {
    constexpr std::int64_t window = chunksPerPulse * 10'000'000 / 2;
    std::vector<double> latencies;
    for (std::int64_t sent : sends) {
        auto arrival = std::find_if(arrivals.begin(), arrivals.end(), [sent](std::int64_t time) {
            return time > sent && time - sent < window;
        });
        if (arrival != arrivals.end()) {
            latencies.push_back(static_cast<double>(*arrival - sent) / 1e6);
        }
    }
    return latencies;
}

// The microphone program's diagnostics value under the key, when it answers with one.
std::optional<std::int64_t> diagnosticsValue(PropertyChannelTestClient& client, std::string_view key) {
    auto answer = client.get(microphone::deviceObjectID, microphone::selector::diagnostics);
    if (!answer || !std::holds_alternative<microphone::PropertyChannelDictionary>(answer->value)) {
        return std::nullopt;
    }
    const auto* value = std::get<microphone::PropertyChannelDictionary>(answer->value).find(key);
    if (value == nullptr || !std::holds_alternative<std::int64_t>(*value)) {
        return std::nullopt;
    }
    return std::get<std::int64_t>(*value);
}

class MicrophoneBench {
public:
    explicit MicrophoneBench(std::string microphoneProgram)
        : microphoneProgram_(std::move(microphoneProgram)) {}

    int run() {
        const std::string runtime =
            std::getenv("XDG_RUNTIME_DIR") != nullptr ? std::getenv("XDG_RUNTIME_DIR") : "/tmp";
        microphone_ = startMicrophoneProgram(microphoneProgram_, runtime + "/microphone-bench-program.log");
        host_ = startHostProcess(runtime + "/microphone-bench-host.log");
        if (host_.channel->receive() != "ready") {
            throw std::runtime_error("the host did not start");
        }
        if (!waitUntil(hostListens)) {
            throw std::runtime_error("the host does not listen");
        }
        HeadsetSimulator::Options options;
        options.displayName = "Microphone Bench Headset";
        options.responseTimeout = 30s;
        headset_ = headsetLoop_.call([&] {
            return std::make_unique<HeadsetSimulator>(headsetLoop_.context.get_executor(),
                                                      fixedHostLocator(hostAddress, hostPort), options);
        });
        auto& headset = *headset_;
        pair();
        headsetLoop_.run([](HeadsetSimulator& simulator) -> asio::awaitable<void> {
            co_await simulator.send(
                StreamControlMessage::make<StreamControlMessage::Case::streamConfiguration>(
                    StreamConfigurationMessage{}));
            co_await simulator.sendReceiverReady();
        }(headset));
        if (!waitUntil([&] { return host_.channel->ask("running?") == "yes"; })) {
            throw std::runtime_error("the host did not start streaming");
        }
        headsetLoop_.run(headset.sendMicrophoneSharingState(true));
        if (!waitUntil(microphoneNodeExists)) {
            throw std::runtime_error("the host did not publish Quillbridge Microphone");
        }
        PipeWirePulseRecorder recorder;
        if (!recorder.start()) {
            throw std::runtime_error("the recording stream could not start");
        }
        if (!waitUntil(
                [&] { return headsetLoop_.call([&] { return headset.microphoneRequested(); }) == true; })) {
            throw std::runtime_error(
                "the recording application did not make the host ask for the microphone");
        }
        headsetLoop_.run(headset.sendMicrophoneFormat(MicrophoneFormatMessage{48000, 1}));
        diagnostics_ =
            PropertyChannelTestClient::connectWhenReady(PropertyChannelTestClient::defaultPath(), 10s);

        // The same stretch without chunks, then with them.
        const auto measuredTime = measuredChunks * chunkInterval;
        std::this_thread::sleep_for(2s);
        const auto idle = cpuOver([&] { std::this_thread::sleep_for(measuredTime); });
        Forwarding forwarding;
        const auto busy = cpuOver([&] { forwarding = forward(); });
        std::this_thread::sleep_for(300ms);

        const auto latencies = pulseLatencies(forwarding.pulseSends, recorder.pulseArrivals());
        std::printf(
            "headset microphone chunk to samples recorded, 480-frame chunks every 10 ms over QUIC "
            "(loopback), PipeWire quantum 512 frames\n");
        std::printf(
            "  pulses sent %zu, recorded within 250 ms %zu (lost %zu); chunks sent late (over 5 ms "
            "behind) %d\n",
            forwarding.pulseSends.size(), latencies.size(), forwarding.pulseSends.size() - latencies.size(),
            forwarding.lateChunks);
        if (latencies.size() < forwarding.pulseSends.size() / 2 || latencies.empty()) {
            std::fprintf(stderr, "too few pulses were recorded\n");
            finish();
            return 1;
        }
        const double median = percentile(latencies, 0.5);
        std::printf("  chunk sent to sample recorded: min %.1f ms, p50 %.1f ms, p90 %.1f ms, max %.1f ms\n",
                    percentile(latencies, 0), median, percentile(latencies, 0.9), percentile(latencies, 1));
        std::printf("  each pulse, in order (ms):");
        for (const double latency : latencies) {
            std::printf(" %.0f", latency);
        }
        std::printf("\n");
        if (!forwarding.reservoirFrames.empty()) {
            std::vector<double> reservoir;
            for (const auto frames : forwarding.reservoirFrames) {
                reservoir.push_back(static_cast<double>(frames) / 48.0);
            }
            const double reservoirMedian = percentile(reservoir, 0.5);
            std::printf(
                "  reservoir (the microphone program's target buffer): median %.1f ms (min %.1f, max "
                "%.1f), %.0f %% of the p50 latency\n",
                reservoirMedian, percentile(reservoir, 0), percentile(reservoir, 1),
                100 * reservoirMedian / median);
        } else {
            std::printf("  reservoir: the microphone program's diagnostics did not answer\n");
        }
        const double idleSeconds = static_cast<double>(idle.wall) / 1e9;
        const double busySeconds = static_cast<double>(busy.wall) / 1e9;
        const double hostIdle = 100.0 * static_cast<double>(idle.host) / static_cast<double>(idle.wall);
        const double hostBusy = 100.0 * static_cast<double>(busy.host) / static_cast<double>(busy.wall);
        std::printf(
            "  host process CPU: %.2f %% of one core while forwarding (%.1f s), %.2f %% over %.1f s "
            "before it without chunks: forwarding costs %.2f %% of one core\n",
            hostBusy, busySeconds, hostIdle, idleSeconds, hostBusy - hostIdle);
        std::printf("  microphone program CPU: %.2f %% of one core while forwarding, %.2f %% before it\n",
                    100.0 * static_cast<double>(busy.microphone) / static_cast<double>(busy.wall),
                    100.0 * static_cast<double>(idle.microphone) / static_cast<double>(idle.wall));
        if (diagnostics_) {
            for (const auto key :
                 {microphone::diagnosticsKey::underflows, microphone::diagnosticsKey::overflows}) {
                if (const auto value = diagnosticsValue(*diagnostics_, key)) {
                    std::printf("  microphone program %s: %lld\n", std::string(key).c_str(),
                                static_cast<long long>(*value));
                }
            }
        }
        finish();
        return 0;
    }

private:
    struct CpuFigures {
        std::uint64_t wall = 0;
        std::uint64_t host = 0;
        std::uint64_t microphone = 0;
    };

    struct Forwarding {
        std::vector<std::int64_t> pulseSends;
        std::vector<std::int64_t> reservoirFrames;
        int lateChunks = 0;
    };

    template <class Function>
    CpuFigures cpuOver(Function body) {
        const auto microphoneCpu = [&] {
            return processCpuNanoseconds(std::to_string(microphone_)).value_or(0);
        };
        const auto hostCpu = [&] { return std::stoull(host_.channel->ask("cpu?")); };
        const std::uint64_t hostBefore = hostCpu();
        const std::uint64_t microphoneBefore = microphoneCpu();
        const auto start = monotonicNanoseconds();
        body();
        CpuFigures figures;
        figures.wall = static_cast<std::uint64_t>(monotonicNanoseconds() - start);
        figures.host = hostCpu() - hostBefore;
        figures.microphone = microphoneCpu() - microphoneBefore;
        return figures;
    }

    // Sends the chunks at their pace. The first ones carry no pulse, while the host's media clock and the
    // program's reader settle; the CPU window spans them all.
    Forwarding forward() {
        Forwarding forwarding;
        std::mutex reservoirLock;
        std::atomic<bool> sampling{true};
        // The reservoir, read off the chunks' path every 250 ms once the warm-up is over.
        std::thread sampler([&] {
            std::this_thread::sleep_for(warmUpChunks * chunkInterval);
            while (sampling && diagnostics_) {
                if (const auto frames =
                        diagnosticsValue(*diagnostics_, microphone::diagnosticsKey::targetFrames)) {
                    std::lock_guard lock(reservoirLock);
                    forwarding.reservoirFrames.push_back(*frames);
                }
                std::this_thread::sleep_for(250ms);
            }
        });
        auto& headset = *headset_;
        std::vector<float> silence(chunkFrames, 0.0f);
        std::vector<float> pulse(chunkFrames, 0.0f);
        std::fill(pulse.begin(), pulse.begin() + 16, 1.0f);
        auto next = std::chrono::steady_clock::now();
        // The headset's audio clock: the first chunk's capture time, then 10 ms more for each chunk, however
        // late the sending runs.
        const std::int64_t firstCaptureTime = monotonicNanoseconds();
        for (int index = 0; index < measuredChunks; ++index) {
            const bool isPulse = index >= warmUpChunks && index % chunksPerPulse == chunksPerPulse / 2;
            const auto& samples = isPulse ? pulse : silence;
            const auto sent = headsetLoop_.run([](HeadsetSimulator& simulator, std::uint64_t chunkID,
                                                  std::uint64_t captureTime, std::span<const float> samples)
                                                   -> asio::awaitable<std::int64_t> {
                const std::int64_t now = monotonicNanoseconds();
                co_await simulator.sendMicrophoneChunk(chunkID, captureTime, samples);
                co_return now;
            }(headset, nextChunkID_++, static_cast<std::uint64_t>(firstCaptureTime + index * 10'000'000LL),
                                                   samples));
            if (isPulse) {
                forwarding.pulseSends.push_back(sent);
            }
            next += chunkInterval;
            if (std::chrono::steady_clock::now() - next > 5ms) {
                ++forwarding.lateChunks;
            }
            std::this_thread::sleep_until(next);
        }
        sampling = false;
        sampler.join();
        return forwarding;
    }

    void pair() {
        auto& headset = *headset_;
        auto paired = asio::co_spawn(
            headsetLoop_.context,
            [](HeadsetSimulator& simulator) -> asio::awaitable<void> {
                co_await simulator.connect();
                co_await simulator.pair();
            }(headset),
            asio::use_future);
        std::optional<std::string> code;
        const auto deadline = std::chrono::steady_clock::now() + waitBound;
        while (!code && std::chrono::steady_clock::now() < deadline &&
               paired.wait_for(10ms) != std::future_status::ready) {
            code = headsetLoop_.call([&] { return headset.pairingCode(); });
        }
        if (!code) {
            paired.get();
            throw std::runtime_error("the headset never showed a pairing code");
        }
        if (host_.channel->ask("code " + *code) != "ok") {
            throw std::runtime_error("the host took no code");
        }
        if (paired.wait_for(waitBound) != std::future_status::ready) {
            throw std::runtime_error("pairing did not finish");
        }
        paired.get();
    }

    void finish() {
        diagnostics_.reset();
        headsetLoop_.call([&] {
            headset_.reset();
            return 0;
        });
        host_.channel->send("quit");
        if (host_.channel->receive() != "bye") {
            ::kill(host_.pid, SIGKILL);
        }
        ::waitpid(host_.pid, nullptr, 0);
        stopProcess(microphone_);
    }

    std::string microphoneProgram_;
    pid_t microphone_ = -1;
    EventLoopThread headsetLoop_;
    ChildProcess host_;
    std::unique_ptr<HeadsetSimulator> headset_;
    std::unique_ptr<PropertyChannelTestClient> diagnostics_;
    std::uint64_t nextChunkID_ = 1;
};

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc >= 2 && std::strcmp(argv[1], "--host") == 0) {
        try {
            return quillbridge::runHost(3, 4);
        } catch (const std::exception& error) {
            std::cerr << "microphone bench host: " << error.what() << "\n";
            return 1;
        }
    }
    if (std::getenv("QUILLBRIDGE_TEST_E2E") == nullptr ||
        std::getenv("QUILLBRIDGE_TEST_PIPEWIRE") == nullptr) {
        std::cerr << "run it as tests/e2e/run-e2e-environment.sh --pipewire "
                     "path/to/quillbridge_microphone_chunk_to_recording_bench [MICROPHONE_PROGRAM]\n";
        return 2;
    }
    auto* bench = new quillbridge::MicrophoneBench(argc >= 2 ? argv[1] : QUILLBRIDGE_MICROPHONE_PROGRAM);
    try {
        const int status = bench->run();
        delete bench;
        return status;
    } catch (const std::exception& error) {
        // The processes and the loops are left as they are: the environment ends them with the namespace.
        std::cerr << "quillbridge_microphone_chunk_to_recording_bench: " << error.what() << "\n";
        std::fflush(nullptr);
        std::_Exit(1);
    }
}
