#pragma once

#include "wire/CaptureResolutionOption.hpp"
#include "wire/StreamFrameRateOption.hpp"

namespace quillbridge {

// What the headset asked of capture.
struct CaptureSettings {
    CaptureResolutionOption captureResolution = CaptureResolutionOption::full;
    StreamFrameRateOption captureFrameRate = StreamFrameRateOption::fps60;
    bool isHDREnabled = false;
    // HDR against a canonical reference display rather than the local one.
    bool usesCanonicalHDR = false;

    bool operator==(const CaptureSettings&) const = default;
};

}  // namespace quillbridge
