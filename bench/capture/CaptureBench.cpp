// Capture costs on a real X server and sound server (run under tests/support/run-desktop-services.sh --x11
// --pulse):
// - grab-to-delivery: from the grab's timestamp to the frame reaching the stream's output, for a changing
//   1920x1080 screen at full and half size (median and 99th percentile);
// - CPU: the share of one core the capture costs on 60 changing frames per second at 1080p (encoding
//   excluded): this process's capture threads, plus the X server's part, its copies of the screen into the
//   shared memory (the X server's CPU time while capturing less its time while the screen changes without
//   a capture, from /proc/$QUILLBRIDGE_TEST_XVFB_PID/stat; without that variable only this process's
//   part is printed);
// - system audio: from writing a click into the default sink to the planar buffer that holds it.
// Printed, not asserted.

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <pulse/stream.h>

#include "platform/linux/pulse/PulseConnection.hpp"
#include "platform/linux/pulse/PulseSystemAudioSource.hpp"
#include "platform/linux/x11/XcbScreenCaptureStream.hpp"
#include "support/ProcessCpuTime.hpp"

namespace quillbridge {
namespace {

std::uint64_t monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

double cpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    const auto index = static_cast<std::size_t>(fraction * double(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index), values.end());
    return values[index];
}

// Records when each complete frame arrived, relative to its grab time.
class TimingOutput final : public CaptureStreamOutput {
public:
    void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame) override {
        if (!frame->imageBuffer) {
            return;
        }
        const double latency = double(monotonicNow() - frame->presentationTimeNanoseconds);
        std::lock_guard lock(mutex);
        latencies.push_back(latency);
    }
    void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer>) override {}
    void captureStreamDidStop(const CaptureStreamFailure&) override {}

    std::size_t count() {
        std::lock_guard lock(mutex);
        return latencies.size();
    }

    std::mutex mutex;
    std::vector<double> latencies;
};

// Keeps a full-screen window changing colour, as a busy desktop would, until stopped.
class ChangingScreen {
public:
    ChangingScreen() : connection_(XcbConnection::open()) {
        if (!connection_) {
            return;
        }
        window_ = xcb_generate_id(connection_->get());
        const std::uint32_t values[] = {0x000000, 1};
        xcb_create_window(connection_->get(), XCB_COPY_FROM_PARENT, window_, connection_->root(), 0, 0, 1920,
                          1080, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, connection_->screen()->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(connection_->get(), window_);
        xcb_flush(connection_->get());
        thread_ = std::thread([this] {
            for (std::uint32_t color = 0; !stopping_; color += 0x010203) {
                xcb_change_window_attributes(connection_->get(), window_, XCB_CW_BACK_PIXEL, &color);
                xcb_clear_area(connection_->get(), 0, window_, 0, 0, 0, 0);
                xcb_flush(connection_->get());
                std::this_thread::sleep_for(std::chrono::milliseconds(4));
            }
        });
    }
    ~ChangingScreen() { stop(); }
    bool isReady() const { return connection_ != nullptr; }
    // The CPU time the changer itself has used so far; call it while the screen changes.
    double changerCpuSeconds() {
        clockid_t clock{};
        return thread_.joinable() && pthread_getcpuclockid(thread_.native_handle(), &clock) == 0
                   ? cpuSeconds(clock)
                   : 0;
    }
    // Stops changing.
    void stop() {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    std::unique_ptr<XcbConnection> connection_;
    xcb_window_t window_ = 0;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
};

CaptureContentFilter wholeScreen() {
    CaptureContentFilter filter;
    filter.display.frame = CaptureRect{0, 0, 1920, 1080};
    return filter;
}

void BM_GrabToFrameDelivered(benchmark::State& state) {
    if (std::getenv("DISPLAY") == nullptr) {
        state.SkipWithError("needs an X display (run-desktop-services.sh --x11)");
        return;
    }
    const auto width = static_cast<std::uint32_t>(state.range(0));
    const auto height = static_cast<std::uint32_t>(state.range(1));
    for (auto _ : state) {
        ChangingScreen screen;
        auto output = std::make_shared<TimingOutput>();
        CaptureStreamConfiguration configuration;
        configuration.width = width;
        configuration.height = height;
        configuration.minimumFrameInterval = CaptureFrameInterval::perSecond(60);
        XcbScreenCaptureStream stream({}, wholeScreen(), configuration, output);
        (void)stream.addStreamOutput(CaptureStreamOutputType::screen);
        stream.start();
        while (output->count() < 240) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stream.stop();
        screen.stop();
        state.counters["p50_ms"] = percentile(output->latencies, 0.5) / 1e6;
        state.counters["p99_ms"] = percentile(output->latencies, 0.99) / 1e6;
        state.counters["frames"] = double(output->latencies.size());
    }
}
BENCHMARK(BM_GrabToFrameDelivered)
    ->Args({1920, 1080})
    ->Args({960, 540})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The X server's CPU time in seconds, when the environment names its process.
std::optional<double> xServerCpuSeconds() {
    const char* pid = std::getenv("QUILLBRIDGE_TEST_XVFB_PID");
    if (pid == nullptr) {
        return std::nullopt;
    }
    const auto nanoseconds = processCpuNanoseconds(pid);
    return nanoseconds ? std::optional<double>(double(*nanoseconds) / 1e9) : std::nullopt;
}

// The X server's share of one core over a period of `wall` seconds that started with `before`.
std::optional<double> xServerPercentSince(std::optional<double> before, double wall) {
    const auto after = xServerCpuSeconds();
    if (!before || !after) {
        return std::nullopt;
    }
    return 100 * (*after - *before) / wall;
}

void BM_CaptureCpuAt60FramesPerSecond(benchmark::State& state) {
    if (std::getenv("DISPLAY") == nullptr) {
        state.SkipWithError("needs an X display (run-desktop-services.sh --x11)");
        return;
    }
    for (auto _ : state) {
        ChangingScreen screen;
        // What the X server spends on the changing screen alone.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto quietStart = std::chrono::steady_clock::now();
        const auto xQuietStart = xServerCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const auto xQuiet = xServerPercentSince(
            xQuietStart,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - quietStart).count());

        auto output = std::make_shared<TimingOutput>();
        CaptureStreamConfiguration configuration;
        configuration.width = 1920;
        configuration.height = 1080;
        configuration.minimumFrameInterval = CaptureFrameInterval::perSecond(60);
        XcbScreenCaptureStream stream({}, wholeScreen(), configuration, output);
        (void)stream.addStreamOutput(CaptureStreamOutputType::screen);
        const double cpuStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double changerStart = screen.changerCpuSeconds();
        const auto xStart = xServerCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        stream.start();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        stream.stop();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const auto xCapturing = xServerPercentSince(xStart, wall);
        const double changer = screen.changerCpuSeconds() - changerStart;
        const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart - changer;
        const double processPercent = 100 * cpu / wall;
        state.counters["process_cpu_percent"] = processPercent;
        if (xQuiet && xCapturing) {
            const double xCopy = std::max(0.0, *xCapturing - *xQuiet);
            state.counters["x_server_copy_cpu_percent"] = xCopy;
            state.counters["cpu_percent_of_one_core"] = processPercent + xCopy;
        }
        state.counters["frames_per_second"] = double(output->count()) / wall;
        screen.stop();
    }
}
BENCHMARK(BM_CaptureCpuAt60FramesPerSecond)->Iterations(1)->Unit(benchmark::kMillisecond);

// Records when a buffer holding a loud sample arrived.
class ClickOutput final : public CaptureStreamOutput {
public:
    void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame>) override {}
    void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer> buffer) override {
        for (float sample : buffer->floatChannels[0]) {
            if (sample > 0.5f) {
                std::lock_guard lock(mutex);
                arrivals.push_back(monotonicNow());
                changed.notify_all();
                return;
            }
        }
    }
    void captureStreamDidStop(const CaptureStreamFailure&) override {}

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint64_t> arrivals;
};

void BM_SystemAudioSinkToBuffer(benchmark::State& state) {
    if (std::getenv("PULSE_SERVER") == nullptr) {
        state.SkipWithError("needs a sound server (run-desktop-services.sh --pulse)");
        return;
    }
    for (auto _ : state) {
        auto output = std::make_shared<ClickOutput>();
        PulseSystemAudioSource source({}, output);
        std::string error;
        auto player = PulseConnection::connect("Quillbridge capture bench", std::chrono::seconds(2), &error);
        if (!player || !source.start()) {
            state.SkipWithError("no sound server");
            return;
        }
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
        pa_stream* playback = nullptr;
        {
            PulseConnection::Lock lock(*player);
            playback = pa_stream_new(player->context(), "click", &spec, nullptr);
            pa_buffer_attr attributes{};
            attributes.maxlength = static_cast<std::uint32_t>(-1);
            attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(10'000, &spec));
            attributes.prebuf = 0;
            attributes.minreq = static_cast<std::uint32_t>(-1);
            pa_stream_connect_playback(playback, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr,
                                       nullptr);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::vector<double> latencies;
        std::vector<float> click(480 * 2, 0.9f);
        for (int round = 0; round < 20; ++round) {
            std::uint64_t written = 0;
            {
                PulseConnection::Lock lock(*player);
                written = monotonicNow();
                // Written at the read position: an underrun stream would otherwise skip data written behind
                // it.
                pa_stream_write(playback, click.data(), click.size() * sizeof(float), nullptr, 0,
                                PA_SEEK_RELATIVE_ON_READ);
            }
            std::unique_lock lock(output->mutex);
            const auto before = output->arrivals.size();
            if (output->changed.wait_for(lock, std::chrono::seconds(2),
                                         [&] { return output->arrivals.size() > before; })) {
                latencies.push_back(double(output->arrivals.back() - written));
            }
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        {
            PulseConnection::Lock lock(*player);
            pa_stream_disconnect(playback);
            pa_stream_unref(playback);
        }
        source.stop();
        state.counters["p50_ms"] = percentile(latencies, 0.5) / 1e6;
        state.counters["max_ms"] =
            latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end()) / 1e6;
        state.counters["clicks"] = double(latencies.size());
    }
}
BENCHMARK(BM_SystemAudioSinkToBuffer)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillbridge
