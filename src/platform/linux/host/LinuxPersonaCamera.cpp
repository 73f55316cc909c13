#include "platform/linux/host/LinuxPersonaCamera.hpp"

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <system_error>

#include "bridge/QueuedPersonaVirtualCameraFeeder.hpp"
#include "bridge/SystemPersonaVirtualCameraController.hpp"
#include "core/SerialQueue.hpp"
#include "platform/linux/camera/PipeWireCameraDeviceRegistry.hpp"
#include "platform/linux/camera/SdBusCameraDemandNotificationCenter.hpp"
#include "platform/linux/camera/SystemdCameraExtensionManager.hpp"
#include "platform/linux/pipewire/PipeWirePersonaCameraSink.hpp"
#include "platform/linux/qt/QtCameraRestartAlertPresenter.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

std::string extensionProgramPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string name(CameraDeviceIdentifiers::extensionProgramName);
    if (error)
        return name;
    return (self.parent_path() / name).string();
}

}  // namespace

std::unique_ptr<LinuxPersonaCamera> LinuxPersonaCamera::create(asio::any_io_executor mainActor, Clock& clock,
                                                               BlockingWorkPool& blockingWork) {
    std::unique_ptr<LinuxPersonaCamera> camera(new LinuxPersonaCamera);
    camera->queue_ = std::make_unique<SerialQueue>("com.mossharbor.quillbridge.persona-camera-feeder");
    camera->feeder_ = QueuedPersonaVirtualCameraFeeder::create(camera->queue_->executor(), clock,
                                                               std::make_unique<PipeWirePersonaCameraSink>());
    SystemPersonaVirtualCameraController::Dependencies dependencies;
    dependencies.mainActor = mainActor;
    dependencies.clock = &clock;
    dependencies.extensionManager =
        std::make_shared<SystemdCameraExtensionManager>(mainActor, extensionProgramPath());
    dependencies.deviceRegistry = std::make_shared<PipeWireCameraDeviceRegistry>(blockingWork);
    dependencies.notifications = std::make_shared<SdBusCameraDemandNotificationCenter>();
    dependencies.restartAlert = std::make_shared<QtCameraRestartAlertPresenter>();
    camera->controller_ = SystemPersonaVirtualCameraController::create(std::move(dependencies));
    return camera;
}

LinuxPersonaCamera::~LinuxPersonaCamera() {
    if (feeder_) {
        feeder_->setWantsToFeed(false);
        // The feeder's work runs on the queue: let the last of it go there before the queue stops.
        queue_->sync([feeder = std::move(feeder_)]() mutable { feeder.reset(); });
    }
}

std::function<void(DecodedPersonaCameraFrame)> LinuxPersonaCamera::frameHandler() const {
    return [weakFeeder =
                std::weak_ptr<QueuedPersonaVirtualCameraFeeder>(feeder_)](DecodedPersonaCameraFrame frame) {
        if (auto feeder = weakFeeder.lock())
            feeder->submit(std::move(frame));
    };
}

}  // namespace quillbridge
