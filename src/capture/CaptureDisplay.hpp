#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/Uuid.hpp"

namespace quillbridge {

// A rectangle in the desktop's coordinate space (X11: root-window pixels, origin top left).
struct CaptureRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const CaptureRect&) const = default;
};

struct CaptureSize {
    double width = 0;
    double height = 0;

    bool operator==(const CaptureSize&) const = default;
};

// One display that capture can use, as the display provider reports it.
struct CaptureDisplay {
    // Stable for as long as the display is connected (X11: the RandR output's XID).
    std::uint32_t displayID = 0;
    // A persistent identity derived from the display's EDID or, without one, from its output; absent when
    // the provider cannot derive one.
    std::optional<Uuid> uuid;
    // The output's connector name ("eDP-1", "HDMI-1") and the monitor's name from the EDID (may be empty).
    std::string connectorName;
    std::string localizedName;
    // Where the display sits on the desktop and its size in points (X11: points are pixels).
    CaptureRect frame;
    CaptureSize pointSize;
    // The pixel size of the current mode; absent when the display has no mode.
    std::optional<int> pixelWidth;
    std::optional<int> pixelHeight;
    // The current mode's refresh rate in frames per second; absent or 0 when unknown.
    std::optional<double> modeRefreshRate;
    // A panel built into the machine (a laptop's screen).
    bool isBuiltIn = false;

    bool operator==(const CaptureDisplay&) const = default;
};

}  // namespace quillbridge
