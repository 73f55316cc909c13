// The host's work per headset microphone chunk (10 ms, 480 frames): the receiver's checks and media clock
// calls, then the device building the 40-byte packet and handing it to the audio objects (here an
// in-memory stand-in, so the channel's socket round trip is not counted). Divide the time per chunk by
// 10 ms for the share of one core while forwarding.

#include <benchmark/benchmark.h>

#include <memory>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "bridge/AudioObjectVirtualMicrophoneDevice.hpp"
#include "bridge/ClockedVisionMicrophoneReceiver.hpp"
#include "core/SteadyClock.hpp"
#include "support/bridge/FakeMicrophoneAudioObjectSystem.hpp"

namespace quillbridge {
namespace {

void microphoneChunkForwarding(benchmark::State& state) {
    auto system = std::make_shared<FakeMicrophoneAudioObjectSystem>();
    auto coordinator = std::make_shared<PersonaAVTimingCoordinator>();
    AudioObjectVirtualMicrophoneDevice device(system, coordinator, std::make_shared<SteadyClock>());
    if (!device.publish()) {
        state.SkipWithError("publish failed");
        return;
    }
    asio::io_context context;
    ClockedVisionMicrophoneReceiver receiver(
        context.get_executor(), coordinator,
        [&device](const MicrophoneFormatMessage&, std::uint64_t capture, std::int64_t target,
                  std::int64_t frames, bool, std::int64_t frameCount, const Bytes& payload) {
            device.submitAudio(capture, target, frames, frameCount, payload);
            return true;
        });
    Uuid stream = Uuid::random();
    asio::co_spawn(
        context,
        [&]() -> asio::awaitable<void> {
            co_await receiver.updateFormat(48000, 1);
            co_await receiver.startStream(stream);
        },
        asio::detached);
    context.run();

    const Bytes payload(480 * 4, 0x3f);
    std::uint64_t chunkID = 1;
    for (auto _ : state) {
        MicrophoneFrameStreamHeader header;
        header.chunkID = chunkID;
        header.captureTimeNanoseconds = chunkID * 10'000'000;
        header.frameCount = 480;
        header.payloadByteCount = 1920;
        ++chunkID;
        asio::co_spawn(context, receiver.receive(stream, header, payload), asio::detached);
        context.restart();
        context.run();
        if (chunkID % 1024 == 0) {
            system->with([](FakeMicrophoneAudioObjectSystem& fake) { fake.packets.clear(); });
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(microphoneChunkForwarding);

}  // namespace
}  // namespace quillbridge
