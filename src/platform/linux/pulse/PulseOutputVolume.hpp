#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/pulse/PulseConnection.hpp"

namespace quillbridge {

// Volume steps and mute of the sound server's default output (PulseAudio or pipewire-pulse). Connects
// when first used and again after the server went away; every call fails at once (false) while no server
// answers, so the caller can fall back to the volume keys. Thread-safe.
class PulseOutputVolume {
public:
    // One step is a sixteenth of the normal volume; raising stops at the normal volume.
    static constexpr double stepFraction = 1.0 / 16.0;

    bool raiseVolume() { return changeVolume(+1); }
    bool lowerVolume() { return changeVolume(-1); }
    bool toggleMute();

    struct OutputState {
        std::string sinkName;
        double volumeFraction = 0;  // average channel volume, 1.0 = normal
        bool muted = false;
    };
    // The default output as it is now; nothing without a server.
    std::optional<OutputState> defaultOutput();

private:
    bool changeVolume(int direction);
    PulseConnection* connection();

    std::mutex mutex_;
    std::unique_ptr<PulseConnection> connection_;
};

}  // namespace quillbridge
