// A clipboard copy from the host to a headset over QUIC on loopback: the broadcaster sends a 64 MiB body
// on a stream it opens, the test client reads it (keeping none of it) and answers. Reports the throughput
// from request to result, and the most memory a transfer added on top of the one body the host holds.
//
//   quillbridge_clipboard_copy_bench --benchmark_counters_tabular=true

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "core/Logger.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/BoundedEventLoop.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/session/FakeClipboardTransferService.hpp"
#include "support/session/FakeKeyboardReportingService.hpp"
#include "support/session/LoopbackBroadcasterServices.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"
#include "wire/ClipboardPayloadStreamHeader.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;
using namespace std::chrono_literals;

class NullSink final : public LogSink {
public:
    void write(const LogRecord&) override {}
};

// A figure of this process's memory from /proc/self/status, in bytes ("VmHWM:" the peak resident set size,
// "VmRSS:" the current one).
double statusBytes(std::string_view key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(key)) {
            return std::stod(line.substr(key.size())) * 1024.0;
        }
    }
    return 0;
}

// Starts the peak resident set size over from the current one.
void resetPeakResidentBytes() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Drains the body without keeping it.
asio::awaitable<std::size_t> drainBody(std::shared_ptr<QuicStream> stream, std::uint64_t byteCount) {
    co_await ClipboardPayloadStreamCodec::receiveBytes(byteCount, *stream);
    co_return static_cast<std::size_t>(byteCount);
}

struct LoopbackSession : BoundedEventLoop, LoopbackBroadcasterServices {
    LoopbackSession() {
        // A 64 MiB body in a debug build with the sanitizers takes a while.
        runBound = std::chrono::minutes(5);
        previousSink = installLogSink(std::make_shared<NullSink>());
        auto dependencies = loopbackDependencies(context.get_executor());
        // The headset here never reports its receiver ready; keep the session up for the whole run.
        dependencies.sessionSetupTimeout = std::chrono::hours(1);
        dependencies.clipboard = &clipboard;
        dependencies.keyboardReporting = &keyboard;
        broadcaster = ScreenStreamBroadcaster::create(std::move(dependencies));
        run(broadcaster->startListening());
        runUntil([&] { return discovery.lastAdvertiser() && discovery.lastAdvertiser()->isPublished(); });
        port = discovery.lastAdvertiser()->advertisement()->port;
        connection = run(client.connect(port));
        control = run(connection->openStream(QuicStreamDirectionality::bidirectional));
        SessionHelloMessage hello;
        hello.displayName = "Bench";
        // A headset that asks to pair: the host answers and waits, and the bench authorises the session.
        hello.wantsPairing = true;
        hello.controlProtocolVersion = 19;
        hello.minimumCompatibleControlProtocolVersion = 19;
        run(control->send(ControlMessageFraming::encode(StreamControlMessage::make<Case::hello>(hello)),
                          false));
        runFor(300ms);
        run(broadcaster->authorizeCurrentSession());
    }

    ~LoopbackSession() {
        run(broadcaster->stop());
        runFor(50ms);
        broadcaster.reset();
        installLogSink(previousSink);
    }

    std::shared_ptr<LogSink> previousSink;
    QuicTestClient client;
    FakeClipboardTransferService clipboard;
    FakeKeyboardReportingService keyboard;
    std::uint16_t port = 0;
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster;
    std::shared_ptr<QuicConnection> connection;
    std::shared_ptr<QuicStream> control;
};

void BM_ClipboardCopyOverLoopback(benchmark::State& state) {
    LoopbackSession session;
    auto representation = ClipboardRepresentation::make("public.data", Bytes(64 * 1024 * 1024, 0x5A));
    auto item = ClipboardItem::make({std::move(representation).value()}, std::nullopt);
    const auto payload = ClipboardTransferPayload::make({std::move(item).value()}).value();
    const auto bodyByteCount = payload.encodedByteCount();
    std::uint64_t transferID = 0;
    double mostAboveBody = 0;
    for (auto _ : state) {
        // The desktop clipboard's snapshot is taken before the clock runs: the figures are the transfer's.
        // The host takes this copy over at the capture; it is the one body it holds.
        state.PauseTiming();
        session.clipboard.nextCaptureResults.push_back(RemoteClipboardCaptureResult::captured(payload));
        resetPeakResidentBytes();
        const double before = statusBytes("VmRSS:");
        state.ResumeTiming();

        session.run(session.control->send(
            ControlMessageFraming::encode(StreamControlMessage::make<Case::clipboardTransferRequest>(
                {++transferID, ClipboardTransferOperation::copyFromMac})),
            false));
        auto stream = session.run(session.connection->acceptStream());
        session.run(stream->receiveExactly(1 + ClipboardPayloadStreamHeader::encodedByteCount));
        session.run(drainBody(stream, bodyByteCount));
        session.run(
            ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::succeeded, *stream));
        session.runFor(1ms);

        state.PauseTiming();
        mostAboveBody = std::max(mostAboveBody, statusBytes("VmHWM:") - before);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bodyByteCount));
    state.counters["Gbit/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * bodyByteCount) * 8 / 1e9, benchmark::Counter::kIsRate);
    state.counters["body_MiB"] = static_cast<double>(bodyByteCount) / (1024.0 * 1024.0);
    // What the transfer added at its peak on top of the body the host holds, host and headset together (the
    // headset's receive buffers share this process).
    state.counters["peakAboveBody_MiB"] = mostAboveBody / (1024.0 * 1024.0);
    state.counters["peakRSS_MiB"] = statusBytes("VmHWM:") / (1024.0 * 1024.0);
}
BENCHMARK(BM_ClipboardCopyOverLoopback)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace quillbridge
