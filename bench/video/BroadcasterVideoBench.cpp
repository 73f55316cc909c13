// The host's whole video path for one captured frame: a BGRA frame in memory handed to the broadcaster until
// the last byte of its header and payload has been handed to the transport (a connected in-memory QUIC
// connection), through the real libavcodec encoder in software. Median and 95th percentile per frame.
// Printed, not asserted.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include <benchmark/benchmark.h>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "core/ManualClock.hpp"
#include "platform/linux/video/LibavVideoEncoderFactory.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeQuicTransport.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

namespace quillbridge {
namespace {

// Desktop-like content that changes every frame: a gradient and a window that moves.
std::shared_ptr<CapturedVideoFrame> desktopFrame(std::uint32_t width, std::uint32_t height, int index) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(width) * height * 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            auto* pixel = bytes->data() + (static_cast<std::size_t>(y) * width + x) * 4;
            const bool inWindow =
                x - (200 + index * 12) % width < 640 && y - (100 + index * 6) % height < 400;
            const bool stripe = (y / 3) % 5 == 0 && (x / 7) % 9 != 0;
            const auto shade = static_cast<std::uint8_t>((x + y) / 12);
            pixel[0] = inWindow ? (stripe ? 30 : 250) : shade;
            pixel[1] = inWindow ? (stripe ? 30 : 250) : static_cast<std::uint8_t>(shade / 2 + 40);
            pixel[2] = inWindow ? (stripe ? 30 : 250) : static_cast<std::uint8_t>(120 - shade / 3);
            pixel[3] = 255;
        }
    }
    auto buffer = std::make_shared<CapturedPixelBuffer>();
    buffer->width = width;
    buffer->height = height;
    buffer->pixelFormat = pixelFormatBGRA;
    buffer->planes = {{bytes->data(), static_cast<std::size_t>(width) * 4}};
    buffer->storage = bytes;
    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->imageBuffer = buffer;
    frame->formatDescription = CapturedVideoFrame::FormatDescription{width, height, {}};
    return frame;
}

double percentileMilliseconds(std::vector<double> nanoseconds, double fraction) {
    if (nanoseconds.empty())
        return 0;
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + static_cast<std::ptrdiff_t>(index),
                     nanoseconds.end());
    return nanoseconds[index] / 1e6;
}

// Arguments: codec (0 H.264, 1 HEVC), height (1080 or 720; 16:9).
void CapturedFrameToTransport(benchmark::State& state) {
    const auto codec = state.range(0) == 0 ? StreamCodec::h264 : StreamCodec::hevc;
    const auto height = static_cast<std::uint32_t>(state.range(1));
    const auto width = height * 16 / 9;
    std::vector<std::shared_ptr<CapturedVideoFrame>> frames;
    for (int index = 0; index < 12; ++index)
        frames.push_back(desktopFrame(width, height, index));

    asio::io_context context;
    auto guard = asio::make_work_guard(context);
    ManualClock clock;
    FakeQuicTransport transport;
    FakeServiceDiscovery discovery;
    FakeDefaultsStore defaults;
    FakeSecretStore secrets;
    LibavVideoEncoder::Options options;
    options.threadCount = 4;
    LibavVideoEncoderFactory encoders(options);

    ScreenStreamBroadcasterDependencies dependencies;
    dependencies.executor = context.get_executor();
    dependencies.transport = &transport;
    dependencies.makeAdvertiser = [&] { return discovery.makeAdvertiser(); };
    dependencies.makeBrowser = [&] { return discovery.makeBrowser(); };
    dependencies.clock = &clock;
    dependencies.defaults = &defaults;
    dependencies.secrets = &secrets;
    dependencies.videoEncoderFactory = &encoders;
    auto broadcaster = ScreenStreamBroadcaster::create(std::move(dependencies));

    auto drain = [&] {
        for (int round = 0; round < 1000; ++round) {
            context.restart();
            if (context.poll() == 0)
                return;
        }
    };
    auto spawn = [&](asio::awaitable<void> body, bool* done) {
        asio::co_spawn(context, std::move(body), [done](std::exception_ptr) {
            if (done)
                *done = true;
        });
    };
    auto runUntil = [&](const bool& done) {
        while (!done) {
            context.restart();
            context.run_one();
        }
    };

    spawn(broadcaster->startListening(), nullptr);
    drain();
    auto connection = transport.latestListener()->connect(Bytes{0x30, 0x82, 0x01});
    drain();
    std::shared_ptr<QuicStream> control;
    std::shared_ptr<QuicStream> media;
    bool ready = false;
    // A named closure: it must outlive the coroutine it starts.
    auto connectHeadset = [&]() -> asio::awaitable<void> {
        control = co_await connection->openStream(QuicStreamDirectionality::bidirectional);
        co_await broadcaster->authorizeCurrentSession();
        co_await control->send(ControlMessageFraming::encode(
                                   StreamControlMessage::make<StreamControlMessage::Case::receiverReady>()),
                               false);
        media = co_await connection->acceptStream();
        Bytes kind;
        while (kind.empty())
            kind = (co_await media->receive(1, 1)).data;
    };
    spawn(connectHeadset(), &ready);
    runUntil(ready);

    if (codec == StreamCodec::hevc) {
        spawn(broadcaster->setVideoCodec(StreamCodec::hevc), nullptr);
        drain();
    }

    // Reads one frame off the media stream: its header, then its payload.
    auto readFrame = [&]() -> asio::awaitable<void> {
        Bytes header;
        while (header.size() < VideoFrameStreamHeader::byteCount)
            appendBytes(header,
                        (co_await media->receive(1, VideoFrameStreamHeader::byteCount - header.size())).data);
        std::size_t left = (std::size_t{header[17]} << 24) | (std::size_t{header[18]} << 16) |
                           (std::size_t{header[19]} << 8) | header[20];
        while (left > 0)
            left -= (co_await media->receive(1, left)).data.size();
    };
    auto acknowledge = [&](std::uint64_t frameID) {
        spawn(control->send(ControlMessageFraming::encode(
                                StreamControlMessage::make<StreamControlMessage::Case::receiverReport>(
                                    {frameID, std::nullopt, std::nullopt})),
                            false),
              nullptr);
        drain();
    };

    std::vector<double> durations;
    std::uint64_t frameID = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        auto frame = std::make_shared<CapturedVideoFrame>(*frames[next]);
        frame->presentationTimeNanoseconds = frameID * 16'666'667ull;
        const auto start = std::chrono::steady_clock::now();
        bool sent = false;
        spawn(broadcaster->encodeOrDeferVideoFrame(frame), nullptr);
        spawn(readFrame(), &sent);
        runUntil(sent);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        if (frameID > 0)  // the first frame also builds the encoder
            durations.push_back(std::chrono::duration<double, std::nano>(elapsed).count());
        acknowledge(frameID++);
        next = (next + 1) % frames.size();
    }
    state.counters["p50_ms"] = percentileMilliseconds(durations, 0.50);
    state.counters["p95_ms"] = percentileMilliseconds(durations, 0.95);

    bool stopped = false;
    spawn(broadcaster->stop(), &stopped);
    runUntil(stopped);
    drain();
}
BENCHMARK(CapturedFrameToTransport)
    ->ArgNames({"hevc", "height"})
    ->Args({0, 1080})
    ->Args({1, 720})
    ->Args({1, 1080})
    ->Iterations(240)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillbridge
