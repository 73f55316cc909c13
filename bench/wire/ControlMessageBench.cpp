// Control stream throughput: encoding and framing a message, and reading a frame back and decoding it,
// for a mouse move (the most frequent message), a hello, a clipboard transfer request and a 60 KiB
// message (a text input near the frame limit); and the costliest text a peer can send for the reader's
// checks of repeated names, one frame filled with distinct member names.
#include <benchmark/benchmark.h>

#include "support/InMemoryByteStream.hpp"
#include "support/RunAwaitable.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

StreamControlMessage sample(int which) {
    switch (which) {
        case 0:
            return StreamControlMessage::make<Case::mouseMove>(MouseMoveMessage{3.25, -1.5});
        case 1:
            return StreamControlMessage::make<Case::hello>(
                SessionHelloMessage{Uuid::random(), "Living Room Headset", false, 19, 19});
        case 2:
            return StreamControlMessage::make<Case::clipboardTransferRequest>(
                ClipboardTransferRequestMessage{42, ClipboardTransferOperation::copyFromMac});
        default:
            return StreamControlMessage::make<Case::textInput>(TextInputMessage{std::string(60 * 1024, 'q')});
    }
}

void BM_EncodeAndFrame(benchmark::State& state) {
    auto message = sample(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ControlMessageFraming::encode(message));
    state.SetLabel(std::string(message.caseName()));
    state.counters["messages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeAndFrame)->DenseRange(0, 3);

void BM_ReadAndDecode(benchmark::State& state) {
    auto message = sample(static_cast<int>(state.range(0)));
    Bytes frame = ControlMessageFraming::encode(message);
    // Many frames back to back in one stream, read one after another as the control loop does.
    constexpr int framesPerStream = 64;
    Bytes stream;
    for (int index = 0; index < framesPerStream; ++index)
        appendBytes(stream, frame);
    for (auto _ : state) {
        state.PauseTiming();
        InMemoryByteStream input(stream);
        state.ResumeTiming();
        runAwaitable([&]() -> asio::awaitable<void> {
            for (int index = 0; index < framesPerStream; ++index) {
                Bytes body = co_await ControlMessageFraming::readMessageData(input);
                benchmark::DoNotOptimize(decodeJson<StreamControlMessage>(asText(body)));
            }
        }());
    }
    state.SetLabel(std::string(message.caseName()));
    state.counters["messages/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * framesPerStream), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadAndDecode)->DenseRange(0, 3);

// A heartbeat whose object holds as many distinct members as a 65,536-byte frame allows ("k0":0, ...),
// each of which the reader checks against the names before it.
void BM_DecodeFrameOfDistinctMembers(benchmark::State& state) {
    std::string body = R"({"heartbeat":{)";
    std::size_t members = 0;
    for (;;) {
        std::string member = (members == 0 ? "" : ",") + ("\"k" + std::to_string(members) + "\":0");
        if (body.size() + member.size() + 2 > ControlMessageFraming::maximumMessageLength)
            break;
        body += member;
        ++members;
    }
    body += "}}";
    if (!decodeJson<StreamControlMessage>(body))
        state.SkipWithError("the frame does not decode");
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeJson<StreamControlMessage>(body));
    state.counters["members"] = static_cast<double>(members);
    state.counters["messages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeFrameOfDistinctMembers);

}  // namespace
}  // namespace quillbridge
