#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillbridge {

// The mute controls of the host's audio outputs, named by a stable identifier of the platform (on Linux the
// sound server's sink name). Called from one serial queue at a time; calls may block briefly on the sound
// server.
class AudioOutputMuteControls {
public:
    virtual ~AudioOutputMuteControls() = default;

    // The outputs whose mute the host controls during a session, each once; empty when the sound server
    // cannot be asked.
    virtual std::vector<std::string> outputMuteControls() = 0;
    // The control's state (true: muted); nothing when it cannot be read.
    virtual std::optional<bool> readMute(const std::string& control) = 0;
    // Sets the control; false when that failed.
    virtual bool writeMute(const std::string& control, bool muted) = 0;
    // Calls `changed` with the control's state whenever it may have changed (for every change, in order, with
    // the state as it was then, as far as the platform tells), from any thread and without blocking it; the
    // handler must not call back into this object. False when the control cannot be observed.
    virtual bool observe(const std::string& control, std::function<void(bool muted)> changed) = 0;
    // Stops observing the control: once it returns, its handler is neither running nor called again.
    virtual void stopObserving(const std::string& control) = 0;
};

}  // namespace quillbridge
