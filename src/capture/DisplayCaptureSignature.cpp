#include "capture/DisplayCaptureSignature.hpp"

#include "capture/DisplayCaptureConfigurator.hpp"

namespace quillbridge {

DisplayCaptureSignature DisplayCaptureSignature::of(const CaptureDisplay& display) {
    return DisplayCaptureSignature{display.displayID,   display.frame,
                                   display.pointSize,   display.pixelWidth,
                                   display.pixelHeight, DisplayCaptureConfigurator::refreshRate(display)};
}

}  // namespace quillbridge
