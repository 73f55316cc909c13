// The host's cost of one captured frame: a BGRA frame in memory handed to the video encoder until its
// length-prefixed payload is back on the caller's executor (conversion to YUV, compression, Annex B
// rewriting, the hand-over between threads). Median and 95th percentile per frame, and the conversion's own
// median and share. Printed, not asserted.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
extern "C" {
#include <libavutil/frame.h>
}

#include "platform/linux/video/LibavVideoEncoder.hpp"
#include "platform/linux/video/VideoFrameConverter.hpp"
#include "session/VideoCompressionSupport.hpp"

namespace quillbridge {
namespace {

// Desktop-like content that changes every frame: a gradient background, text-like stripes and a window
// that moves.
std::shared_ptr<const CapturedPixelBuffer> desktopFrame(std::uint32_t width, std::uint32_t height,
                                                        int index) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(width) * height * 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            auto* pixel = bytes->data() + (static_cast<std::size_t>(y) * width + x) * 4;
            const bool inWindow =
                x - (200 + index * 12) % width < 640 && y - (100 + index * 6) % height < 400;
            const bool stripe = (y / 3) % 5 == 0 && (x / 7) % 9 != 0;
            const std::uint8_t shade = static_cast<std::uint8_t>((x + y) / 12);
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
    return buffer;
}

double percentileMilliseconds(std::vector<double> nanoseconds, double fraction) {
    if (nanoseconds.empty())
        return 0;
    const auto index = static_cast<std::size_t>(fraction * (nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + index, nanoseconds.end());
    return nanoseconds[index] / 1e6;
}

// The conversion alone, as the encoder's worker does it.
double conversionMedianMilliseconds(const std::vector<std::shared_ptr<const CapturedPixelBuffer>>& frames) {
    AVFrame* picture = av_frame_alloc();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = static_cast<int>(frames[0]->width);
    picture->height = static_cast<int>(frames[0]->height);
    av_frame_get_buffer(picture, 0);
    VideoFrameConverter converter;
    std::vector<double> durations;
    for (int round = 0; round < 60; ++round) {
        const auto start = std::chrono::steady_clock::now();
        converter.convert(*frames[round % frames.size()], *picture);
        durations.push_back(
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
    }
    av_frame_free(&picture);
    return percentileMilliseconds(durations, 0.5);
}

// Arguments: codec (0 H.264, 1 HEVC), height (1080 or 720; 16:9), encoder threads.
void EncodeFrame(benchmark::State& state) {
    const auto codec = state.range(0) == 0 ? StreamCodec::h264 : StreamCodec::hevc;
    const auto height = static_cast<std::uint32_t>(state.range(1));
    const auto width = height * 16 / 9;
    std::vector<std::shared_ptr<const CapturedPixelBuffer>> frames;
    for (int index = 0; index < 12; ++index)
        frames.push_back(desktopFrame(width, height, index));

    VideoEncoderConfiguration configuration;
    configuration.codec = codec;
    configuration.width = width;
    configuration.height = height;
    configuration.frameRate = 60;
    configuration.averageBitRate = recommendedBitrate(width, height, 60);
    LibavVideoEncoder::Options options;
    options.threadCount = static_cast<int>(state.range(2));

    asio::io_context outputs;
    auto guard = asio::make_work_guard(outputs);
    std::size_t payloadBytes = 0;
    bool failed = false;
    auto encoder = LibavVideoEncoder::open(configuration, options, outputs.get_executor(),
                                           [&](VideoEncoderOutput output) {
                                               if (output.sample)
                                                   payloadBytes += output.sample->payload.size();
                                               else
                                                   failed = true;
                                           });
    if (!encoder) {
        state.SkipWithError("the encoder did not open");
        return;
    }
    // The first frame (an IDR picture, and the encoder's warm-up) is not part of the figures.
    (*encoder)->encode({frames[0], 0, 0, true, 1});
    outputs.run_one();
    payloadBytes = 0;

    std::vector<double> durations;
    std::size_t next = 1;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        (*encoder)->encode({frames[next], next * 16'666'667ull, 16'666'667, false, 1});
        outputs.run_one();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        durations.push_back(std::chrono::duration<double, std::nano>(elapsed).count());
        next = (next + 1) % frames.size();
        if (failed) {
            state.SkipWithError("a frame gave no payload");
            break;
        }
    }
    const double median = percentileMilliseconds(durations, 0.50);
    const double conversion = conversionMedianMilliseconds(frames);
    state.counters["p50_ms"] = median;
    state.counters["p95_ms"] = percentileMilliseconds(durations, 0.95);
    state.counters["convert_p50_ms"] = conversion;
    state.counters["convert_share"] = median > 0 ? conversion / median : 0;
    state.counters["payload_kB"] = durations.empty() ? 0 : payloadBytes / 1000.0 / durations.size();
}
BENCHMARK(EncodeFrame)
    ->ArgNames({"hevc", "height", "threads"})
    ->Args({0, 1080, 4})
    ->Args({1, 720, 4})
    ->Args({1, 1080, 4})
    ->Iterations(240)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillbridge
