#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "capture/MandatoryPermissionProbe.hpp"
#include "core/Logger.hpp"
#include "platform/linux/pulse/PulseMonitorCaptureCheck.hpp"

namespace quillbridge {

// The grants on a Linux desktop. Screen & System Audio Recording is granted when the display probe reads the
// screen and system audio can be recorded from the sound server; never in a Wayland session, where the X11
// capture would reach only XWayland's windows (a 1x1 grab of the root still succeeds there) and the headset
// would see a black desktop. Synthetic input is what the display probe reports. Why a grant is missing is
// logged once, and again only after it was granted in between. Requests have no Linux prompt: they reach the
// display probe, which ignores them, and the caller checks again.
class LinuxMandatoryPermissionProbe final : public MandatoryPermissionProbe {
public:
    enum class SessionType { x11, wayland };
    using SystemAudioCheck = std::function<PulseMonitorCaptureCheck::Outcome()>;

    // Wayland when XDG_SESSION_TYPE is "wayland" or WAYLAND_DISPLAY is set and not empty.
    static SessionType sessionTypeFromEnvironment();

    LinuxMandatoryPermissionProbe(std::unique_ptr<MandatoryPermissionProbe> display,
                                  SystemAudioCheck systemAudio, SessionType session);

    bool isScreenCaptureGranted() override;
    void requestScreenCaptureAccess() override { display_->requestScreenCaptureAccess(); }
    bool isSyntheticInputGranted() override { return display_->isSyntheticInputGranted(); }
    void requestSyntheticInputAccess() override { display_->requestSyntheticInputAccess(); }

private:
    Logger logger_{"PermissionProbe"};
    std::unique_ptr<MandatoryPermissionProbe> display_;
    SystemAudioCheck systemAudio_;
    SessionType session_;
    bool loggedWayland_ = false;
    std::optional<PulseMonitorCaptureCheck::Outcome> loggedAudioFailure_;
};

}  // namespace quillbridge
