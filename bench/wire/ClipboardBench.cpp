// Throughput of the clipboard payload stream codec over an in-memory stream: writing a body in pieces,
// reading it back with every bound checked, and discarding it. No transport is involved.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "wire/ClipboardPayloadStreamCodec.hpp"

namespace quillbridge {
namespace {

// The peer's bytes, ended after the last one; sends are appended to `sent`.
class MemoryStream : public ByteStreamReader, public ByteStreamWriter {
public:
    explicit MemoryStream(const Bytes* incoming = nullptr) : incoming_(incoming) {}

    asio::awaitable<ReceivedBytes> receive(std::size_t count) override {
        std::size_t taken = std::min(count, incoming_->size() - position_);
        ReceivedBytes received;
        received.content.assign(incoming_->begin() + static_cast<std::ptrdiff_t>(position_),
                                incoming_->begin() + static_cast<std::ptrdiff_t>(position_ + taken));
        position_ += taken;
        received.endOfStream = position_ == incoming_->size();
        co_return received;
    }

    asio::awaitable<void> send(Bytes bytes, bool) override {
        appendBytes(sent, bytes);
        co_return;
    }

    Bytes sent;

private:
    const Bytes* incoming_;
    std::size_t position_ = 0;
};

template <typename Awaitable>
void runToEnd(Awaitable awaitable) {
    asio::io_context context;
    asio::co_spawn(context, std::move(awaitable), asio::detached);
    context.run();
}

// `count` representations of `byteCount` bytes each, one item per representation.
ClipboardTransferPayload payload(std::size_t count, std::size_t byteCount) {
    std::vector<ClipboardItem> items;
    for (std::size_t index = 0; index < count; ++index) {
        auto representation = *ClipboardRepresentation::make(
            "public.data." + std::to_string(index), Bytes(byteCount, static_cast<std::uint8_t>(index)));
        items.push_back(*ClipboardItem::make({representation}, std::nullopt));
    }
    return *ClipboardTransferPayload::make(std::move(items));
}

void setUp(benchmark::State& state, ClipboardTransferPayload& value, Bytes& body) {
    value = payload(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    MemoryStream writer;
    runToEnd(ClipboardPayloadStreamCodec::write(value, writer));
    body = std::move(writer.sent);
}

void BM_ClipboardWrite(benchmark::State& state) {
    auto value = payload(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        MemoryStream writer;
        runToEnd(ClipboardPayloadStreamCodec::write(value, writer));
        benchmark::DoNotOptimize(writer.sent.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * value.encodedByteCount()));
}

void BM_ClipboardRead(benchmark::State& state) {
    auto value = payload(1, 1);
    Bytes body;
    setUp(state, value, body);
    for (auto _ : state) {
        MemoryStream reader(&body);
        std::size_t items = 0;
        runToEnd([&]() -> asio::awaitable<void> {
            auto read = co_await ClipboardPayloadStreamCodec::read(reader, body.size());
            items = read.items().size();
        }());
        benchmark::DoNotOptimize(items);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void BM_ClipboardDiscard(benchmark::State& state) {
    auto value = payload(1, 1);
    Bytes body;
    setUp(state, value, body);
    for (auto _ : state) {
        MemoryStream reader(&body);
        runToEnd(ClipboardPayloadStreamCodec::receiveBytes(body.size(), reader));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

// A short text, a 1 MiB image, and the 64 MiB maximum in four representations.
BENCHMARK(BM_ClipboardWrite)
    ->Args({1, 64})
    ->Args({1, 1 << 20})
    ->Args({4, 16 << 20})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClipboardRead)
    ->Args({1, 64})
    ->Args({1, 1 << 20})
    ->Args({4, 16 << 20})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClipboardDiscard)->Args({1, 1 << 20})->Args({4, 16 << 20})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillbridge
