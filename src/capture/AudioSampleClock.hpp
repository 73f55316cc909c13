#pragma once

#include <cstdint>
#include <optional>

#include "capture/AudioCaptureTiming.hpp"

namespace quillbridge {

// Presentation times of captured audio counted in samples from a CLOCK_MONOTONIC anchor, so consecutive
// buffers are spaced exactly by their durations. The anchor is the capture time of the first buffer as the
// sound server measures it (when it was read does not matter), and is set again whenever the count drifts
// from the server's measure by more than the threshold (the server stalled, dropped or bunched up data), and
// after reset(). While the server has not told its timing yet, a buffer counts as captured just before it was
// read, and the first measure from the server sets the anchor again.
class AudioSampleClock {
public:
    AudioSampleClock(std::uint32_t sampleRate, std::uint64_t resyncThresholdNanoseconds,
                     AudioCaptureTiming& timing)
        : sampleRate_(sampleRate), resyncThresholdNanoseconds_(resyncThresholdNanoseconds), timing_(timing) {}

    // The presentation time of the first frame of a buffer of `frames` frames about to be read: the first of
    // the frames not yet read.
    std::uint64_t stamp(std::uint64_t frames);
    // Frames the server reported missing: the timeline moves on without a buffer.
    void skip(std::uint64_t frames) { framesSinceAnchor_ += frames; }
    void reset() { anchorNanoseconds_.reset(); }

    std::uint64_t resyncCount() const { return resyncCount_; }

private:
    std::uint64_t nanoseconds(std::uint64_t frames) const;

    std::uint32_t sampleRate_;
    std::uint64_t resyncThresholdNanoseconds_;
    AudioCaptureTiming& timing_;
    std::optional<std::uint64_t> anchorNanoseconds_;
    // Whether the anchor came from the server's measure rather than from the time of reading.
    bool anchorIsMeasured_ = false;
    std::uint64_t framesSinceAnchor_ = 0;
    std::uint64_t resyncCount_ = 0;
};

}  // namespace quillbridge
