#include "session/AudioPCMAccumulator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillbridge {

namespace {

constexpr std::uint64_t maximumNanoseconds = std::numeric_limits<std::uint64_t>::max();

bool hasUsableFloatData(const AudioPCMBuffer& buffer) {
    if (!buffer.hasFloatChannelData() || buffer.format.channelCount == 0)
        return false;
    const double sampleRate = buffer.format.sampleRate;
    if (!(sampleRate > 0) || !std::isfinite(sampleRate))
        return false;
    return std::ranges::all_of(buffer.floatChannels,
                               [&](const auto& channel) { return channel.size() >= buffer.frameLength; });
}

// round(frameCount / sampleRate × 1e9), halves away from zero, held to the largest count.
std::uint64_t durationNanoseconds(std::size_t frameCount, double sampleRate) {
    const double nanoseconds = std::round(static_cast<double>(frameCount) / sampleRate * 1e9);
    // 2^64: every double below it converts exactly into a 64-bit unsigned count.
    if (!(nanoseconds < 18446744073709551616.0))
        return maximumNanoseconds;
    return static_cast<std::uint64_t>(nanoseconds);
}

std::uint64_t advancedTime(std::uint64_t time, std::uint64_t duration) {
    return duration > maximumNanoseconds - time ? maximumNanoseconds : time + duration;
}

}  // namespace

AudioPCMAccumulator::AudioPCMAccumulator(std::size_t targetFrameCount)
    : targetFrameCount_(std::max<std::size_t>(targetFrameCount, 1)) {}

void AudioPCMAccumulator::reset() {
    currentFormat_.reset();
    channelStorage_.clear();
    queuedSegments_.clear();
    queuedFrameCount_ = 0;
}

void AudioPCMAccumulator::adoptFormat(const AudioPCMFormat& format) {
    reset();
    currentFormat_ = format;
    channelStorage_.resize(format.channelCount);
}

std::vector<TimestampedAudioChunk> AudioPCMAccumulator::append(const AudioPCMBuffer& buffer,
                                                               std::uint64_t presentationTimeNanoseconds) {
    if (!hasUsableFloatData(buffer)) {
        reset();
        return {};
    }
    if (!currentFormat_ || *currentFormat_ != buffer.format)
        adoptFormat(buffer.format);

    const std::size_t frameCount = buffer.frameLength;
    for (std::size_t channel = 0; channel < channelStorage_.size(); ++channel) {
        const auto& samples = buffer.floatChannels[channel];
        channelStorage_[channel].insert(channelStorage_[channel].end(), samples.begin(),
                                        samples.begin() + static_cast<std::ptrdiff_t>(frameCount));
    }
    queuedFrameCount_ += frameCount;
    // An empty buffer starts no segment: its time would otherwise stand for the next buffer's frames.
    if (frameCount > 0)
        queuedSegments_.push_back({presentationTimeNanoseconds, frameCount});

    std::vector<TimestampedAudioChunk> chunks;
    std::size_t cutFrameCount = 0;
    while (queuedFrameCount_ >= targetFrameCount_) {
        chunks.push_back(cutChunk(cutFrameCount));
        cutFrameCount += targetFrameCount_;
    }
    // The samples of every chunk cut leave the front of the arrays in one block move.
    for (auto& samples : channelStorage_)
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(cutFrameCount));
    return chunks;
}

TimestampedAudioChunk AudioPCMAccumulator::cutChunk(std::size_t firstFrame) {
    TimestampedAudioChunk chunk;
    // The time is read before any frame is consumed.
    chunk.presentationTimeNanoseconds = queuedSegments_.front().presentationTimeNanoseconds;
    chunk.buffer.format = *currentFormat_;
    chunk.buffer.frameLength = static_cast<std::uint32_t>(targetFrameCount_);
    chunk.buffer.presentationTimeNanoseconds = chunk.presentationTimeNanoseconds;
    chunk.buffer.floatChannels.reserve(channelStorage_.size());
    for (const auto& samples : channelStorage_) {
        const auto first = samples.begin() + static_cast<std::ptrdiff_t>(firstFrame);
        chunk.buffer.floatChannels.emplace_back(first,
                                                first + static_cast<std::ptrdiff_t>(targetFrameCount_));
    }
    queuedFrameCount_ -= targetFrameCount_;
    consumeSegmentFrames(targetFrameCount_);
    return chunk;
}

void AudioPCMAccumulator::consumeSegmentFrames(std::size_t frameCount) {
    std::size_t consumedSegmentCount = 0;
    while (frameCount > 0 && consumedSegmentCount < queuedSegments_.size()) {
        auto& segment = queuedSegments_[consumedSegmentCount];
        if (segment.frameCount > frameCount) {
            segment.frameCount -= frameCount;
            segment.presentationTimeNanoseconds =
                advancedTime(segment.presentationTimeNanoseconds,
                             durationNanoseconds(frameCount, currentFormat_->sampleRate));
            break;
        }
        frameCount -= segment.frameCount;
        ++consumedSegmentCount;
    }
    queuedSegments_.erase(queuedSegments_.begin(),
                          queuedSegments_.begin() + static_cast<std::ptrdiff_t>(consumedSegmentCount));
}

}  // namespace quillbridge
