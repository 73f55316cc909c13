// quillbridge-camera-extension: the "Quillbridge Persona Camera" for desktop apps, fed by the host.
//
//   quillbridge-camera-extension [--foreground]
//
// Publishes the camera's two PipeWire nodes and runs until SIGTERM or SIGINT. Logs go to the systemd journal
// when there is one, else to stderr; --foreground (a plain run, as tests do) always logs to stderr. A camera
// that cannot be set up is logged and the program keeps running without it.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <pipewire/pipewire.h>

#include "camera_extension/CameraHostClock.hpp"
#include "camera_extension/PersonaCameraProviderSource.hpp"
#include "camera_extension/linux/CameraLogWriters.hpp"
#include "camera_extension/linux/PipeWireCameraDeviceHost.hpp"
#include "camera_extension/linux/PipeWireLoopStateQueue.hpp"
#include "camera_extension/linux/ScheduledOutputSender.hpp"
#include "camera_extension/linux/SdBusNotificationCenter.hpp"
#include "camera_extension/linux/V4l2LoopbackWriter.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;

void quit(void* data, int) {
    pw_main_loop_quit(static_cast<pw_main_loop*>(data));
}

std::unique_ptr<V4l2LoopbackWriter> openLabelledLoopbackDevice(const CameraExtensionLogger& logger) {
    auto devicePath = V4l2LoopbackWriter::findLabelledDevice(Ids::v4l2LoopbackCardLabel);
    if (!devicePath)
        return nullptr;
    return V4l2LoopbackWriter::open(*devicePath, logger);
}

// The camera and everything it stands on, made in order and released in reverse: the provider first, then
// the state queue (with what its pending work holds), then the services the device used.
void serveCamera(pw_main_loop& mainLoop, pw_context& context, const CameraExtensionLogger& logger) {
    pw_loop& loop = *pw_main_loop_get_loop(&mainLoop);
    ScheduledOutputSender scheduledOutputSender(ScheduledOutputSender::defaultSocketPath(), logger);
    PipeWireCameraDeviceHost deviceHost(loop, context, scheduledOutputSender, logger);
    SdBusNotificationCenter notifications(loop, logger);
    if (const auto& failure = notifications.connectionFailure())
        logger.error("Could not connect to the session bus: " + *failure);
    std::unique_ptr<V4l2LoopbackWriter> loopbackWriter = openLabelledLoopbackDevice(logger);
    SteadyCameraHostClock hostClock;
    PipeWireLoopStateQueue stateQueue(loop);
    PersonaCameraProviderSource provider(PersonaCameraDeviceSource::Environment{
        .deviceHost = deviceHost,
        .notifications = notifications,
        .stateQueue = stateQueue,
        .hostClock = hostClock,
        .logger = logger,
        .frameMirror = loopbackWriter.get(),
    });
    pw_main_loop_run(&mainLoop);
}

int run(const CameraExtensionLogger& logger) {
    pw_main_loop* mainLoop = pw_main_loop_new(nullptr);
    if (mainLoop == nullptr) {
        logger.error(std::string("Could not create the main loop: ") + std::strerror(errno));
        return 1;
    }
    pw_loop* loop = pw_main_loop_get_loop(mainLoop);
    pw_loop_add_signal(loop, SIGINT, &quit, mainLoop);
    pw_loop_add_signal(loop, SIGTERM, &quit, mainLoop);
    pw_context* context =
        pw_context_new(loop,
                       pw_properties_new(PW_KEY_APP_NAME, std::string(Ids::deviceName).c_str(), PW_KEY_APP_ID,
                                         std::string(Ids::extensionBundleIdentifier).c_str(), nullptr),
                       0);
    if (context != nullptr) {
        serveCamera(*mainLoop, *context, logger);
        pw_context_destroy(context);
    } else {
        logger.error(std::string("Could not add the Persona camera device: ") + std::strerror(errno));
        pw_main_loop_run(mainLoop);
    }
    pw_main_loop_destroy(mainLoop);
    return 0;
}

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    using namespace quillbridge;
    bool foreground = false;
    for (int index = 1; index < argc; ++index) {
        std::string_view argument = argv[index];
        if (argument == "--foreground") {
            foreground = true;
        } else if (argument == "--help" || argument == "-h") {
            std::printf("usage: %s [--foreground]\n", argv[0]);
            return 0;
        } else {
            std::fprintf(stderr, "%s: unknown option %s\nusage: %s [--foreground]\n", argv[0], argv[index],
                         argv[0]);
            return 2;
        }
    }
    CameraExtensionLogger logger(!foreground && isSystemJournalPresent() ? makeJournalCameraLogWriter()
                                                                         : makeStreamCameraLogWriter(stderr));
    pw_init(&argc, &argv);
    int status = run(logger);
    pw_deinit();
    return status;
}
