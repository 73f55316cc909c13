#include "bridge/ClockedVisionMicrophoneReceiver.hpp"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

namespace quillbridge {
namespace {

constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ULL +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// A double as printf's %f writes it.
std::string fixedSixDecimals(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

}  // namespace

ClockedVisionMicrophoneReceiver::ClockedVisionMicrophoneReceiver(
    const asio::any_io_executor& executor, std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator,
    ChunkHandler chunkHandler, HostTimeSource hostTime)
    : actor_(executor),
      timingCoordinator_(std::move(timingCoordinator)),
      chunkHandler_(std::move(chunkHandler)),
      hostTime_(hostTime ? std::move(hostTime) : HostTimeSource(monotonicNanoseconds)) {}

asio::awaitable<void> ClockedVisionMicrophoneReceiver::updateFormat(double sampleRate,
                                                                    std::uint32_t channelCount) {
    co_await actor_.call([this, sampleRate, channelCount] { applyFormat(sampleRate, channelCount); });
}

asio::awaitable<void> ClockedVisionMicrophoneReceiver::startStream(Uuid streamID) {
    co_await actor_.call([this, streamID] {
        activeStreamID_ = streamID;
        highestReceivedChunkID_.reset();
        expectedNextCaptureTimeNanoseconds_.reset();
        didLogRejectedStaleChunk_ = false;
    });
}

asio::awaitable<std::optional<std::uint64_t>> ClockedVisionMicrophoneReceiver::receive(
    Uuid streamID, MicrophoneFrameStreamHeader header, Bytes payload) {
    co_return co_await actor_.call([this, streamID, header, payload = std::move(payload)] {
        return receiveOnActor(streamID, header, payload);
    });
}

asio::awaitable<bool> ClockedVisionMicrophoneReceiver::endStream(Uuid streamID) {
    co_return co_await actor_.call([this, streamID] {
        if (activeStreamID_ != streamID) {
            return false;
        }
        activeStreamID_.reset();
        clearStreamState();
        return true;
    });
}

asio::awaitable<void> ClockedVisionMicrophoneReceiver::reset() {
    co_await actor_.call([this] {
        format_.reset();
        activeStreamID_.reset();
        clearStreamState();
    });
}

std::int64_t ClockedVisionMicrophoneReceiver::targetBufferFrameCount(std::int64_t reservoirNanoseconds) {
    const std::int64_t reservoir = std::max(reservoirNanoseconds, minimumReservoirNanoseconds);
    const double frames = static_cast<double>(reservoir) * acceptedSampleRate / nanosecondsPerSecond;
    // Clamp in floating point first: a huge reservoir must not overflow the conversion.
    return static_cast<std::int64_t>(
        std::clamp(frames, double(minimumTargetBufferFrameCount), double(maximumTargetBufferFrameCount)));
}

bool ClockedVisionMicrophoneReceiver::continuesTimeline(std::int64_t captureTimeNanoseconds,
                                                        std::int64_t expectedNanoseconds) {
    std::int64_t gap = 0;
    if (__builtin_sub_overflow(captureTimeNanoseconds, expectedNanoseconds, &gap)) {
        return false;
    }
    return gap >= -timelineToleranceNanoseconds && gap <= timelineToleranceNanoseconds;
}

void ClockedVisionMicrophoneReceiver::applyFormat(double sampleRate, std::uint32_t channelCount) {
    if (sampleRate == acceptedSampleRate && channelCount == acceptedChannelCount) {
        format_ = MicrophoneFormatMessage{acceptedSampleRate, acceptedChannelCount};
        expectedNextCaptureTimeNanoseconds_.reset();
        return;
    }
    logger_.error("Rejected unsupported Vision microphone format: sampleRate=", fixedSixDecimals(sampleRate),
                  ", channels=", channelCount);
}

std::optional<std::uint64_t> ClockedVisionMicrophoneReceiver::receiveOnActor(
    const Uuid& streamID, const MicrophoneFrameStreamHeader& header, const Bytes& payload) {
    if (!activeStreamID_ || *activeStreamID_ != streamID) {
        return std::nullopt;
    }
    // 64-bit product: four times a 32-bit frame count cannot wrap.
    if (!format_ || header.frameCount == 0 ||
        payload.size() != std::uint64_t{header.frameCount} * std::uint64_t{4}) {
        return std::nullopt;
    }
    if (highestReceivedChunkID_ && header.chunkID <= *highestReceivedChunkID_) {
        if (!didLogRejectedStaleChunk_) {
            didLogRejectedStaleChunk_ = true;
            logger_.error("Rejected stale microphone chunk: chunkID=", header.chunkID,
                          ", highWater=", *highestReceivedChunkID_);
        }
        return highestReceivedChunkID_;
    }

    const std::uint64_t now = hostTime_();
    const std::int64_t capture = static_cast<std::int64_t>(
        std::min<std::uint64_t>(header.captureTimeNanoseconds, std::numeric_limits<std::int64_t>::max()));
    const auto duration = static_cast<std::int64_t>(double(header.frameCount) / format_->sampleRate *
                                                    double(nanosecondsPerSecond));

    const bool startsNewTimeline = !expectedNextCaptureTimeNanoseconds_ ||
                                   !continuesTimeline(capture, *expectedNextCaptureTimeNanoseconds_);
    std::int64_t expectedNext = 0;
    if (__builtin_add_overflow(capture, duration, &expectedNext)) {
        expectedNextCaptureTimeNanoseconds_.reset();
    } else {
        expectedNextCaptureTimeNanoseconds_ = expectedNext;
    }

    if (startsNewTimeline) {
        timingCoordinator_->resetMicrophoneReservoir();
    }
    const std::int64_t targetHostTime =
        timingCoordinator_->microphonePresentationHostTime(header.captureTimeNanoseconds, now);
    const std::int64_t targetFrames =
        targetBufferFrameCount(timingCoordinator_->microphoneReservoirNanoseconds());

    if (!chunkHandler_ ||
        !chunkHandler_(*format_, header.captureTimeNanoseconds, targetHostTime, targetFrames,
                       startsNewTimeline, std::int64_t{header.frameCount}, payload)) {
        return std::nullopt;
    }
    highestReceivedChunkID_ = header.chunkID;
    return highestReceivedChunkID_;
}

void ClockedVisionMicrophoneReceiver::clearStreamState() {
    highestReceivedChunkID_.reset();
    expectedNextCaptureTimeNanoseconds_.reset();
    didLogRejectedStaleChunk_ = false;
}

}  // namespace quillbridge
