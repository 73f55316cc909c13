// Cost of the per-frame and per-chunk binary headers: the video frame header written in front of every
// encoded frame and read in front of every Persona camera frame, and the audio datagram built per chunk.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/Bytes.hpp"
#include "wire/AudioFrameDatagram.hpp"
#include "wire/MicrophoneFrameStreamHeader.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

namespace quillbridge {
namespace {

void videoFrameHeaderEncode(benchmark::State& state) {
    VideoFrameStreamHeader header{VideoFrameStreamHeader::hostVersion, 0, 1'000'000'000, 65'536, false};
    for (auto _ : state) {
        ++header.frameID;
        Bytes data = header.encodedData();
        benchmark::DoNotOptimize(data.data());
    }
}
BENCHMARK(videoFrameHeaderEncode);

void videoFrameHeaderDecode(benchmark::State& state) {
    Bytes data =
        VideoFrameStreamHeader{VideoFrameStreamHeader::readableVersion, 42, 1'000'000'000, 65'536, true}
            .encodedData();
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.data());
        auto header = VideoFrameStreamHeader::decode(data);
        benchmark::DoNotOptimize(header);
    }
}
BENCHMARK(videoFrameHeaderDecode);

void microphoneFrameHeaderDecode(benchmark::State& state) {
    Bytes data = *fromHex("01 00000000000000ff 0000001d1a94a200 000001e0 00000780");
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.data());
        auto header = MicrophoneFrameStreamHeader::decode(data);
        benchmark::DoNotOptimize(header);
    }
}
BENCHMARK(microphoneFrameHeaderDecode);

void audioFrameDatagramEncode(benchmark::State& state) {
    AudioFrameDatagram datagram;
    datagram.formatRevision = 1;
    datagram.header = AudioFrameStreamHeader{1, 0, 0, 1, 8, 400};
    datagram.packetDescriptions = {{400, 0}};
    datagram.payload.assign(400, 0x5A);
    for (auto _ : state) {
        ++datagram.header.chunkID;
        auto data = datagram.encodedData();
        benchmark::DoNotOptimize(data);
    }
}
BENCHMARK(audioFrameDatagramEncode);

}  // namespace
}  // namespace quillbridge
