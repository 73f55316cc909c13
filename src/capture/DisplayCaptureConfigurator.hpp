#pragma once

#include <optional>
#include <string>
#include <vector>

#include "capture/CaptureContentFilter.hpp"
#include "capture/CaptureDisplay.hpp"
#include "capture/CaptureSettings.hpp"
#include "capture/CaptureStreamConfiguration.hpp"

namespace quillbridge {

// The rules that pick the captured display and turn it and the headset's settings into what the capture
// stream is given. Pure functions; the logging ones log through the "ScreenRecorder" category.
class DisplayCaptureConfigurator {
public:
    // The persistent identifier stored as the user's choice: the display's UUID in canonical form, or
    // "displayID:" and the decimal display ID when it has none.
    static std::string displayIdentifier(const CaptureDisplay& display);

    // The display to select: the stored choice if it is present, else the current selection (by display ID,
    // the list's entry replacing the old one), else the first display; none for an empty list.
    static std::optional<CaptureDisplay> preferredDisplay(
        const std::vector<CaptureDisplay>& availableDisplays,
        const std::optional<std::string>& storedIdentifier,
        const std::optional<CaptureDisplay>& selectedDisplay);

    // The display picker's key: ID, rounded point width and height, pixel width and height and refresh rate
    // (0 when unknown), joined with "-".
    static std::string selectionIdentifier(const CaptureDisplay& display);

    // The refresh rate in whole frames per second (at least 1); none when the display's mode does not say.
    static std::optional<int> refreshRate(const CaptureDisplay& display);

    // The requested rate, capped by the selected display's refresh rate when that is known.
    static int effectiveFrameRate(StreamFrameRateOption requested,
                                  const std::optional<CaptureDisplay>& display);

    // A filter for the selected display; none, logged, without a selection.
    static std::optional<CaptureContentFilter> contentFilter(const std::optional<CaptureDisplay>& display);

    // The full configuration of a capture stream for the selected display (or none) and the settings.
    static CaptureStreamConfiguration streamConfiguration(const std::optional<CaptureDisplay>& display,
                                                          const CaptureSettings& settings);

    // The text that names a display in diagnostics: "Name: W x H", or "Display: W x H" without a name.
    static std::string displayLabel(const CaptureDisplay& display);
    // Logs what is known of the display's HDR headroom (X11 exposes none).
    static void logHDRCorrectionEstimate(const CaptureDisplay& display);
};

}  // namespace quillbridge
