#pragma once

#include "input/SystemServicesPort.hpp"
#include "platform/linux/dbus/LogindSessionLocker.hpp"
#include "platform/linux/pulse/PulseOutputVolume.hpp"

namespace quillbridge {

// The system actions' services on a Linux desktop: the session lock through logind, volume and mute of the
// default output through the sound server.
class DesktopSystemServices final : public SystemServicesPort {
public:
    bool lockScreen() override { return locker_.lockSession(); }
    bool raiseVolume() override { return volume_.raiseVolume(); }
    bool lowerVolume() override { return volume_.lowerVolume(); }
    bool toggleMute() override { return volume_.toggleMute(); }

private:
    LogindSessionLocker locker_;
    PulseOutputVolume volume_;
};

}  // namespace quillbridge
