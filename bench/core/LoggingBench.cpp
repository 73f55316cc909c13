// What a log call costs on a path a peer can trigger once per packet: below the threshold, suppressed by a
// rate limiter, and written (to a sink that discards it) for comparison.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"

namespace quillbridge {
namespace {

class DiscardingLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override { benchmark::DoNotOptimize(record.message.data()); }
};

// Installs the discarding sink and a threshold for one benchmark.
class BenchLogging {
public:
    explicit BenchLogging(LogLevel threshold)
        : previousSink_(installLogSink(std::make_shared<DiscardingLogSink>())),
          previousThreshold_(setLogLevelThreshold(threshold)) {}
    ~BenchLogging() {
        installLogSink(previousSink_);
        setLogLevelThreshold(previousThreshold_);
    }

private:
    std::shared_ptr<LogSink> previousSink_;
    LogLevel previousThreshold_;
};

void BM_LogDebugBelowThreshold(benchmark::State& state) {
    BenchLogging logging(LogLevel::info);
    const Logger logger{"QuicTransport"};
    int packet = 0;
    for (auto _ : state)
        logger.debug("UDP send failed: packet ", ++packet, " of ", 64);
}
BENCHMARK(BM_LogDebugBelowThreshold);

void BM_LogSuppressedByRateLimiter(benchmark::State& state) {
    BenchLogging logging(LogLevel::debug);
    LogRateLimiter limiter(Logger{"QuicTransport"}, "UDP send failures", {1, std::chrono::hours(1)});
    int packet = 0;
    for (auto _ : state)
        limiter.debug("UDP send failed: packet ", ++packet, " of ", 64);
}
BENCHMARK(BM_LogSuppressedByRateLimiter);

void BM_LogWritten(benchmark::State& state) {
    BenchLogging logging(LogLevel::debug);
    const Logger logger{"QuicTransport"};
    int packet = 0;
    for (auto _ : state)
        logger.debug("UDP send failed: packet ", ++packet, " of ", 64);
}
BENCHMARK(BM_LogWritten);

}  // namespace
}  // namespace quillbridge
