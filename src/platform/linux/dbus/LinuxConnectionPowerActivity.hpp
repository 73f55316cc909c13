#pragma once

#include <memory>
#include <string_view>

#include "session/ConnectionPowerActivity.hpp"

namespace quillbridge {

// Keeps the desktop awake while a headset is connected: a logind "idle" inhibitor lock (block mode) on the
// system bus; where logind does not answer, org.freedesktop.ScreenSaver.Inhibit on the session bus. The
// token releases the lock (closes the inhibitor's file descriptor, or calls UnInhibit). Each call opens its
// own bus connection and returns once the bus answered.
class LinuxConnectionPowerActivity final : public ConnectionPowerActivity {
public:
    std::unique_ptr<Token> begin(std::string_view reason) override;
};

}  // namespace quillbridge
