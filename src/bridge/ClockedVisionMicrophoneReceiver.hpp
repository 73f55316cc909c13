#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <asio/any_io_executor.hpp>

#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/VisionMicrophoneReceiver.hpp"
#include "core/Actor.hpp"
#include "core/Logger.hpp"
#include "wire/MicrophoneFormatMessage.hpp"

namespace quillbridge {

// The host's microphone receiver: accepts 48 kHz mono only, one stream at a time, refuses chunks that are
// not newer than the highest one accepted, follows the capture timeline (a gap of more than 2 ms, either
// way, starts a new one) and asks the media clock when each chunk is to play and how much audio to keep
// queued, before handing the chunk to its handler.
//
// An actor: its state lives on its own strand; the awaitables complete on the caller's executor.
class ClockedVisionMicrophoneReceiver final : public VisionMicrophoneReceiver {
public:
    // Takes the format, the capture time, the target host time, the target buffer frame count, whether the
    // chunk starts a new timeline, the frame count and the samples; answers whether it took the chunk. Called
    // on the receiver's strand; must not block.
    using ChunkHandler =
        std::function<bool(const MicrophoneFormatMessage& format, std::uint64_t captureTimeNanoseconds,
                           std::int64_t targetHostTimeNanoseconds, std::int64_t targetBufferFrameCount,
                           bool startsNewTimeline, std::int64_t frameCount, const Bytes& payload)>;
    // The host's current CLOCK_MONOTONIC time in nanoseconds.
    using HostTimeSource = std::function<std::uint64_t()>;

    static constexpr double acceptedSampleRate = 48000.0;
    static constexpr std::uint32_t acceptedChannelCount = 1;
    static constexpr std::int64_t timelineToleranceNanoseconds = 2'000'000;
    static constexpr std::int64_t minimumReservoirNanoseconds = 30'000'000;
    static constexpr std::int64_t minimumTargetBufferFrameCount = 1440;
    static constexpr std::int64_t maximumTargetBufferFrameCount = 5760;

    // An empty host time source reads CLOCK_MONOTONIC.
    ClockedVisionMicrophoneReceiver(const asio::any_io_executor& executor,
                                    std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator,
                                    ChunkHandler chunkHandler, HostTimeSource hostTime = {});

    asio::awaitable<void> updateFormat(double sampleRate, std::uint32_t channelCount) override;
    asio::awaitable<void> startStream(Uuid streamID) override;
    asio::awaitable<std::optional<std::uint64_t>> receive(Uuid streamID, MicrophoneFrameStreamHeader header,
                                                          Bytes payload) override;
    asio::awaitable<bool> endStream(Uuid streamID) override;
    asio::awaitable<void> reset() override;

    // The frames the virtual microphone keeps queued for a reservoir: at least 30 ms, then converted at
    // 48 kHz and kept within 1440...5760 frames.
    static std::int64_t targetBufferFrameCount(std::int64_t reservoirNanoseconds);
    // Whether a chunk captured at `captureTimeNanoseconds` continues a timeline expected to go on at
    // `expectedNanoseconds` (within 2 ms either way).
    static bool continuesTimeline(std::int64_t captureTimeNanoseconds, std::int64_t expectedNanoseconds);

private:
    // Each runs on the actor.
    void applyFormat(double sampleRate, std::uint32_t channelCount);
    std::optional<std::uint64_t> receiveOnActor(const Uuid& streamID,
                                                const MicrophoneFrameStreamHeader& header,
                                                const Bytes& payload);
    void clearStreamState();

    Actor actor_;
    std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator_;
    ChunkHandler chunkHandler_;
    HostTimeSource hostTime_;
    Logger logger_{"VisionMicrophoneReceiver"};
    std::optional<MicrophoneFormatMessage> format_;
    std::optional<Uuid> activeStreamID_;
    std::optional<std::uint64_t> highestReceivedChunkID_;
    bool didLogRejectedStaleChunk_ = false;
    std::optional<std::int64_t> expectedNextCaptureTimeNanoseconds_;
};

}  // namespace quillbridge
