// End-to-end figures of the host as the application builds it from its real adapters, met by the headset
// simulator over loopback inside the private end-to-end environment (its own network namespace, avahi-daemon,
// Xvfb at 1920x1080, PulseAudio with a null sink). Not a test: it prints what it measured.
//
//   tests/e2e/run-e2e-environment.sh BUILD/bench/e2e/quillbridge_e2e_bench
//
// (or `cmake --build BUILD --target quillbridge_e2e_bench_run`). It exits with 0 when everything went well, 2
// outside the environment, 1 when a measurement could not be made, and 3 when the figures are out but the
// host did not shut down in time. QUILLBRIDGE_E2E_BENCH_TRACE=FILE writes the raw times behind the latencies.
// Measured at the size of the screen and the frame rate the capture runs at (both printed; 1920x1080 at 60 in
// the environment), with H.264 (x264), or HEVC (x265) with QUILLBRIDGE_E2E_BENCH_CODEC=hevc:
// - glass to grab, wire and decoded: a patch on the screen changes colour (the colour marks the change); the
//   time is taken just before the fill is sent to the X server. "Grab" is the captured frame's timestamp,
//   "wire" the first large UDP send of the host's socket after that grab (the first packet of the frame's
//   payload handed to the kernel), "decoded" the moment the simulator's decoder gave out the picture
//   showing the new colour.
// - the host's CPU time while the whole screen scrolls a busy texture at 60 frames a second and a tone
//   plays: the process's CPU time less the simulator's threads (its event loop, which decodes the video
//   and audio, and its QUIC engine thread) and less this program's own drawing, tone and bookkeeping
//   threads. The X server's own CPU time is shown apart.
// - audio capture to datagram: from the capture timestamp a chunk carries to its arrival at the simulator
//   (loopback, after the simulator's AAC decode of it, which takes microseconds).

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "HostSendLog.hpp"
#include "capture/DisplayCaptureConfigurator.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/FrameStageTrace.hpp"
#include "e2e/PulseTonePlayer.hpp"
#include "e2e/X11PatternWindow.hpp"
#include "platform/linux/avahi/AvahiServiceBrowser.hpp"
#include "platform/linux/host/LinuxHostServices.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/HostProcessChannel.hpp"
#include "support/ProcessCpuTime.hpp"
#include "support/headset/HeadsetSimulator.hpp"
#include "support/headset/ServiceBrowserHostLocator.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

constexpr auto waitBound = 60s;
constexpr auto teardownBound = 30s;
// The changes measured for latency, and the pause before each (a random part keeps the changes from
// falling at one phase of the capture's frame clock).
constexpr int changeCount = 240;
constexpr auto changeSpacing = 60ms;
constexpr auto changeJitter = 17ms;
// The streaming period the CPU time is measured over, after a warm-up.
constexpr auto loadWarmUp = 2s;
constexpr auto loadPeriod = 10s;
// A send at least this large is taken for video payload. While only the patch changes, the frames carrying
// it go out as one segmented send of about 1 to 3 kB, while audio datagrams (no sound plays then),
// acknowledgements and control messages stay under about 450 bytes.
constexpr std::size_t videoSendThreshold = 800;

// The patch that changes colour, in screen pixels.
constexpr int patchX = 832;
constexpr int patchY = 412;
constexpr int patchSize = 256;
// Well apart from each other after 4:2:0 compression; consecutive changes never repeat a colour.
constexpr std::uint32_t palette[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
constexpr int paletteSize = static_cast<int>(std::size(palette));

std::uint64_t monotonicNanoseconds() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(time.tv_nsec);
}

std::uint64_t cpuNanoseconds(clockid_t clock) {
    timespec time{};
    if (clock_gettime(clock, &time) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(time.tv_nsec);
}

std::uint64_t threadCpuNanoseconds(std::thread& thread) {
    clockid_t clock{};
    if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0) {
        return 0;
    }
    return cpuNanoseconds(clock);
}

struct DecodedPicture {
    std::uint64_t timeNanoseconds = 0;
    std::uint64_t presentationTimeNanoseconds = 0;
    // Index into the palette, or -1 when the patch shows none of its colours.
    int colour = -1;
};

struct ArrivedChunk {
    std::uint64_t timeNanoseconds = 0;
    std::uint64_t presentationTimeNanoseconds = 0;
};

// What the simulator's event loop notes of each decoded picture and each audio chunk, the moment the
// simulator has it. Touched only on that loop.
struct HeadsetRecords {
    std::vector<DecodedPicture> pictures;
    std::vector<ArrivedChunk> chunks;
    std::size_t seenPictures = 0;
    std::size_t seenChunks = 0;
};

int nearestPaletteColour(const DecodedVideoFrame::Rgb& colour) {
    int best = -1;
    int bestDistance = 3 * 60 * 60;
    for (int index = 0; index < paletteSize; ++index) {
        const int red = static_cast<int>((palette[index] >> 16) & 0xFF) - colour.red;
        const int green = static_cast<int>((palette[index] >> 8) & 0xFF) - colour.green;
        const int blue = static_cast<int>(palette[index] & 0xFF) - colour.blue;
        const int distance = red * red + green * green + blue * blue;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = index;
        }
    }
    return best;
}

void noteNewRecords(const HeadsetSimulator& headset, HeadsetRecords& records, int screenWidth,
                    int screenHeight) {
    const std::uint64_t now = monotonicNanoseconds();
    const std::size_t decoded = headset.decodedVideoFrameCount();
    if (decoded > records.seenPictures) {
        const auto& frames = headset.decodedVideoFrames();
        const std::size_t fresh = std::min(decoded - records.seenPictures, frames.size());
        for (std::size_t index = frames.size() - fresh; index < frames.size(); ++index) {
            const auto& frame = frames[index];
            // The middle of the patch, scaled to the picture.
            const int x = (patchX + patchSize / 2 - 16) * frame.width / screenWidth;
            const int y = (patchY + patchSize / 2 - 16) * frame.height / screenHeight;
            records.pictures.push_back({now, frame.presentationTimeNanoseconds,
                                        nearestPaletteColour(frame.averageRgb(x, y, 32, 32))});
        }
        records.seenPictures = decoded;
    }
    const auto& chunks = headset.receivedAudioChunks();
    for (; records.seenChunks < chunks.size(); ++records.seenChunks) {
        records.chunks.push_back({now, chunks[records.seenChunks].presentationTimeNanoseconds});
    }
}

struct Percentiles {
    std::size_t count = 0;
    double p50 = 0;
    double p95 = 0;
    double minimum = 0;
    double maximum = 0;
};

// Milliseconds.
Percentiles percentiles(std::vector<double> values) {
    Percentiles result;
    result.count = values.size();
    if (values.empty()) {
        return result;
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double fraction) {
        const double position = fraction * static_cast<double>(values.size() - 1);
        const auto lower = static_cast<std::size_t>(std::floor(position));
        const auto upper = std::min(lower + 1, values.size() - 1);
        return values[lower] + (values[upper] - values[lower]) * (position - static_cast<double>(lower));
    };
    result.p50 = at(0.5);
    result.p95 = at(0.95);
    result.minimum = values.front();
    result.maximum = values.back();
    return result;
}

void printLatency(const char* name, const Percentiles& figures, std::size_t attempted) {
    std::printf("  %-34s p50 %7.2f ms   p95 %7.2f ms   (min %.2f, max %.2f; %zu of %zu)\n", name, figures.p50,
                figures.p95, figures.minimum, figures.maximum, figures.count, attempted);
}

// Milliseconds from the chunk's capture timestamp to its arrival.
double chunkLatency(const ArrivedChunk& chunk) {
    return static_cast<double>(
               static_cast<std::int64_t>(chunk.timeNanoseconds - chunk.presentationTimeNanoseconds)) /
           1e6;
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    std::string five;
    file >> one >> five;
    return one + " (1 min), " + five + " (5 min)";
}

void printStageTable(const char* title, const std::vector<FrameStageTrace::Entry>& entries) {
    const auto table = FrameStageTable::compute(entries);
    std::printf(" Per-stage time %s (%zu frames stamped; ms from the stage before):\n", title,
                table.frameCount);
    std::printf("  %-36s %7s %7s %7s %6s\n", "stage", "p50", "p95", "p99", "frames");
    const auto print = [](const std::string& name, const FrameStageTable::Row& row) {
        std::printf("  %-36s %7.2f %7.2f %7.2f %6zu\n", name.c_str(), row.p50, row.p95, row.p99, row.count);
    };
    for (const auto& row : table.rows) {
        print(std::string(frameStageName(row.from)) + " -> " + std::string(frameStageName(row.to)), row);
    }
    print("whole path (damage -> first UDP send)", table.total);
}

struct Change {
    std::uint64_t timeNanoseconds = 0;
    int colour = 0;
};

class EndToEndBench {
public:
    int run() {
        if (std::getenv("QUILLBRIDGE_TEST_E2E") == nullptr) {
            std::cerr << "quillbridge_e2e_bench needs the private end-to-end environment: run it as\n"
                         "  tests/e2e/run-e2e-environment.sh "
                      << "path/to/quillbridge_e2e_bench\n";
            return 2;
        }
        // A window over the whole screen to draw on; its texture is made now, before anything is measured.
        painter_ = X11PatternWindow::open({0x404040});
        if (!painter_) {
            std::cerr << "The X display cannot be reached (or is not 24 bits deep).\n";
            return 1;
        }
        painter_->drawTexture(0);
        const char* stages = std::getenv("QUILLBRIDGE_E2E_BENCH_STAGES");
        FrameStageTrace::global().setEnabled(stages == nullptr || std::string(stages) != "0");
        startHost();
        pairAndStream();
        measureLatency();
        measureLoad();
        finish();
        return 0;
    }

private:
    void startHost() {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        const std::filesystem::path root =
            std::filesystem::path(config != nullptr ? config : "/tmp") / "quillbridge-e2e-bench";
        std::filesystem::create_directories(root);
        LinuxHostServicesOptions options;
        options.mainActor = main_.context.get_executor();
        options.defaultsFile = root / "defaults.json";
        options.dataDirectory = root / "data";
        options.useSecretService = false;
        options.hostDisplayName = "Benchmark Host";
        options.listenPort = 0;
        std::string error;
        host_ = main_.call([&] { return LinuxHostServices::create(std::move(options), &error); });
        if (!host_) {
            throw std::runtime_error("the host could not be built: " + error);
        }
        main_.run([](ScreenRecorder& recorder) -> asio::awaitable<void> {
            recorder.setLocalNetworkPermissionChecksEnabled(true);
            co_await recorder.checkMandatoryPermissions();
        }(host_->recorder()));
    }

    void pairAndStream() {
        ServiceBrowserHostLocator::Options locatorOptions;
        locatorOptions.timeout = 20s;
        auto browse = std::make_shared<ServiceBrowserHostLocator>(
            [] { return std::make_unique<AvahiServiceBrowser>(); }, locatorOptions);
        auto hostPort = hostPort_;
        HostLocator locator = [browse, hostPort]() -> asio::awaitable<HostEndpoint> {
            HostEndpoint endpoint = co_await browse->locate();
            *hostPort = endpoint.port;
            co_return endpoint;
        };
        HeadsetSimulator::Options options;
        options.displayName = "Benchmark Headset";
        options.responseTimeout = 120s;
        headset_ = headsetLoop_.call([&] {
            return std::make_unique<HeadsetSimulator>(headsetLoop_.context.get_executor(), locator, options);
        });
        auto& headset = *headset_;

        auto paired = asio::co_spawn(
            headsetLoop_.context,
            [](HeadsetSimulator& simulator) -> asio::awaitable<void> {
                co_await simulator.connect();
                co_await simulator.pair();
            }(headset),
            asio::use_future);
        // The user reads the code off the headset and types it into the host.
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
        main_.run(host_->broadcaster()->submitPairingCode(*code));
        if (paired.wait_for(waitBound) != std::future_status::ready) {
            throw std::runtime_error("pairing did not finish");
        }
        paired.get();
        std::printf("Paired with the host on port %u.\n", static_cast<unsigned>(*hostPort_));

        StreamConfigurationMessage configuration;
        configuration.resolution = CaptureResolutionOption::full;
        const char* codec = std::getenv("QUILLBRIDGE_E2E_BENCH_CODEC");
        configuration.videoCodec =
            codec != nullptr && std::string(codec) == "hevc" ? StreamCodec::hevc : StreamCodec::h264;
        stream_.codec = configuration.videoCodec;
        configuration.frameRate = StreamFrameRateOption::fps60;
        configuration.mutesHostAudio = false;
        painter_->fill(0, 0, painter_->width(), painter_->height(), 0x404040);
        painter_->fill(patchX, patchY, patchSize, patchSize, palette[0]);
        // The first clock synchronisations after receiverReady, one round each, timed: they show what holds
        // up the control stream while streaming starts.
        startSynchronizations_ =
            headsetLoop_.run([](HeadsetSimulator& simulator,
                                StreamConfigurationMessage message) -> asio::awaitable<std::vector<double>> {
                co_await simulator.send(StreamControlMessage::make<Case::streamConfiguration>(message));
                co_await simulator.sendReceiverReady();
                std::vector<double> times;
                for (int round = 0; round < 3; ++round) {
                    const std::uint64_t start = monotonicNanoseconds();
                    co_await simulator.synchronizeClock(1);
                    times.push_back(static_cast<double>(monotonicNanoseconds() - start) / 1e6);
                }
                co_return times;
            }(headset, configuration));
        // The capture sends a picture when the screen changes: a frame grabbed before the headset said it was
        // ready is not sent, so keep changing the patch until one arrives.
        const auto decodeDeadline = std::chrono::steady_clock::now() + 20s;
        for (int nudge = 1; headsetLoop_.call([&] { return headset.decodedVideoFrameCount(); }) == 0;
             ++nudge) {
            if (std::chrono::steady_clock::now() > decodeDeadline) {
                const auto state = headsetLoop_.call([&] {
                    std::ostringstream text;
                    text << headset.receivedVideoFrames().size() << " frames received, "
                         << headset.undecodableVideoFrameCount() << " refused by the decoder ("
                         << headset.lastVideoDecodeError() << "), format "
                         << (headset.videoFormat() ? "announced" : "not announced") << ", "
                         << headset.receivedAudioChunks().size() << " audio chunks";
                    return text.str();
                });
                throw std::runtime_error("no picture was decoded: " + state);
            }
            std::this_thread::sleep_for(100ms);
            painter_->fill(patchX, patchY, patchSize, patchSize, palette[nudge % 2]);
        }
        painter_->fill(patchX, patchY, patchSize, patchSize, palette[0]);
        const auto format = headsetLoop_.call([&] { return headset.videoFormat(); });
        if (format) {
            stream_.width = static_cast<unsigned>(format->width);
            stream_.height = static_cast<unsigned>(format->height);
        }
        stream_.framesPerSecond = main_.call([&] {
            return DisplayCaptureConfigurator::effectiveFrameRate(configuration.frameRate,
                                                                  host_->recorder().selectedDisplay());
        });
        if (format) {
            std::printf("Streaming %ux%u at %d frames a second, codec %s.\n", stream_.width, stream_.height,
                        stream_.framesPerSecond, format->codec == StreamCodec::h264 ? "H.264" : "HEVC");
        }
        startRecording();
    }

    // Notes every decoded picture and audio chunk on the simulator's loop until stopped.
    void startRecording() {
        const int width = painter_->width();
        const int height = painter_->height();
        recording_ = asio::co_spawn(
            headsetLoop_.context,
            [](HeadsetSimulator& simulator, HeadsetRecords& records, std::atomic<bool>& stop, int width,
               int height) -> asio::awaitable<void> {
                co_await simulator.waitUntil(
                    [&] {
                        noteNewRecords(simulator, records, width, height);
                        return stop.load();
                    },
                    "the end of the measurement");
            }(*headset_, records_, stopRecording_, width, height),
            asio::use_future);
    }

    void measureLatency() {
        std::printf("Latency: %d colour changes of a %dx%d patch...\n", changeCount, patchSize, patchSize);
        std::this_thread::sleep_for(500ms);
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> jitter(0, static_cast<int>(changeJitter.count()) * 1000);
        HostSendLog::start(*hostPort_);
        FrameStageTrace::global().clear();
        for (int index = 0; index < changeCount; ++index) {
            std::this_thread::sleep_for(changeSpacing + std::chrono::microseconds(jitter(random)));
            const int colour = (index + 1) % paletteSize;
            const std::uint64_t time = monotonicNanoseconds();
            painter_->fill(patchX, patchY, patchSize, patchSize, palette[colour]);
            changes_.push_back({time, colour});
        }
        std::this_thread::sleep_for(300ms);
        HostSendLog::stop();
        latencyStages_ = FrameStageTrace::global().snapshot();
        sends_ = HostSendLog::sends();
        latencyPictures_ = headsetLoop_.call([&] { return records_.pictures; });
        const auto chunks = headsetLoop_.call([&] { return records_.chunks; });
        for (const auto& chunk : chunks) {
            if (chunk.timeNanoseconds >= changes_.front().timeNanoseconds) {
                quietAudioLatencies_.push_back(chunkLatency(chunk));
            }
        }
    }

    void measureLoad() {
        std::printf("Load: scrolling the whole screen at 60 frames a second with a tone playing...\n");
        std::string error;
        auto tone = PulseTonePlayer::start(440, &error, PulseTonePlayer::Buffer::shortest);
        if (!tone) {
            std::printf("  (no tone: %s)\n", error.c_str());
        }
        std::atomic<bool> stopDrawing{false};
        std::atomic<int> drawnFrames{0};
        std::thread drawing([&] {
            auto next = std::chrono::steady_clock::now();
            for (int frame = 0; !stopDrawing; ++frame) {
                painter_->drawTexture(frame * 6);
                drawnFrames = frame + 1;
                next += std::chrono::nanoseconds(16'666'667);
                std::this_thread::sleep_until(next);
            }
        });
        std::this_thread::sleep_for(loadWarmUp);

        const auto& simulatorTransport = headset_->client().transport();
        const char* xvfbPid = std::getenv("QUILLBRIDGE_TEST_XVFB_PID");
        struct Sample {
            std::uint64_t wall = 0;
            std::uint64_t process = 0;
            std::uint64_t excluded = 0;
            std::optional<std::uint64_t> xvfb;
            std::size_t frames = 0;
            std::size_t bytes = 0;
            std::size_t chunks = 0;
        };
        const auto sample = [&] {
            Sample value;
            value.wall = monotonicNanoseconds();
            value.process = cpuNanoseconds(CLOCK_PROCESS_CPUTIME_ID);
            value.excluded = threadCpuNanoseconds(headsetLoop_.thread()) +
                             static_cast<std::uint64_t>(simulatorTransport.engineCpuTime().count()) +
                             threadCpuNanoseconds(drawing) +
                             (tone ? threadCpuNanoseconds(tone->thread()) : 0) +
                             cpuNanoseconds(CLOCK_THREAD_CPUTIME_ID);
            if (xvfbPid != nullptr) {
                value.xvfb = processCpuNanoseconds(xvfbPid);
            }
            return value;
        };
        const auto countReceived = [&](Sample& value) {
            headsetLoop_.call([&] {
                const auto& frames = headset_->receivedVideoFrames();
                value.frames = frames.size();
                for (const auto& frame : frames) {
                    value.bytes += frame.payloadByteCount;
                }
                value.chunks = headset_->receivedAudioChunks().size();
                return 0;
            });
        };
        FrameStageTrace::global().clear();
        Sample before = sample();
        const int drawnBefore = drawnFrames;
        countReceived(before);
        const std::size_t chunksBefore = headsetLoop_.call([&] { return records_.chunks.size(); });
        std::this_thread::sleep_for(loadPeriod);
        Sample after = sample();
        loadStages_ = FrameStageTrace::global().snapshot();
        const int drawnAfter = drawnFrames;
        countReceived(after);
        stopDrawing = true;
        drawing.join();
        tone.reset();

        const double seconds = static_cast<double>(after.wall - before.wall) / 1e9;
        const double processCpu = static_cast<double>(after.process - before.process) / 1e9;
        const double excludedCpu = static_cast<double>(after.excluded - before.excluded) / 1e9;
        load_.seconds = seconds;
        load_.hostPercent = 100.0 * (processCpu - excludedCpu) / seconds;
        load_.simulatorAndDrawingPercent = 100.0 * excludedCpu / seconds;
        if (before.xvfb && after.xvfb) {
            load_.xvfbPercent = 100.0 * static_cast<double>(*after.xvfb - *before.xvfb) / 1e9 / seconds;
        }
        load_.framesPerSecond = static_cast<double>(after.frames - before.frames) / seconds;
        load_.drawnFramesPerSecond = static_cast<double>(drawnAfter - drawnBefore) / seconds;
        load_.hostMillisecondsPerFrame =
            after.frames > before.frames
                ? (processCpu - excludedCpu) * 1e3 / static_cast<double>(after.frames - before.frames)
                : 0;
        load_.megabitsPerSecond = static_cast<double>(after.bytes - before.bytes) * 8 / 1e6 / seconds;
        load_.chunksPerSecond = static_cast<double>(after.chunks - before.chunks) / seconds;
        const auto chunks = headsetLoop_.call([&] { return records_.chunks; });
        for (std::size_t index = chunksBefore; index < chunks.size(); ++index) {
            if (chunks[index].timeNanoseconds <= after.wall) {
                audioLatencies_.push_back(chunkLatency(chunks[index]));
            }
        }
    }

    void finish() {
        stopRecording_ = true;
        // One more picture wakes the recorder to see that it is done.
        painter_->fill(patchX, patchY, patchSize, patchSize, palette[0]);
        if (recording_.wait_for(10s) == std::future_status::ready) {
            try {
                recording_.get();
            } catch (const std::exception&) {
            }
        }
        report();
        std::fflush(stdout);
        // The figures are out; a host that cannot shut down must not hold the program (and the environment)
        // for ever.
        std::thread([] {
            std::this_thread::sleep_for(teardownBound);
            std::fprintf(stderr, "quillbridge_e2e_bench: the host did not shut down within %lld s\n",
                         static_cast<long long>(teardownBound.count()));
            std::fflush(nullptr);
            std::_Exit(3);
        }).detach();
        try {
            headsetLoop_.run([](HeadsetSimulator& simulator) -> asio::awaitable<void> {
                co_await simulator.disconnect();
            }(*headset_));
        } catch (const std::exception& error) {
            std::cerr << "The headset did not leave cleanly: " << error.what() << "\n";
        }
        headsetLoop_.call([&] {
            headset_.reset();
            return 0;
        });
        main_.run(host_->recorder().shutdown());
        // Off the main actor, which must still run while the host lets its session go.
        host_.reset();
    }

    // With QUILLBRIDGE_E2E_BENCH_TRACE set to a file name, everything the latency figures come from.
    void writeTrace() const {
        const char* path = std::getenv("QUILLBRIDGE_E2E_BENCH_TRACE");
        if (path == nullptr) {
            return;
        }
        std::ofstream trace(path);
        for (const auto& change : changes_) {
            trace << "drawn " << change.timeNanoseconds << " colour " << change.colour << "\n";
        }
        for (const auto& picture : latencyPictures_) {
            trace << "decoded " << picture.timeNanoseconds << " grabbed "
                  << picture.presentationTimeNanoseconds << " colour " << picture.colour << "\n";
        }
        for (const auto& send : sends_) {
            trace << "sent " << send.timeNanoseconds << " bytes " << send.byteCount << "\n";
        }
    }

    void report() {
        std::vector<double> grab;
        std::vector<double> wire;
        std::vector<double> decoded;
        std::size_t searchFrom = 0;
        for (std::size_t change = 0; change < changes_.size(); ++change) {
            const auto& drawn = changes_[change];
            // The change can only be on a picture grabbed before the next one was drawn.
            const std::uint64_t nextDrawn = change + 1 < changes_.size()
                                                ? changes_[change + 1].timeNanoseconds
                                                : std::numeric_limits<std::uint64_t>::max();
            for (std::size_t index = searchFrom; index < latencyPictures_.size(); ++index) {
                const auto& picture = latencyPictures_[index];
                if (picture.presentationTimeNanoseconds > nextDrawn) {
                    break;
                }
                if (picture.presentationTimeNanoseconds < drawn.timeNanoseconds ||
                    picture.colour != drawn.colour) {
                    continue;
                }
                searchFrom = index;
                const auto since = [&](std::uint64_t time) {
                    return static_cast<double>(static_cast<std::int64_t>(time - drawn.timeNanoseconds)) / 1e6;
                };
                decoded.push_back(since(picture.timeNanoseconds));
                grab.push_back(since(picture.presentationTimeNanoseconds));
                const auto send =
                    std::find_if(sends_.begin(), sends_.end(), [&](const HostSendLog::Send& value) {
                        return value.timeNanoseconds >= picture.presentationTimeNanoseconds &&
                               value.byteCount >= videoSendThreshold;
                    });
                if (send != sends_.end() && send->timeNanoseconds <= picture.timeNanoseconds) {
                    wire.push_back(since(send->timeNanoseconds));
                }
                break;
            }
        }
        writeTrace();
        std::printf("\nEnd-to-end figures (%ux%u at %d frames a second, %s, loopback)\n", stream_.width,
                    stream_.height, stream_.framesPerSecond,
                    stream_.codec == StreamCodec::h264 ? "H.264 with x264" : "HEVC with x265");
        std::printf(" Glass latency over %zu colour changes (from the fill request to the X server):\n",
                    changes_.size());
        printLatency("glass to grab (capture timestamp)", percentiles(grab), changes_.size());
        printLatency("glass to wire (host's first send)", percentiles(wire), changes_.size());
        printLatency("glass to decoded (at the headset)", percentiles(decoded), changes_.size());
        std::printf(" Streaming a scrolling %ux%u desktop at %d frames a second with a tone, over %.1f s:\n",
                    stream_.width, stream_.height, stream_.framesPerSecond, load_.seconds);
        std::printf("  host CPU                           %6.1f %% of one core\n", load_.hostPercent);
        std::printf("  host CPU per frame sent            %6.2f ms\n", load_.hostMillisecondsPerFrame);
        std::printf("  headset simulator and drawing      %6.1f %% of one core (not counted above)\n",
                    load_.simulatorAndDrawingPercent);
        if (load_.xvfbPercent) {
            std::printf("  X server (Xvfb, its own process)   %6.1f %% of one core (not counted above)\n",
                        *load_.xvfbPercent);
        }
        std::printf("  screen drawn                       %6.1f frames/s\n", load_.drawnFramesPerSecond);
        std::printf("  video received                     %6.1f frames/s, %.1f Mbit/s\n",
                    load_.framesPerSecond, load_.megabitsPerSecond);
        std::printf("  audio received                     %6.1f chunks/s\n", load_.chunksPerSecond);
        std::printf(" Audio capture timestamp to datagram at the headset:\n");
        printLatency("while the desktop scrolls, tone", percentiles(audioLatencies_), audioLatencies_.size());
        printLatency("while only the patch changes", percentiles(quietAudioLatencies_),
                     quietAudioLatencies_.size());
        std::printf(" Clock synchronisation round trips right after receiverReady:");
        for (const double time : startSynchronizations_) {
            std::printf(" %.2f ms", time);
        }
        std::printf("\n");
        if (FrameStageTrace::global().isEnabled()) {
            printStageTable("while only the patch changes", latencyStages_);
            printStageTable("while the desktop scrolls", loadStages_);
        }
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        const int usable = sched_getaffinity(0, sizeof allowed, &allowed) == 0 ? CPU_COUNT(&allowed) : 0;
        std::printf(" Machine load average at the end: %s; %u cores, %d of them usable here\n",
                    loadAverage().c_str(), std::thread::hardware_concurrency(), usable);
    }

    EventLoopThread main_;
    EventLoopThread headsetLoop_;
    std::unique_ptr<X11PatternWindow> painter_;
    std::unique_ptr<LinuxHostServices> host_;
    std::unique_ptr<HeadsetSimulator> headset_;
    std::shared_ptr<std::uint16_t> hostPort_ = std::make_shared<std::uint16_t>(0);

    HeadsetRecords records_;
    std::atomic<bool> stopRecording_{false};
    std::future<void> recording_;

    std::vector<Change> changes_;
    std::vector<HostSendLog::Send> sends_;
    std::vector<DecodedPicture> latencyPictures_;
    std::vector<double> audioLatencies_;
    std::vector<double> quietAudioLatencies_;
    std::vector<FrameStageTrace::Entry> latencyStages_;
    std::vector<double> startSynchronizations_;
    std::vector<FrameStageTrace::Entry> loadStages_;
    // What is streamed: the picture's size as the video format gives it, and the capture's frame rate.
    struct Stream {
        unsigned width = 0;
        unsigned height = 0;
        int framesPerSecond = 0;
        StreamCodec codec = StreamCodec::h264;
    } stream_;
    struct Load {
        double seconds = 0;
        double hostPercent = 0;
        double simulatorAndDrawingPercent = 0;
        std::optional<double> xvfbPercent;
        double framesPerSecond = 0;
        double drawnFramesPerSecond = 0;
        double hostMillisecondsPerFrame = 0;
        double megabitsPerSecond = 0;
        double chunksPerSecond = 0;
    } load_;
};

}  // namespace
}  // namespace quillbridge

int main() {
    // On a failure the host and the simulator are left as they are: their loops are still running, and the
    // environment ends every process with the namespace.
    // Each line as it is printed, also into a file or a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    auto* bench = new quillbridge::EndToEndBench;
    try {
        const int status = bench->run();
        delete bench;
        return status;
    } catch (const std::exception& error) {
        std::cerr << "quillbridge_e2e_bench: " << error.what() << "\n";
        std::fflush(nullptr);
        std::_Exit(1);
    }
}
