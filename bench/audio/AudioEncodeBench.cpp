// The cost of compressing one 512-frame chunk of 48 kHz audio into AAC-ELD, as the session does it
// (AudioCompressionSession::encode on fdk-aac): median and 99th percentile per chunk. A chunk takes
// 10.7 ms to fill. Printed, not asserted.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/linux/audio/FdkAacAudioConverterFactory.hpp"
#include "session/AudioCompressionSession.hpp"

namespace quillbridge {
namespace {

// One second of music-like audio in 512-frame chunks: two tones per channel and some noise.
std::vector<AudioPCMBuffer> makeChunks(std::uint32_t channelCount) {
    constexpr double sampleRate = 48'000;
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    std::vector<AudioPCMBuffer> chunks;
    for (std::uint32_t first = 0; first + 512 <= 48'000; first += 512) {
        AudioPCMBuffer chunk;
        chunk.format = {sampleRate, channelCount, AudioSampleFormat::float32, false};
        chunk.frameLength = 512;
        for (std::uint32_t channel = 0; channel < channelCount; ++channel) {
            auto& samples = chunk.floatChannels.emplace_back();
            for (std::uint32_t frame = first; frame < first + 512; ++frame) {
                const double time = frame / sampleRate;
                samples.push_back(
                    static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * (220 + 110 * channel) * time) +
                                       0.2 * std::sin(2 * std::numbers::pi * 3300 * time)) +
                    noise(random));
            }
        }
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

double percentileMicroseconds(std::vector<double> nanoseconds, double fraction) {
    if (nanoseconds.empty())
        return 0;
    const auto index = static_cast<std::size_t>(fraction * (nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + index, nanoseconds.end());
    return nanoseconds[index] / 1000;
}

void EncodeChunk(benchmark::State& state) {
    const auto channelCount = static_cast<std::uint32_t>(state.range(0));
    const auto chunks = makeChunks(channelCount);
    FdkAacAudioConverterFactory factory;
    AudioCompressionSession session(factory);
    // The converter is built by the first chunk; that one-time cost is not part of the figures.
    session.encode(chunks[0]);

    std::vector<double> durations;
    durations.reserve(200'000);
    std::size_t payloadBytes = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto packet = session.encode(chunks[next]);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        durations.push_back(std::chrono::duration<double, std::nano>(elapsed).count());
        if (!packet) {
            state.SkipWithError("a chunk gave no packet");
            break;
        }
        payloadBytes += packet->payload.size();
        next = (next + 1) % chunks.size();
    }
    state.counters["p50_us"] = percentileMicroseconds(durations, 0.50);
    state.counters["p99_us"] = percentileMicroseconds(durations, 0.99);
    state.counters["payload_bytes"] =
        durations.empty() ? 0 : static_cast<double>(payloadBytes) / static_cast<double>(durations.size());
}
BENCHMARK(EncodeChunk)->ArgName("channels")->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillbridge
