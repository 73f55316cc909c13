// The microphone program's IO cycle: one 480-frame read of input (the adaptive reader with interpolation, as
// the PipeWire process callback runs it) while the host keeps the queue at its target, and, for comparison,
// the host's 480-frame packet write. Median and 99th percentile per call. Printed, not asserted; the goal
// for the read is a 99th percentile under 20 µs.
//
//   quillbridge_microphone_reader_bench --benchmark_counters_tabular=true

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

#include <benchmark/benchmark.h>

#include "support/microphone/MicrophoneDriverHarness.hpp"

namespace quillbridge {
namespace {

using namespace microphone;

double percentileMicroseconds(std::vector<double> nanoseconds, double fraction) {
    if (nanoseconds.empty()) {
        return 0;
    }
    auto index = static_cast<std::size_t>(fraction * static_cast<double>(nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + static_cast<std::ptrdiff_t>(index),
                     nanoseconds.end());
    return nanoseconds[index] / 1000;
}

std::vector<std::uint8_t> tonePacket(std::uint64_t firstFrame) {
    std::vector<float> samples(480);
    for (std::size_t index = 0; index < samples.size(); ++index) {
        samples[index] =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440 * (firstFrame + index) / 48000.0));
    }
    return encodeMicrophonePacket(MicrophonePacketHeader{1, 0, firstFrame * 20833, 0, 1440},
                                  std::span<const float>(samples));
}

void reportPercentiles(benchmark::State& state, const std::vector<double>& durations) {
    state.counters["p50_us"] = percentileMicroseconds(durations, 0.50);
    state.counters["p99_us"] = percentileMicroseconds(durations, 0.99);
    state.counters["max_us"] = percentileMicroseconds(durations, 1.0);
}

void ReadInputCycle(benchmark::State& state) {
    MicrophoneDriverHarness harness;
    std::uint64_t written = 0;
    // Prebuffered to the target and a little over, so the reader plays, adjusting its rate.
    while (written < 1920) {
        harness.writePacket(tonePacket(written));
        written += 480;
    }
    std::vector<float> output(480);
    MicrophoneIOCycleInfo cycle;
    cycle.outputTime.flags = MicrophoneTimeStamp::hostTimeValid;
    std::vector<double> durations;
    durations.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        harness.writePacket(tonePacket(written));
        written += 480;
        cycle.outputTime.hostTime += 10'000'000;
        auto start = std::chrono::steady_clock::now();
        harness.table().doIOOperation(harness.ref, deviceObjectID, inputStreamObjectID, 0,
                                      microphone_io::readInput, 480, &cycle, output.data(), nullptr);
        auto elapsed = std::chrono::steady_clock::now() - start;
        benchmark::DoNotOptimize(output.data());
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        durations.push_back(std::chrono::duration<double, std::nano>(elapsed).count());
    }
    if (harness.diagnostics().underflows != 0) {
        state.SkipWithError("the reader ran dry");
    }
    reportPercentiles(state, durations);
}
BENCHMARK(ReadInputCycle)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50000);

void WritePacket(benchmark::State& state) {
    MicrophoneDriverHarness harness;
    auto packet = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createData(tonePacket(0)));
    const MicrophonePropertyObject* reference = packet.get();
    auto address = MicrophoneDriverHarness::address(selector::audioPacket);
    std::vector<double> durations;
    durations.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        harness.table().setPropertyData(harness.ref, deviceObjectID, 0, &address, 0, nullptr, 8, &reference);
        auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        durations.push_back(std::chrono::duration<double, std::nano>(elapsed).count());
    }
    reportPercentiles(state, durations);
}
BENCHMARK(WritePacket)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50000);

}  // namespace
}  // namespace quillbridge
