#pragma once

#include <cstdint>
#include <optional>

namespace quillbridge {

// Presentation times of captured audio counted in samples from a CLOCK_MONOTONIC anchor, so consecutive
// buffers are spaced exactly by their durations. The anchor is set from the first buffer's arrival and set
// again whenever the count drifts from the clock by more than the threshold (the server stalled, dropped or
// bunched up data), and after reset().
class AudioSampleClock {
public:
    AudioSampleClock(std::uint32_t sampleRate, std::uint64_t resyncThresholdNanoseconds)
        : sampleRate_(sampleRate), resyncThresholdNanoseconds_(resyncThresholdNanoseconds) {}

    // The presentation time of the first frame of a buffer of `frames` frames whose last frame was taken at
    // about `arrivalNanoseconds`.
    std::uint64_t stamp(std::uint64_t frames, std::uint64_t arrivalNanoseconds);
    // Frames the server reported missing: the timeline moves on without a buffer.
    void skip(std::uint64_t frames) { framesSinceAnchor_ += frames; }
    void reset() { anchorNanoseconds_.reset(); }

    std::uint64_t resyncCount() const { return resyncCount_; }

private:
    std::uint64_t nanoseconds(std::uint64_t frames) const;

    std::uint32_t sampleRate_;
    std::uint64_t resyncThresholdNanoseconds_;
    std::optional<std::uint64_t> anchorNanoseconds_;
    std::uint64_t framesSinceAnchor_ = 0;
    std::uint64_t resyncCount_ = 0;
};

}  // namespace quillbridge
