#include "platform/linux/pulse/PulseRecordStreamTiming.hpp"

#include <algorithm>
#include <ctime>

namespace quillbridge {

void PulseRecordStreamTiming::reset(pa_stream* stream, std::uint32_t sampleRate, std::size_t frameBytes) {
    stream_ = stream;
    sampleRate_ = sampleRate;
    frameBytes_ = frameBytes;
    answers_ = 0;
    sinkLatencyNanoseconds_ = 0;
}

std::uint64_t PulseRecordStreamTiming::nowNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

std::int64_t PulseRecordStreamTiming::nanoseconds(std::int64_t bytes) const {
    if (sampleRate_ == 0 || frameBytes_ == 0) {
        return 0;
    }
    // Whole seconds and the remainder apart, so long streams cannot overflow.
    const std::int64_t frames = bytes / static_cast<std::int64_t>(frameBytes_);
    const std::int64_t rate = sampleRate_;
    return frames / rate * 1'000'000'000 + frames % rate * 1'000'000'000 / rate;
}

void PulseRecordStreamTiming::timingUpdated() {
    const pa_timing_info* timing = stream_ != nullptr ? pa_stream_get_timing_info(stream_) : nullptr;
    // While the source does not run its queue does not grow with time: such an answer tells nothing.
    if (timing == nullptr || timing->playing == 0 || timing->write_index_corrupt != 0 ||
        timing->write_index < 0) {
        return;
    }
    // The server answered transport_usec ago; by then the frames up to write_index, and source_usec more
    // still in the device, had been captured, the newest of them to be played sink_usec later.
    const auto answered = static_cast<std::int64_t>(nowNanoseconds()) -
                          static_cast<std::int64_t>(timing->transport_usec) * 1000;
    const std::int64_t captured =
        nanoseconds(timing->write_index) + static_cast<std::int64_t>(timing->source_usec) * 1000;
    sinkLatencyNanoseconds_ = static_cast<std::int64_t>(timing->sink_usec) * 1000;
    firstFrameTimes_[answers_ % answersKept] = answered + sinkLatencyNanoseconds_ - captured;
    ++answers_;
}

std::optional<std::uint64_t> PulseRecordStreamTiming::unreadAudioAgeNanoseconds() {
    const pa_timing_info* timing = stream_ != nullptr ? pa_stream_get_timing_info(stream_) : nullptr;
    if (answers_ == 0 || timing == nullptr || timing->read_index_corrupt != 0) {
        return std::nullopt;
    }
    const std::size_t kept = std::min(answers_, answersKept);
    const std::int64_t firstFrame =
        *std::min_element(firstFrameTimes_.begin(), firstFrameTimes_.begin() + kept);
    const std::int64_t captured = firstFrame + nanoseconds(timing->read_index) - sinkLatencyNanoseconds_;
    const auto now = static_cast<std::int64_t>(nowNanoseconds());
    return static_cast<std::uint64_t>(std::max<std::int64_t>(now - captured, 0));
}

}  // namespace quillbridge
