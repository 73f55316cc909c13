// The copying the camera extension does per frame at 1920x1080 NV12 (3 MB): a consumed sink frame into a
// source buffer (both packed, or from rows padded to 2048 bytes), which is also the packing of a frame for
// the V4L2 loopback device. Goal: under 2 ms per frame. Printed, not asserted.

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "camera_extension/CameraImage.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;

// Eight frames on each side (50 MB), used in turn, so that the copy reads and writes memory rather than
// cache, as with frames in shared memory that another process has just written.
void copyFrame(benchmark::State& state) {
    constexpr std::size_t frameCount = 8;
    const std::size_t sourceStride = std::size_t(state.range(0));
    std::vector<std::vector<std::uint8_t>> sources;
    std::vector<std::vector<std::uint8_t>> destinations;
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        sources.emplace_back(sourceStride * (Ids::heightPixels + Ids::chromaRowCount), std::uint8_t(frame));
        destinations.emplace_back(Ids::frameByteCount, 0);
    }
    std::size_t next = 0;
    for (auto _ : state) {
        auto& source = sources[next];
        auto& destination = destinations[next];
        next = (next + 1) % frameCount;
        copyCameraImage(*cameraImageInBlock<const std::uint8_t>(source.data(), source.size(), sourceStride),
                        *cameraImageInBlock(destination.data(), destination.size(), Ids::lumaRowByteCount));
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(Ids::frameByteCount));
}

// Row strides of the frame copied from: packed (1920) and padded (2048).
BENCHMARK(copyFrame)
    ->Arg(1920)
    ->Arg(2048)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace
}  // namespace quillbridge
