#pragma once

namespace quillbridge {

// Feeds decoded Persona frames to the virtual camera on its own queue.
class PersonaVirtualCameraFeeder {
public:
    virtual ~PersonaVirtualCameraFeeder() = default;

    // Connects to the camera's frame sink (true) or lets go of it (false) on the feeder's queue; returns at
    // once.
    virtual void setWantsToFeed(bool wantsToFeed) = 0;
};

}  // namespace quillbridge
