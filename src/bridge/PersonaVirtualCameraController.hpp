#pragma once

#include <functional>

namespace quillbridge {

// The host's virtual camera that shows the headset's Persona: installs the camera component and reports
// whether an application has the camera open. Used and called back on the main actor.
class PersonaVirtualCameraController {
public:
    enum class PermissionState { unknown, activating, requiresApproval, granted };

    virtual ~PersonaVirtualCameraController() = default;

    // Asks for the camera component to be installed or updated, unless a request was made or is running.
    virtual void activateExtension() = 0;
    // Asks for the component's state again; the answer arrives through the permission-state handler.
    virtual void refreshExtensionProperties() = 0;
    // Asks a running camera component to report whether an application uses the camera.
    virtual void postDemandQuery() = 0;

    // Each replaces the previous handler; empty removes it.
    // Told when applications start or stop using the camera (only real changes).
    virtual void setDemandChangedHandler(std::function<void(bool)> handler) = 0;
    virtual void setPermissionStateChangedHandler(std::function<void(PermissionState)> handler) = 0;
};

}  // namespace quillbridge
