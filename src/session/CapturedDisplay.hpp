#pragma once

#include <cstdint>
#include <optional>

#include "input/MouseEventPoster.hpp"

namespace quillbridge {

// The captured display as the capture configuration set it up.
struct CapturedDisplay {
    std::optional<std::uint32_t> displayID;
    int frameRate = 60;
    // The display's frame in global coordinates, in points.
    DisplayRect frame;
    double pointWidth = 0;
    double pointHeight = 0;
    double pixelWidth = 0;
    double pixelHeight = 0;
};

}  // namespace quillbridge
