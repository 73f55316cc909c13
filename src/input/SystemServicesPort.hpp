#pragma once

namespace quillbridge {

// The desktop services behind system actions that are better served by the system than by a key. Called on
// the system actions' own queue, one call at a time; a call may wait a few seconds for the service.
class SystemServicesPort {
public:
    virtual ~SystemServicesPort() = default;

    // Locks the user's session; false when it could not be asked.
    virtual bool lockScreen() = 0;
    // Volume and mute of the default output; false when no sound server answers (a media key is used then).
    virtual bool raiseVolume() = 0;
    virtual bool lowerVolume() = 0;
    virtual bool toggleMute() = 0;
};

}  // namespace quillbridge
