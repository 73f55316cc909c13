#pragma once

#include <cstdint>
#include <optional>

#include "capture/CaptureDisplay.hpp"

namespace quillbridge {

// What makes a change of the selected display worth re-applying capture: its identity, place, sizes and
// refresh rate. Equal signatures mean nothing capture depends on has changed.
struct DisplayCaptureSignature {
    std::uint32_t displayID = 0;
    CaptureRect frame;
    CaptureSize pointSize;
    std::optional<int> pixelWidth;
    std::optional<int> pixelHeight;
    std::optional<int> refreshRateFramesPerSecond;

    static DisplayCaptureSignature of(const CaptureDisplay& display);

    bool operator==(const DisplayCaptureSignature&) const = default;
};

}  // namespace quillbridge
