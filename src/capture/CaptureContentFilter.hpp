#pragma once

#include "capture/CaptureDisplay.hpp"

namespace quillbridge {

// What a capture stream records: one whole display, no application or window excluded.
struct CaptureContentFilter {
    CaptureDisplay display;
    // Pixels per point of the display (1 on X11).
    double pointPixelScale = 1.0;

    bool operator==(const CaptureContentFilter&) const = default;
};

}  // namespace quillbridge
