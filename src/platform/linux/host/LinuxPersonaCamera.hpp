#pragma once

#include <memory>
#include <string>

#include <asio/any_io_executor.hpp>

#include "bridge/DecodedPersonaCameraFrame.hpp"

namespace quillbridge {

class BlockingWorkPool;
class Clock;
class QueuedPersonaVirtualCameraFeeder;
class SerialQueue;
class SystemPersonaVirtualCameraController;

// The host's virtual camera on Linux: the feeder (on its own queue) that moves decoded Persona pictures into
// the camera program's PipeWire sink, and the controller that starts the program (as a systemd user service,
// or as a child of the host) and reports its demand from the session bus.
class LinuxPersonaCamera {
public:
    // The program as a child is looked for next to the running host program.
    static std::unique_ptr<LinuxPersonaCamera> create(asio::any_io_executor mainActor, Clock& clock,
                                                      BlockingWorkPool& blockingWork);
    // Lets the feeder's queue finish; the feeder and controller go when their last holders let them go.
    ~LinuxPersonaCamera();
    LinuxPersonaCamera(const LinuxPersonaCamera&) = delete;
    LinuxPersonaCamera& operator=(const LinuxPersonaCamera&) = delete;

    const std::shared_ptr<QueuedPersonaVirtualCameraFeeder>& feeder() const { return feeder_; }
    const std::shared_ptr<SystemPersonaVirtualCameraController>& controller() const { return controller_; }

    // The camera receiver's output handler: every decoded picture goes to the feeder (from the decoder's
    // thread), which drops it unless an app uses the camera.
    std::function<void(DecodedPersonaCameraFrame)> frameHandler() const;

private:
    LinuxPersonaCamera() = default;

    std::unique_ptr<SerialQueue> queue_;
    std::shared_ptr<QueuedPersonaVirtualCameraFeeder> feeder_;
    std::shared_ptr<SystemPersonaVirtualCameraController> controller_;
};

}  // namespace quillbridge
