#pragma once

#include <string>

#include "camera_extension/CameraExtensionLogger.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

// Sends the acknowledgements of consumed sink buffers to the host: one datagram per buffer to the Unix socket
// the host binds while it feeds the camera. Sending never waits: a datagram nobody is bound to receive, or
// one the host's socket has no room for, is dropped (the buffer itself still goes back to the host's pool).
class ScheduledOutputSender {
public:
    // $XDG_RUNTIME_DIR/quillbridge-camera-scheduled-output; empty without XDG_RUNTIME_DIR.
    static std::string defaultSocketPath();

    // An empty path, or one too long for a socket address (logged), sends nothing.
    ScheduledOutputSender(std::string socketPath, CameraExtensionLogger logger);
    ~ScheduledOutputSender();
    ScheduledOutputSender(const ScheduledOutputSender&) = delete;
    ScheduledOutputSender& operator=(const ScheduledOutputSender&) = delete;

    void send(const ScheduledOutputMessage& message);

private:
    std::string socketPath_;
    CameraExtensionLogger logger_;
    int socket_ = -1;
    // Failures other than nobody listening are logged once until a datagram goes out.
    bool didLogSendFailure_ = false;
};

}  // namespace quillbridge
