#include "microphone_plugin/MicrophoneAdaptiveReader.hpp"

#include <algorithm>
#include <cmath>

namespace quillbridge {

std::uint64_t microphoneTicksToNanoseconds(std::uint64_t ticks, double nanosecondsPerTick) {
    if (nanosecondsPerTick == 1.0) {
        return ticks;
    }
    return static_cast<std::uint64_t>(std::llround(static_cast<double>(ticks) * nanosecondsPerTick));
}

double MicrophoneAdaptiveReader::playbackRate(std::uint64_t queuedFrames, std::uint32_t targetFrames) {
    double target = targetFrames;
    double rate = 1.0 + 0.02 * (static_cast<double>(queuedFrames) - target) / target;
    return std::clamp(rate, 0.98, 1.02);
}

void MicrophoneAdaptiveReader::applyRequestedReset() {
    std::uint64_t requested = state_.resetGeneration.load(std::memory_order_acquire);
    if (requested == state_.readerResetGeneration.load(std::memory_order_relaxed)) {
        return;
    }
    streamSerial_ = 0;
    readPosition_ = 0;
    phase_ = 0;
    previousTarget_ = microphoneMinimumTargetFrames;
    playing_ = false;
    state_.publishedReadPosition.store(0, std::memory_order_release);
    state_.renderedTimes.write(0, 0);
    state_.readerResetGeneration.store(requested, std::memory_order_release);
}

bool MicrophoneAdaptiveReader::startTimeHasCome(const MicrophoneTimeStamp& outputTime,
                                                double nanosecondsPerTick) const {
    std::int64_t startTime = state_.streamStartHostTimeNanoseconds.load(std::memory_order_relaxed);
    if (startTime <= 0 || !outputTime.hasValidHostTime()) {
        return true;
    }
    return microphoneTicksToNanoseconds(outputTime.hostTime, nanosecondsPerTick) >=
           static_cast<std::uint64_t>(startTime);
}

bool MicrophoneAdaptiveReader::renderFrame(std::uint64_t writePosition, double rate, float& sample,
                                           std::uint64_t& sourceTime) {
    std::uint64_t position = readPosition_;
    float current = 0;
    if (position >= writePosition || !state_.slots.load(position, current, sourceTime)) {
        return false;
    }
    sample = current;
    float next = 0;
    if (writePosition - position >= 2 && state_.slots.loadSample(position + 1, next)) {
        sample = current + (next - current) * static_cast<float>(phase_);
    }
    phase_ += rate;
    while (phase_ >= 1.0 && readPosition_ < writePosition) {
        ++readPosition_;
        phase_ -= 1.0;
    }
    return true;
}

void MicrophoneAdaptiveReader::read(std::uint32_t frameCount, const MicrophoneTimeStamp& outputTime,
                                    double nanosecondsPerTick, float* output) {
    applyRequestedReset();
    // A snapshot at entry: the stream, then its positions and the target.
    std::uint64_t streamSerial = state_.streamSerial.load(std::memory_order_acquire);
    std::uint64_t writePosition = state_.writePosition.load(std::memory_order_acquire);
    std::uint32_t target = state_.targetBufferFrames.load(std::memory_order_relaxed);

    if (streamSerial != streamSerial_) {
        streamSerial_ = streamSerial;
        readPosition_ = 0;
        phase_ = 0;
        previousTarget_ = target;
        playing_ = false;
        state_.publishedReadPosition.store(0, std::memory_order_release);
    }
    if (readPosition_ + microphoneRingFrameCount < writePosition) {
        readPosition_ = writePosition - microphoneRingFrameCount;
        phase_ = 0;
    }
    std::uint64_t queued = writePosition > readPosition_ ? writePosition - readPosition_ : 0;
    if (playing_ && queued < target && target > previousTarget_) {
        playing_ = false;
        phase_ = 0;
    }
    previousTarget_ = target;
    if (!playing_ && queued >= target && startTimeHasCome(outputTime, nanosecondsPerTick)) {
        playing_ = true;
    }
    double rate = playbackRate(queued, target);

    bool starved = false;
    Rendered rendered;
    for (std::uint32_t index = 0; index < frameCount; ++index) {
        output[index] = 0;
        if (!playing_) {
            continue;
        }
        std::uint64_t sourceTime = 0;
        if (!renderFrame(writePosition, rate, output[index], sourceTime)) {
            starved = true;
            continue;
        }
        if (!rendered.any) {
            rendered = {true, sourceTime, index};
        }
    }

    state_.publishedReadPosition.store(readPosition_, std::memory_order_release);
    if (starved) {
        state_.underflowCount.fetch_add(1, std::memory_order_relaxed);
        playing_ = false;
        phase_ = 0;
    }
    if (rendered.any && outputTime.hasValidHostTime()) {
        std::uint64_t hostTime =
            microphoneTicksToNanoseconds(outputTime.hostTime, nanosecondsPerTick) +
            std::uint64_t{rendered.index} * nanosecondsPerSecond / microphoneFramesPerSecond;
        state_.renderedTimes.write(rendered.sourceTimeNanoseconds, hostTime);
    }
    state_.readFrames.fetch_add(frameCount, std::memory_order_relaxed);
}

}  // namespace quillbridge
