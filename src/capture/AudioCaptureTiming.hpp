#pragma once

#include <cstdint>
#include <optional>

namespace quillbridge {

// The timing of a capture stream as the sound server measures it, read when a captured buffer is stamped.
// Times are CLOCK_MONOTONIC nanoseconds, like every host media time.
class AudioCaptureTiming {
public:
    virtual ~AudioCaptureTiming() = default;

    virtual std::uint64_t nowNanoseconds() = 0;
    // How long ago the first frame not yet read was captured; nothing while the server has not told.
    virtual std::optional<std::uint64_t> unreadAudioAgeNanoseconds() = 0;
};

}  // namespace quillbridge
