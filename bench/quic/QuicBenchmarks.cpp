// QUIC transport figures on loopback: handshake time, single-stream throughput, the CPU cost of a
// 50 Mbit/s stream of 60 frames per second, and the rate of 1200-byte datagrams. Printed, not asserted.

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/quic/RunWithTimeout.hpp"
#include "support/quic/TestLoopback.hpp"
#include "support/quic/TestTLSIdentity.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;
using namespace std::chrono_literals;
using Pair = std::pair<std::shared_ptr<QuicConnection>, std::shared_ptr<QuicConnection>>;

std::chrono::nanoseconds threadCpuTime() {
    timespec value{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &value);
    return std::chrono::seconds(value.tv_sec) + std::chrono::nanoseconds(value.tv_nsec);
}

struct Setup {
    Setup() {
        QuicListenerParameters parameters;
        parameters.port = 0;
        parameters.bindAddress = testLoopbackAddress();
        parameters.identity = makeTestTLSIdentity("Bench Host");
        parameters.certificateValidator = [](ByteView) { return true; };
        listener = runWithTimeout(host.listen(parameters), 5s);
    }

    Pair connect() {
        return runWithTimeout(
            [](QuicListener& listener, QuicTestClient& headset) -> asio::awaitable<Pair> {
                auto [server, client] = co_await (listener.accept() && headset.connect(listener.localPort()));
                co_return Pair{server, client};
            }(*listener, headset),
            10s);
    }

    LinuxQuicTransport host;
    QuicTestClient headset;
    std::unique_ptr<QuicListener> listener;
};

void Handshake(benchmark::State& state) {
    Setup setup;
    for (auto _ : state) {
        auto pair = setup.connect();
        benchmark::DoNotOptimize(pair);
    }
    state.counters["handshakes_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(Handshake)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

void SingleStreamThroughput(benchmark::State& state) {
    Setup setup;
    auto [server, client] = setup.connect();
    constexpr std::size_t total = 512u << 20;
    constexpr std::size_t piece = 1u << 20;
    for (auto _ : state) {
        runWithTimeout(
            [](std::shared_ptr<QuicConnection> server,
               std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
                auto send = [](std::shared_ptr<QuicConnection> server) -> asio::awaitable<void> {
                    auto stream = co_await server->openStream(QuicStreamDirectionality::unidirectional);
                    const Bytes data(piece, 0x5A);
                    for (std::size_t sent = 0; sent < total; sent += piece) {
                        co_await stream->send(data, sent + piece == total);
                    }
                };
                auto receive = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
                    auto stream = co_await client->acceptStream();
                    for (;;) {
                        auto chunk = co_await stream->receive(1, 4u << 20);
                        if (chunk.isComplete) {
                            co_return;
                        }
                    }
                };
                co_await (send(server) && receive(client));
            }(server, client),
            120s);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
    state.counters["Gbit_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * total) * 8 / 1e9, benchmark::Counter::kIsRate);
}
BENCHMARK(SingleStreamThroughput)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// 50 Mbit/s as 60 frames per second for 3 s; the host's cost is its engine thread plus the sending coroutine.
void VideoStreamCpuCost(benchmark::State& state) {
    Setup setup;
    auto [server, client] = setup.connect();
    constexpr std::size_t frameBytes = 50'000'000 / 8 / 60;
    constexpr int frames = 180;
    double hostCpuPercent = 0;
    for (auto _ : state) {
        const auto engineBefore = setup.host.engineCpuTime();
        std::chrono::nanoseconds senderCpu{0};
        const auto start = std::chrono::steady_clock::now();
        runWithTimeout(
            [](std::shared_ptr<QuicConnection> server, std::shared_ptr<QuicConnection> client,
               std::chrono::nanoseconds& senderCpu) -> asio::awaitable<void> {
                auto send = [](std::shared_ptr<QuicConnection> server,
                               std::chrono::nanoseconds& senderCpu) -> asio::awaitable<void> {
                    auto stream = co_await server->openStream(QuicStreamDirectionality::unidirectional);
                    asio::steady_timer timer(co_await asio::this_coro::executor);
                    auto due = std::chrono::steady_clock::now();
                    for (int frame = 0; frame < frames; ++frame) {
                        const auto cpuBefore = threadCpuTime();
                        Bytes header(22, 2);
                        Bytes payload(frameBytes, static_cast<std::uint8_t>(frame));
                        senderCpu += threadCpuTime() - cpuBefore;
                        co_await stream->send(std::move(header), false);
                        co_await stream->send(std::move(payload), frame + 1 == frames);
                        due += std::chrono::microseconds(16667);
                        timer.expires_at(due);
                        co_await timer.async_wait(asio::use_awaitable);
                    }
                };
                auto receive = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<void> {
                    auto stream = co_await client->acceptStream();
                    for (;;) {
                        auto chunk = co_await stream->receive(1, 1u << 20);
                        if (chunk.isComplete) {
                            co_return;
                        }
                    }
                };
                co_await (send(server, senderCpu) && receive(client));
            }(server, client, senderCpu),
            30s);
        const auto wall = std::chrono::steady_clock::now() - start;
        const auto hostCpu = setup.host.engineCpuTime() - engineBefore;
        hostCpuPercent = 100.0 * static_cast<double>(hostCpu.count()) / static_cast<double>(wall.count());
        state.counters["engine_cpu_percent"] = hostCpuPercent;
        state.counters["frame_building_cpu_percent"] =
            100.0 * static_cast<double>(senderCpu.count()) / static_cast<double>(wall.count());
    }
}
BENCHMARK(VideoStreamCpuCost)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void DatagramRate(benchmark::State& state) {
    Setup setup;
    auto [server, client] = setup.connect();
    const std::size_t size = std::min<std::size_t>(1150, server->maximumDatagramSize());
    constexpr int count = 100'000;
    int received = 0;
    for (auto _ : state) {
        received = runWithTimeout(
            [](std::shared_ptr<QuicConnection> server, std::shared_ptr<QuicConnection> client,
               std::size_t size) -> asio::awaitable<int> {
                auto send = [](std::shared_ptr<QuicConnection> server,
                               std::size_t size) -> asio::awaitable<void> {
                    for (int i = 0; i < count; ++i) {
                        co_await server->sendDatagram(Bytes(size, 1));
                        if (i % 32 == 31) {
                            // Let the engine drain its queue, as a paced sender would.
                            asio::steady_timer timer(co_await asio::this_coro::executor, 100us);
                            co_await timer.async_wait(asio::use_awaitable);
                        }
                    }
                };
                auto receive = [](std::shared_ptr<QuicConnection> client) -> asio::awaitable<int> {
                    int received = 0;
                    asio::steady_timer timer(co_await asio::this_coro::executor);
                    for (;;) {
                        timer.expires_after(200ms);
                        auto result =
                            co_await (client->receiveDatagram() || timer.async_wait(asio::use_awaitable));
                        if (result.index() == 1) {
                            co_return received;
                        }
                        ++received;
                    }
                };
                co_return co_await (send(server, size) && receive(client));
            }(server, client, size),
            60s);
    }
    const auto statistics = server->statistics();
    state.counters["datagram_bytes"] = static_cast<double>(size);
    state.counters["received_per_s"] =
        benchmark::Counter(static_cast<double>(received), benchmark::Counter::kIsRate);
    state.counters["sent"] = static_cast<double>(statistics.datagramsSent);
    state.counters["dropped_unsent"] = static_cast<double>(statistics.datagramsDroppedUnsent);
}
BENCHMARK(DatagramRate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace quillbridge
