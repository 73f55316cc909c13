#pragma once

#include <string>

#include "capture/MandatoryPermissionProbe.hpp"

namespace quillbridge {

// The grants on X11, asked afresh on each call with a connection of its own: screen and audio capture is
// granted when the display opens and a 1x1 image of the root window can be read; synthetic input when the
// XTEST extension answers. X11 has no prompts: the requests do nothing and the caller checks again.
class X11MandatoryPermissionProbe final : public MandatoryPermissionProbe {
public:
    // The display named (":1"), or $DISPLAY when empty.
    explicit X11MandatoryPermissionProbe(std::string displayName = {})
        : displayName_(std::move(displayName)) {}

    bool isScreenCaptureGranted() override;
    void requestScreenCaptureAccess() override {}
    bool isSyntheticInputGranted() override;
    void requestSyntheticInputAccess() override {}

private:
    std::string displayName_;
};

}  // namespace quillbridge
