#pragma once

#include <cstdint>
#include <optional>

#include "session/CapturedVideoFrame.hpp"

namespace quillbridge {

// The HDR capture presets: tone-mapped for the local display or for a canonical reference display.
enum class CaptureHDRPreset {
    localDisplay = 0,
    canonicalDisplay = 1,
};

// The shortest time between two delivered frames, as value / timescale seconds. A value of 0 puts no limit
// on the rate (every change of the screen is delivered).
struct CaptureFrameInterval {
    std::int64_t value = 0;
    std::int32_t timescale = 0;

    static constexpr CaptureFrameInterval zero() { return {}; }
    static constexpr CaptureFrameInterval perSecond(std::int32_t framesPerSecond) {
        return {1, framesPerSecond};
    }
    constexpr bool isZero() const { return value == 0 || timescale <= 0; }
    // The interval in nanoseconds, 0 for no limit.
    constexpr std::int64_t nanoseconds() const { return isZero() ? 0 : value * 1'000'000'000 / timescale; }

    bool operator==(const CaptureFrameInterval&) const = default;
};

// Everything a capture stream is configured with.
struct CaptureStreamConfiguration {
    std::optional<CaptureHDRPreset> hdrPreset;
    // Size of the delivered frames in pixels; the display's content is scaled to it. 0 means the display's
    // own pixel size.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    CaptureFrameInterval minimumFrameInterval = CaptureFrameInterval::perSecond(60);
    // How many captured frames may be held by consumers at once before the stream skips grabs.
    int queueDepth = 8;
    std::uint32_t pixelFormat = pixelFormatBGRA;
    bool showsCursor = true;
    bool capturesAudio = false;
    int sampleRate = 48000;
    int channelCount = 2;
    bool excludesCurrentProcessAudio = false;
    bool capturesMicrophone = false;

    bool operator==(const CaptureStreamConfiguration&) const = default;
};

}  // namespace quillbridge
