// The host's resident memory over many sessions: the host, composed from its real adapters as the application
// composes it, runs in a process of its own; a headset simulator in this process pairs with it once, then
// runs N sessions of reconnect, streaming the 1920x1080 desktop (H.264, 60 frames a second) while the pointer
// moves and the screen scrolls, and disconnect. Not a test: it prints what it measured.
//
//   tests/e2e/run-e2e-environment.sh BUILD/bench/e2e/quillbridge_session_soak [SESSIONS [SECONDS]]
//
// With QUILLBRIDGE_SOAK_HOST_PREFIX the host runs under another program (see startHostProcess).
// SESSIONS defaults to 20, SECONDS (of streaming in each session) to 2. Printed, in MiB: the idle host's
// resident memory before any session, after each session once the host has let it go, and the peak during
// each session (the kernel's high-water mark of the host process, reset when the session starts). Exit status
// 0 when every session ran, 2 outside the environment, 1 when a session failed.

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <xcb/xcb.h>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "capture/ScreenRecorder.hpp"
#include "e2e/X11PatternWindow.hpp"
#include "platform/linux/host/LinuxHostServices.hpp"
#include "support/HostProcessChannel.hpp"
#include "support/headset/HeadsetSimulator.hpp"
#include "support/headset/HostLocator.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

constexpr auto waitBound = 60s;
constexpr std::uint16_t hostPort = 49555;
constexpr const char* hostAddress = "127.0.0.1";
// How long the host is left alone before its idle memory is read: long enough for what it does after a
// session (the advertisement, deferred releases, giving freed memory back two seconds after it) to have run.
constexpr auto settleTime = 3s;

// ---- The host process -------------------------------------------------------------------------------

// Builds the host and answers: "code DIGITS" (typed into the pairing prompt once it shows), "idle?" ("yes"
// once no headset is connected and nothing streams), "heap?" (kB in use and kB held by malloc), "quit". Says
// "ready" once it listens.
int runHost(int readFd, int writeFd) {
    LineChannel channel(readFd, writeFd);
    EventLoopThread main;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path root =
        std::filesystem::path(config != nullptr ? config : "/tmp") / "quillbridge-session-soak";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    LinuxHostServicesOptions options;
    options.mainActor = main.context.get_executor();
    options.defaultsFile = root / "defaults.json";
    options.dataDirectory = root / "data";
    options.useSecretService = false;
    options.hostDisplayName = "Soak Host";
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
        } else if (*line == "idle?") {
            const bool idle = main.call([&] { return !recorder.isConnected() && !recorder.isRunning(); });
            channel.send(idle ? "yes" : "no");
        } else if (*line == "heap?") {
            // What the allocator hands out (in the arenas and mapped on its own) against what it holds.
            const struct mallinfo2 info = mallinfo2();
            channel.send(std::to_string((info.uordblks + info.hblkhd) / 1024) + " " +
                         std::to_string((info.arena + info.hblkhd) / 1024));
        } else if (*line == "quit") {
            break;
        }
    }
    main.run(recorder.shutdown());
    host.reset();
    channel.send("bye");
    return 0;
}

// ---- The headset side -------------------------------------------------------------------------------

struct HostProcess {
    pid_t pid = -1;
    std::unique_ptr<LineChannel> channel;
};

// QUILLBRIDGE_SOAK_HOST_PREFIX (words split at spaces) runs the host under another program, such as
// "heaptrack -o FILE"; the memory figures are then those of that program's process.
HostProcess startHostProcess() {
    std::vector<std::string> prefix;
    if (const char* words = std::getenv("QUILLBRIDGE_SOAK_HOST_PREFIX")) {
        std::string text(words);
        for (std::size_t start = 0; start < text.size();) {
            const auto end = std::min(text.find(' ', start), text.size());
            if (end > start) {
                prefix.push_back(text.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    // This program by its path: under a prefix, /proc/self/exe would name the prefix's program.
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
        // Descriptors 3 and 4 across exec, the rest closed by it.
        ::dup2(toHost[0], 3);
        ::dup2(fromHost[1], 4);
        char mode[] = "--host";
        std::vector<char*> arguments;
        for (auto& word : prefix) {
            arguments.push_back(word.data());
        }
        arguments.push_back(self.data());
        arguments.push_back(mode);
        arguments.push_back(nullptr);
        ::execvp(arguments.front(), arguments.data());
        std::_Exit(127);
    }
    ::close(toHost[0]);
    ::close(fromHost[1]);
    HostProcess host;
    host.pid = pid;
    host.channel = std::make_unique<LineChannel>(fromHost[0], toHost[1]);
    return host;
}

// A field of /proc/PID/status in kB, or -1.
long statusKilobytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field + ":")) {
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

double mebibytes(long kilobytes) {
    return static_cast<double>(kilobytes) / 1024.0;
}

// Sets the process's high-water mark of resident memory back to its present resident memory.
bool resetPeak(pid_t pid) {
    std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// Moves the X pointer round a circle at 60 steps a second, and scrolls a busy texture over the screen,
// while it lives.
class DesktopMotion {
public:
    explicit DesktopMotion(X11PatternWindow& painter) : painter_(painter) {
        connection_ = xcb_connect(nullptr, nullptr);
        thread_ = std::thread([this] { run(); });
    }
    ~DesktopMotion() {
        stop_ = true;
        thread_.join();
        xcb_disconnect(connection_);
    }

private:
    void run() {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        auto next = std::chrono::steady_clock::now();
        for (int step = 0; !stop_; ++step) {
            const double angle = static_cast<double>(step) * 0.05;
            const auto x = static_cast<std::int16_t>(screen->width_in_pixels / 2 + 400 * std::cos(angle));
            const auto y = static_cast<std::int16_t>(screen->height_in_pixels / 2 + 300 * std::sin(angle));
            xcb_warp_pointer(connection_, XCB_NONE, screen->root, 0, 0, 0, 0, x, y);
            xcb_flush(connection_);
            painter_.drawTexture(step * 6);
            next += std::chrono::nanoseconds(16'666'667);
            std::this_thread::sleep_until(next);
        }
    }

    X11PatternWindow& painter_;
    xcb_connection_t* connection_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class SessionSoak {
public:
    SessionSoak(int sessions, std::chrono::milliseconds streaming)
        : sessions_(sessions), streaming_(streaming) {}

    int run() {
        painter_ = X11PatternWindow::open({0x404040});
        if (!painter_) {
            std::cerr << "The X display cannot be reached (or is not 24 bits deep).\n";
            return 1;
        }
        host_ = startHostProcess();
        if (host_.channel->receive() != "ready") {
            throw std::runtime_error("the host did not start");
        }
        std::this_thread::sleep_for(3s);
        const long neverHadSession = statusKilobytes(host_.pid, "VmRSS");
        std::printf("Host process %d; idle before any session: %.1f MiB\n", static_cast<int>(host_.pid),
                    mebibytes(neverHadSession));

        HeadsetSimulator::Options options;
        options.displayName = "Soak Headset";
        options.responseTimeout = 30s;
        headset_ = headsetLoop_.call([&] {
            return std::make_unique<HeadsetSimulator>(headsetLoop_.context.get_executor(),
                                                      fixedHostLocator(hostAddress, hostPort), options);
        });
        pair();
        waitUntilHostIdle();
        std::this_thread::sleep_for(settleTime);
        std::printf("After pairing: %.1f MiB\n", mebibytes(statusKilobytes(host_.pid, "VmRSS")));
        std::printf("%8s %10s %10s %12s %12s %12s %8s\n", "session", "idle MiB", "peak MiB", "sampled MiB",
                    "heap used", "heap held", "frames");

        long first = 0;
        long last = 0;
        long highest = 0;
        for (int session = 1; session <= sessions_; ++session) {
            const auto figures = runSession();
            if (session == 1) {
                first = figures.idleAfter;
            }
            last = figures.idleAfter;
            highest = std::max(highest, figures.peak);
            std::printf("%8d %10.1f %10.1f %12.1f %12.1f %12.1f %8zu\n", session,
                        mebibytes(figures.idleAfter), mebibytes(figures.peak), mebibytes(figures.sampledPeak),
                        mebibytes(figures.heapInUse), mebibytes(figures.heapHeld), figures.frames);
        }
        std::printf("\nIdle host that never had a session:   %7.1f MiB\n", mebibytes(neverHadSession));
        std::printf("Idle after session 1:                  %7.1f MiB\n", mebibytes(first));
        std::printf("Idle after session %-4d                %7.1f MiB (%+.1f %% of session 1)\n", sessions_,
                    mebibytes(last), 100.0 * static_cast<double>(last - first) / static_cast<double>(first));
        std::printf("Highest peak during a session:         %7.1f MiB\n", mebibytes(highest));
        finish();
        return 0;
    }

private:
    struct SessionFigures {
        long idleAfter = 0;
        long heapInUse = 0;
        long heapHeld = 0;
        long peak = 0;
        long sampledPeak = 0;
        std::size_t frames = 0;
    };

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
        host_.channel->send("code " + *code);
        if (host_.channel->receive() != "ok") {
            throw std::runtime_error("the host took no code");
        }
        if (paired.wait_for(waitBound) != std::future_status::ready) {
            throw std::runtime_error("pairing did not finish");
        }
        paired.get();
        headsetLoop_.run([](HeadsetSimulator& simulator) -> asio::awaitable<void> {
            co_await simulator.disconnect();
        }(headset));
    }

    void waitUntilHostIdle() {
        const auto deadline = std::chrono::steady_clock::now() + waitBound;
        for (;;) {
            host_.channel->send("idle?");
            if (host_.channel->receive() == "yes") {
                return;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                throw std::runtime_error("the host did not let the session go");
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    SessionFigures runSession() {
        SessionFigures figures;
        const bool peakReset = resetPeak(host_.pid);
        std::atomic<bool> sampling{true};
        std::atomic<long> sampled{0};
        std::thread sampler([&] {
            while (sampling) {
                sampled = std::max(sampled.load(), statusKilobytes(host_.pid, "VmRSS"));
                std::this_thread::sleep_for(5ms);
            }
        });
        {
            DesktopMotion motion(*painter_);
            auto& headset = *headset_;
            StreamConfigurationMessage configuration;
            configuration.resolution = CaptureResolutionOption::full;
            configuration.videoCodec = StreamCodec::h264;
            configuration.frameRate = StreamFrameRateOption::fps60;
            configuration.mutesHostAudio = false;
            headsetLoop_.run(
                [](HeadsetSimulator& simulator, StreamConfigurationMessage message) -> asio::awaitable<void> {
                    co_await simulator.reconnect();
                    co_await simulator.send(StreamControlMessage::make<Case::streamConfiguration>(message));
                    co_await simulator.sendReceiverReady();
                    co_await simulator.waitUntil([&] { return simulator.decodedVideoFrameCount() > 0; },
                                                 "a decoded picture");
                }(headset, configuration));
            std::this_thread::sleep_for(streaming_);
            figures.frames = headsetLoop_.call([&] { return headset.receivedVideoFrames().size(); });
            headsetLoop_.run([](HeadsetSimulator& simulator) -> asio::awaitable<void> {
                co_await simulator.disconnect();
            }(headset));
        }
        waitUntilHostIdle();
        sampling = false;
        sampler.join();
        figures.sampledPeak = sampled;
        figures.peak = peakReset ? statusKilobytes(host_.pid, "VmHWM") : sampled.load();
        std::this_thread::sleep_for(settleTime);
        figures.idleAfter = statusKilobytes(host_.pid, "VmRSS");
        host_.channel->send("heap?");
        if (const auto heap = host_.channel->receive()) {
            std::sscanf(heap->c_str(), "%ld %ld", &figures.heapInUse, &figures.heapHeld);
        }
        return figures;
    }

    void finish() {
        headsetLoop_.call([&] {
            headset_.reset();
            return 0;
        });
        host_.channel->send("quit");
        const bool gone = host_.channel->receive() == "bye";
        int status = 0;
        if (!gone) {
            ::kill(host_.pid, SIGKILL);
        }
        ::waitpid(host_.pid, &status, 0);
    }

    const int sessions_;
    const std::chrono::milliseconds streaming_;
    EventLoopThread headsetLoop_;
    std::unique_ptr<X11PatternWindow> painter_;
    HostProcess host_;
    std::unique_ptr<HeadsetSimulator> headset_;
};

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc >= 2 && std::strcmp(argv[1], "--host") == 0) {
        try {
            return quillbridge::runHost(3, 4);
        } catch (const std::exception& error) {
            std::cerr << "soak host: " << error.what() << "\n";
            return 1;
        }
    }
    if (std::getenv("QUILLBRIDGE_TEST_E2E") == nullptr) {
        std::cerr
            << "quillbridge_session_soak needs the private end-to-end environment: run it as\n"
               "  tests/e2e/run-e2e-environment.sh path/to/quillbridge_session_soak [SESSIONS [SECONDS]]\n";
        return 2;
    }
    const int sessions = argc >= 2 ? std::atoi(argv[1]) : 20;
    const double seconds = argc >= 3 ? std::atof(argv[2]) : 2.0;
    if (sessions < 1 || seconds <= 0) {
        std::cerr << "usage: quillbridge_session_soak [SESSIONS [SECONDS]]\n";
        return 2;
    }
    auto* soak =
        new quillbridge::SessionSoak(sessions, std::chrono::milliseconds(std::lround(seconds * 1000)));
    try {
        const int status = soak->run();
        delete soak;
        return status;
    } catch (const std::exception& error) {
        // The host process and the loops are left as they are: the environment ends them with the namespace.
        std::cerr << "quillbridge_session_soak: " << error.what() << "\n";
        std::fflush(nullptr);
        std::_Exit(1);
    }
}
