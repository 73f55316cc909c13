#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include <pulse/stream.h>

#include "capture/AudioCaptureTiming.hpp"

namespace quillbridge {

// When the frames of a record stream were captured, from the sound server's timing updates of the stream
// (PA_STREAM_AUTO_TIMING_UPDATE): each tells how far the server had written into the stream's queue (plus
// what the device still held) at the moment it answered, which gives the CLOCK_MONOTONIC time of the stream's
// first frame; frame n was captured n frames later. A server pushes captured audio in blocks, so an answer
// just before a block lands makes that time late by up to a block: the earliest of the recent answers counts.
// Used on the connection's loop thread (with its lock held) only.
class PulseRecordStreamTiming final : public AudioCaptureTiming {
public:
    // A new stream (or none): earlier answers no longer count.
    void reset(pa_stream* stream, std::uint32_t sampleRate, std::size_t frameBytes);
    // The stream's latency-update callback.
    void timingUpdated();

    std::uint64_t nowNanoseconds() override;
    // From the stream's read position (advanced by pa_stream_drop); nothing before the first answer while the
    // stream was running.
    std::optional<std::uint64_t> unreadAudioAgeNanoseconds() override;

private:
    std::int64_t nanoseconds(std::int64_t bytes) const;

    static constexpr std::size_t answersKept = 16;

    pa_stream* stream_ = nullptr;
    std::uint32_t sampleRate_ = 0;
    std::size_t frameBytes_ = 0;
    // When the stream's first frame plays (is captured, for a source) by each of the recent answers.
    std::array<std::int64_t, answersKept> firstFrameTimes_{};
    std::size_t answers_ = 0;
    // How far ahead of playing the monitored sink mixes, by the latest answer (0 for a source).
    std::int64_t sinkLatencyNanoseconds_ = 0;
};

}  // namespace quillbridge
