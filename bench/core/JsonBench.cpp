// Round trip of a small record through the strict JSON layer: encode to compact text, parse and decode.
#include <benchmark/benchmark.h>

#include "core/Json.hpp"

namespace quillbridge {

struct JsonBenchRecord {
    Uuid id;
    std::string name;
    std::uint64_t timeNanoseconds = 0;
    double scale = 0;
    bool enabled = false;
    std::optional<Date> lastSeenAt;
};

template <>
struct JsonFields<JsonBenchRecord> {
    static auto fields() {
        return std::tuple{jsonField("id", &JsonBenchRecord::id),
                          jsonField("name", &JsonBenchRecord::name),
                          jsonField("timeNanoseconds", &JsonBenchRecord::timeNanoseconds),
                          jsonField("scale", &JsonBenchRecord::scale),
                          jsonField("enabled", &JsonBenchRecord::enabled),
                          jsonField("lastSeenAt", &JsonBenchRecord::lastSeenAt)};
    }
};

namespace {

JsonBenchRecord makeRecord() {
    return {Uuid::random(), "Living Room Headset", 1234567890123456789ull, 1.5, true, Date{786240000.25}};
}

void BM_JsonEncode(benchmark::State& state) {
    auto record = makeRecord();
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeJson(record));
}
BENCHMARK(BM_JsonEncode);

void BM_JsonDecode(benchmark::State& state) {
    auto text = *encodeJson(makeRecord());
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeJson<JsonBenchRecord>(text));
}
BENCHMARK(BM_JsonDecode);

void BM_JsonRoundTrip(benchmark::State& state) {
    auto record = makeRecord();
    for (auto _ : state) {
        auto text = encodeJson(record);
        benchmark::DoNotOptimize(decodeJson<JsonBenchRecord>(*text));
    }
    state.counters["round trips/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_JsonRoundTrip);

}  // namespace
}  // namespace quillbridge
