// Cost of handing work to the blocking-work pool and resuming on the caller's executor: one runBlocking of a
// trivial function, awaited from a coroutine on an io_context, per iteration.
#include <benchmark/benchmark.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "core/BlockingWorkPool.hpp"

namespace quillbridge {
namespace {

asio::awaitable<void> roundTrips(BlockingWorkPool& pool, std::int64_t count, std::int64_t& sum) {
    for (std::int64_t index = 0; index < count; ++index)
        sum += co_await runBlocking(pool, [index] { return index; });
}

void BM_RunBlockingRoundTrip(benchmark::State& state) {
    BlockingWorkPool pool;
    asio::io_context io;
    constexpr std::int64_t batch = 1000;
    std::int64_t sum = 0;
    for (auto _ : state) {
        asio::co_spawn(io, roundTrips(pool, batch, sum), asio::detached);
        io.restart();
        io.run();
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_RunBlockingRoundTrip)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillbridge
