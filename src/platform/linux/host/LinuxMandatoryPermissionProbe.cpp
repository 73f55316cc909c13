#include "platform/linux/host/LinuxMandatoryPermissionProbe.hpp"

#include <cstdlib>
#include <string_view>
#include <utility>

namespace quillbridge {

LinuxMandatoryPermissionProbe::SessionType LinuxMandatoryPermissionProbe::sessionTypeFromEnvironment() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    if ((type != nullptr && std::string_view(type) == "wayland") ||
        (waylandDisplay != nullptr && *waylandDisplay != '\0')) {
        return SessionType::wayland;
    }
    return SessionType::x11;
}

LinuxMandatoryPermissionProbe::LinuxMandatoryPermissionProbe(
    std::unique_ptr<MandatoryPermissionProbe> display, SystemAudioCheck systemAudio, SessionType session)
    : display_(std::move(display)), systemAudio_(std::move(systemAudio)), session_(session) {}

bool LinuxMandatoryPermissionProbe::isScreenCaptureGranted() {
    if (session_ == SessionType::wayland) {
        if (!loggedWayland_) {
            loggedWayland_ = true;
            logger_.error(
                "Screen & System Audio Recording is reported as not granted: this is a Wayland session, "
                "where "
                "the host's X11 capture reaches only XWayland's windows. Choose the \"GNOME on Xorg\" (or "
                "another X11) session at login.");
        }
        return false;
    }
    if (!display_->isScreenCaptureGranted()) {
        return false;
    }
    const auto outcome = systemAudio_();
    if (outcome == PulseMonitorCaptureCheck::Outcome::available) {
        loggedAudioFailure_.reset();
        return true;
    }
    if (loggedAudioFailure_ != outcome) {
        loggedAudioFailure_ = outcome;
        logger_.error("Screen & System Audio Recording is reported as not granted: ",
                      PulseMonitorCaptureCheck::describe(outcome), ".");
    }
    return false;
}

}  // namespace quillbridge
