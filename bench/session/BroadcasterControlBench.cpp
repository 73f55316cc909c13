// Control messages through the broadcaster: dispatch throughput from the stream to the handler, and the
// host's time from a clock synchronisation request arriving to its response leaving. The connection is the
// in-memory fake, so the figures are the host's own cost without a network.
//
//   quillbridge_session_bench --benchmark_counters_tabular=true

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

#include "session/RemoteInputSink.hpp"
#include "support/InMemoryBroadcasterBench.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

// Counts input without keeping it.
class CountingInputSink final : public RemoteInputSink {
public:
    void handleMouseButton(MouseButton, MouseButtonPhase) override {}
    void moveMouseBy(double, double) override { ++moves; }
    void moveMouseTo(double, double) override {}
    void scroll(double, double, MouseScrollPhase, MouseScrollMomentumPhase) override {}
    void handleKey(RemoteKeyboardKey, KeyboardEventPhase) override {}
    void typeText(const std::string&) override {}
    void performSystemAction(RemoteSystemAction) override {}
    void releaseAll() override {}
    std::size_t moves = 0;
};

// Small messages in one burst per iteration, read, decoded and dispatched to the input handler.
void BM_ControlMessageDispatch(benchmark::State& state) {
    CountingInputSink input;
    InMemoryBroadcasterBench session(
        [&](ScreenStreamBroadcasterDependencies& dependencies) { dependencies.remoteInput = &input; });
    const auto batch = static_cast<std::size_t>(state.range(0));
    Bytes frames;
    const Bytes frame =
        ControlMessageFraming::encode(StreamControlMessage::make<Case::mouseMove>({1.5, -2.25}));
    for (std::size_t index = 0; index < batch; ++index) {
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    for (auto _ : state) {
        const std::size_t before = input.moves;
        session.run(session.control->send(frames, false));
        if (input.moves != before + batch) {
            state.SkipWithError("not every message reached its handler");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
}
BENCHMARK(BM_ControlMessageDispatch)->Arg(1000)->Unit(benchmark::kMillisecond);

// Host time per clock synchronisation: from the request's frame arriving to the response's frame being
// handed to the stream, as the response's own stamps record it (receive stamp after the read, send stamp
// while the reply is built) plus the send; and the full round trip through the in-memory stream.
void BM_ClockSynchronizationResponse(benchmark::State& state) {
    CountingInputSink input;
    InMemoryBroadcasterBench session(
        [&](ScreenStreamBroadcasterDependencies& dependencies) { dependencies.remoteInput = &input; });
    std::vector<double> hostMicroseconds;
    std::vector<double> roundTripMicroseconds;
    std::uint32_t sequence = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        session.send(StreamControlMessage::make<Case::clockSynchronizationRequest>({++sequence, 1}));
        const Bytes data = session.run(ControlMessageFraming::readMessageData(*session.control));
        const auto end = std::chrono::steady_clock::now();
        auto response = decodeJson<StreamControlMessage>(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        const auto* clock = response ? response->get<Case::clockSynchronizationResponse>() : nullptr;
        if (clock == nullptr || clock->sequenceNumber != sequence) {
            state.SkipWithError("no matching response");
            break;
        }
        hostMicroseconds.push_back(
            static_cast<double>(clock->hostSendTimeNanoseconds - clock->hostReceiveTimeNanoseconds) / 1000.0);
        roundTripMicroseconds.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    auto percentile = [](std::vector<double> values, double fraction) {
        if (values.empty()) {
            return 0.0;
        }
        std::sort(values.begin(), values.end());
        return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()))];
    };
    state.counters["stamps_p50_us"] = percentile(hostMicroseconds, 0.50);
    state.counters["stamps_p99_us"] = percentile(hostMicroseconds, 0.99);
    state.counters["round_trip_p50_us"] = percentile(roundTripMicroseconds, 0.50);
    state.counters["round_trip_p99_us"] = percentile(roundTripMicroseconds, 0.99);
}
BENCHMARK(BM_ClockSynchronizationResponse)->Iterations(5000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillbridge
