#pragma once

#include <cstdint>

#include "microphone_plugin/MicrophoneAudioState.hpp"
#include "microphone_plugin/MicrophoneDriverTypes.hpp"

namespace quillbridge {

// The IO side of the ring: fills each cycle's buffer. It waits until the target amount of audio is queued
// (and the stream's start time has come), then plays at a rate within ±2 % that keeps the queue near its
// target, interpolating linearly between frames, and plays silence when it runs dry. One thread reads; it
// takes no lock, allocates nothing and does a constant amount of work per frame.
class MicrophoneAdaptiveReader {
public:
    explicit MicrophoneAdaptiveReader(MicrophoneAudioState& state) : state_(state) {}

    // Fills `frameCount` samples of `output`. `nanosecondsPerTick` converts the time stamp's host time.
    void read(std::uint32_t frameCount, const MicrophoneTimeStamp& outputTime, double nanosecondsPerTick,
              float* output);

    // The rate for a queue and target: 1 + 0.02 × (queued − target) ÷ target, within 0.98...1.02.
    static double playbackRate(std::uint64_t queuedFrames, std::uint32_t targetFrames);

    bool isPlaying() const { return playing_; }
    double phase() const { return phase_; }
    std::uint64_t readPosition() const { return readPosition_; }

private:
    struct Rendered {
        bool any = false;
        std::uint64_t sourceTimeNanoseconds = 0;
        std::uint32_t index = 0;
    };

    void applyRequestedReset();
    bool startTimeHasCome(const MicrophoneTimeStamp& outputTime, double nanosecondsPerTick) const;
    // Plays one frame; false when the frame is missing.
    bool renderFrame(std::uint64_t writePosition, double rate, float& sample, std::uint64_t& sourceTime);

    MicrophoneAudioState& state_;
    std::uint64_t streamSerial_ = 0;
    std::uint64_t readPosition_ = 0;
    double phase_ = 0;
    std::uint32_t previousTarget_ = microphoneMinimumTargetFrames;
    bool playing_ = false;
};

// Host clock ticks to nanoseconds.
std::uint64_t microphoneTicksToNanoseconds(std::uint64_t ticks, double nanosecondsPerTick);

}  // namespace quillbridge
