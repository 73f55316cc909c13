#pragma once

namespace quillbridge {

// Asks the platform whether the host holds the grants it checks itself: capturing the screen and system
// audio, and posting synthetic input. Called on the main actor; each call asks afresh.
class MandatoryPermissionProbe {
public:
    virtual ~MandatoryPermissionProbe() = default;

    virtual bool isScreenCaptureGranted() = 0;
    // Asks the user for screen capture access where the platform has such a prompt. The caller checks again
    // afterwards; the result of the request itself says nothing.
    virtual void requestScreenCaptureAccess() = 0;

    virtual bool isSyntheticInputGranted() = 0;
    // Asks the user for access to post synthetic input where the platform has such a prompt; the caller
    // checks again afterwards.
    virtual void requestSyntheticInputAccess() = 0;
};

}  // namespace quillbridge
