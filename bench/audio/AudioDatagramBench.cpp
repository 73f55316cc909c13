// Host time from a captured 512-frame PCM buffer arriving at the broadcaster to its audio datagram handed to
// the transport: accumulation, AAC-ELD encoding on fdk-aac, framing and the send, median and 99th
// percentile. The connection is the in-memory fake, so the figures are the host's own cost without a
// network. A chunk takes 10.7 ms to fill; this is what the host adds on top. Printed, not asserted.
//
//   quillbridge_audio_bench --benchmark_filter=BufferToDatagram --benchmark_counters_tabular=true

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#include <benchmark/benchmark.h>

#include <asio/co_spawn.hpp>

#include "platform/linux/audio/FdkAacAudioConverterFactory.hpp"
#include "support/InMemoryBroadcasterBench.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

double percentileMicroseconds(std::vector<double> nanoseconds, double fraction) {
    if (nanoseconds.empty())
        return 0;
    const auto index = static_cast<std::size_t>(fraction * (nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + index, nanoseconds.end());
    return nanoseconds[index] / 1000;
}

void BufferToDatagram(benchmark::State& state) {
    const auto channelCount = static_cast<std::uint32_t>(state.range(0));
    FdkAacAudioConverterFactory converters;
    InMemoryBroadcasterBench session([&](ScreenStreamBroadcasterDependencies& dependencies) {
        dependencies.audioConverterFactory = &converters;
    });
    // One second of a two-tone signal in 512-frame buffers, so each buffer completes one chunk.
    std::vector<AudioPCMBuffer> buffers;
    for (std::uint32_t first = 0; first + 512 <= 48'000; first += 512) {
        AudioPCMBuffer buffer;
        buffer.format = {48'000, channelCount, AudioSampleFormat::float32, false};
        buffer.frameLength = 512;
        for (std::uint32_t channel = 0; channel < channelCount; ++channel) {
            auto& samples = buffer.floatChannels.emplace_back();
            for (std::uint32_t frame = first; frame < first + 512; ++frame) {
                samples.push_back(static_cast<float>(
                    0.4 * std::sin(2 * std::numbers::pi * (440 + 220 * channel) * frame / 48'000.0)));
            }
        }
        buffers.push_back(std::move(buffer));
    }

    std::vector<double> durations;
    std::uint64_t chunk = 0;
    std::uint64_t time = 1'000'000'000;
    for (auto _ : state) {
        AudioPCMBuffer buffer = buffers[chunk % buffers.size()];
        buffer.presentationTimeNanoseconds = time;
        time += 10'666'667;
        const auto start = std::chrono::steady_clock::now();
        session.run(session.broadcaster->sendAudioDatagrams(std::move(buffer)));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        durations.push_back(std::chrono::duration<double, std::nano>(elapsed).count());
        // The headset takes the datagram and acknowledges it, so the flight window never closes.
        std::optional<Bytes> datagram;
        asio::co_spawn(session.context, session.headset->receiveDatagram(),
                       [&](std::exception_ptr error, Bytes bytes) {
                           if (!error)
                               datagram = std::move(bytes);
                       });
        session.drain();
        if (!datagram) {
            state.SkipWithError("a buffer gave no datagram");
            break;
        }
        session.send(StreamControlMessage::make<Case::receiverReport>({std::nullopt, std::nullopt, chunk}));
        ++chunk;
    }
    state.counters["p50_us"] = percentileMicroseconds(durations, 0.50);
    state.counters["p99_us"] = percentileMicroseconds(durations, 0.99);
}
BENCHMARK(BufferToDatagram)
    ->ArgName("channels")
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillbridge
