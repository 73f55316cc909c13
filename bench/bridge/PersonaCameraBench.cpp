// The Persona camera's cost on the host: 1920x1080 H.264 frames (a key frame a second, as busy as a camera
// picture) from their length-prefixed payload through Annex B conversion and the libavcodec decoder to the
// NV12 picture the output handler receives, one frame at a time; per-frame time p50/p99 and the process's
// CPU time as a share of one core at 30 frames a second. And the media clock's calls per second in both
// modes. Printed, not asserted.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include <benchmark/benchmark.h>

#include "bridge/LengthPrefixedNalUnits.hpp"
#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "platform/linux/video/LibavPersonaCameraFrameDecoder.hpp"
#include "support/headset/PersonaCameraTestEncoder.hpp"

namespace quillbridge {
namespace {

constexpr int frameWidth = 1920;
constexpr int frameHeight = 1080;
constexpr std::size_t streamFrameCount = 90;
constexpr double framePeriodNanoseconds = 1e9 / 30;

std::int64_t processCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double percentileMilliseconds(std::vector<double> nanoseconds, double fraction) {
    if (nanoseconds.empty()) {
        return 0;
    }
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + static_cast<std::ptrdiff_t>(index),
                     nanoseconds.end());
    return nanoseconds[index] / 1e6;
}

struct PersonaStream {
    std::shared_ptr<const PersonaCameraFormatDescription> format;
    std::vector<EncodedVideoFrame> frames;
};

const PersonaStream& personaStream() {
    static const PersonaStream stream = [] {
        PersonaStream made;
        auto encoder =
            PersonaCameraTestEncoder::make(frameWidth, frameHeight, {StreamCodec::h264, 30, false, true});
        if (!encoder) {
            return made;
        }
        for (std::size_t index = 0; index < streamFrameCount; ++index) {
            auto frame = encoder->encode(static_cast<std::uint8_t>(80 + index % 60), 120, 160, index + 1,
                                         (index + 1) * static_cast<std::uint64_t>(framePeriodNanoseconds));
            if (!frame) {
                return PersonaStream{};
            }
            made.frames.push_back(std::move(*frame));
        }
        if (encoder->format()) {
            if (auto description = PersonaCameraFormatDescription::make(*encoder->format())) {
                made.format = std::make_shared<const PersonaCameraFormatDescription>(std::move(*description));
            }
        }
        return made;
    }();
    return stream;
}

void BM_PersonaDecode1080p(benchmark::State& state) {
    const auto& stream = personaStream();
    if (!stream.format) {
        state.SkipWithError("libx264 is missing");
        return;
    }
    std::mutex mutex;
    std::condition_variable decoded;
    std::size_t decodedCount = 0;
    LibavPersonaCameraFrameDecoder decoder([&](DecodedPersonaCameraFrame) {
        std::lock_guard guard(mutex);
        ++decodedCount;
        decoded.notify_one();
    });
    std::vector<double> frameNanoseconds;
    std::int64_t cpuNanoseconds = 0;
    std::size_t frames = 0;
    for (auto _ : state) {
        // The whole stream again from its first key frame, on a fresh session.
        decoder.invalidate();
        decoder.prepare(stream.format);
        const std::int64_t cpuBefore = processCpuNanoseconds();
        for (std::size_t index = 0; index < stream.frames.size(); ++index) {
            const auto& frame = stream.frames[index];
            const auto start = std::chrono::steady_clock::now();
            PersonaCameraSampleBuffer sample;
            sample.annexBPayload = *LengthPrefixedNalUnits::toAnnexB(frame.payload, 4);
            sample.presentationTimeNanoseconds = static_cast<std::int64_t>(frame.presentationTimeNanoseconds);
            sample.isNotSync = !frame.isKeyFrame;
            sample.formatDescription = stream.format;
            std::size_t expected = 0;
            {
                std::lock_guard guard(mutex);
                expected = decodedCount + 1;
            }
            decoder.decode(std::move(sample));
            std::unique_lock guard(mutex);
            decoded.wait(guard, [&] { return decodedCount >= expected; });
            frameNanoseconds.push_back(
                std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
        }
        cpuNanoseconds += processCpuNanoseconds() - cpuBefore;
        frames += stream.frames.size();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["p50_ms"] = percentileMilliseconds(frameNanoseconds, 0.50);
    state.counters["p99_ms"] = percentileMilliseconds(frameNanoseconds, 0.99);
    state.counters["core_share_at_30fps_pct"] =
        100.0 * static_cast<double>(cpuNanoseconds) / (static_cast<double>(frames) * framePeriodNanoseconds);
}
BENCHMARK(BM_PersonaDecode1080p)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Video frames 33 ms apart with a few milliseconds of jitter, in the clock-synchronised (arg 1) or the local
// mode (arg 0).
void BM_MediaClockVideoCalls(benchmark::State& state) {
    PersonaAVTimingCoordinator clock;
    if (state.range(0) == 1) {
        clock.applyClockSynchronization(3'000'000'000, 18'000'000);
    }
    std::uint64_t source = 1'000'000'000;
    std::uint64_t index = 0;
    for (auto _ : state) {
        source += 33'333'333;
        ++index;
        benchmark::DoNotOptimize(clock.videoPresentationHostTime(
            source, source + 3'000'000'000 + (index * 2'654'435'761u) % 6'000'000));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MediaClockVideoCalls)->Arg(0)->Arg(1);

void BM_MediaClockMicrophoneCalls(benchmark::State& state) {
    PersonaAVTimingCoordinator clock;
    clock.setMicrophoneDemanded(true);
    clock.applyClockSynchronization(3'000'000'000, 18'000'000);
    std::uint64_t source = 1'000'000'000;
    std::uint64_t index = 0;
    for (auto _ : state) {
        source += 10'000'000;
        ++index;
        benchmark::DoNotOptimize(clock.microphonePresentationHostTime(
            source, source + 3'000'000'000 + (index * 2'654'435'761u) % 6'000'000));
        benchmark::DoNotOptimize(clock.microphoneReservoirNanoseconds());
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_MediaClockMicrophoneCalls);

}  // namespace
}  // namespace quillbridge
