// quillbridge-microphone: the virtual microphone "Quillbridge Microphone". The host publishes it and feeds
// it through the property channel (a socket in $XDG_RUNTIME_DIR); desktop applications record it from
// PipeWire. It links nothing of the host.

#include <signal.h>
#include <systemd/sd-daemon.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "microphone_plugin/MicrophoneDriver.hpp"
#include "microphone_plugin/MicrophoneProgramOptions.hpp"
#include "microphone_plugin/ThreadMicrophoneTaskQueue.hpp"
#include "microphone_plugin/linux/LinuxMicrophoneDriverHost.hpp"
#include "microphone_plugin/linux/MicrophoneProgramLog.hpp"
#include "microphone_plugin/linux/PipeWireMicrophoneSource.hpp"
#include "microphone_plugin/linux/PropertyChannelServer.hpp"

using namespace quillbridge;

namespace {

MicrophoneDriverEnvironment productionEnvironment(const MicrophoneClock& clock, MicrophoneProgramLog& log,
                                                  std::chrono::nanoseconds leaseDuration) {
    MicrophoneDriverEnvironment environment;
    environment.clock = &clock;
    environment.makeSerialQueue = [](std::string_view) {
        return std::make_unique<ThreadMicrophoneTaskQueue>();
    };
    environment.logNotice = [&log](std::string_view text) { log.notice(text); };
    environment.writeStandardError = [](std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    };
    environment.leaseDuration = leaseDuration;
    return environment;
}

// Blocks the signals that end the program in every thread, so that only the main thread's wait takes them.
sigset_t blockEndingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    // Raised by the program itself when PipeWire goes away.
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// Runs the driver with its two adapters until a signal ends the program; the exit status.
int serve(const MicrophoneProgramOptions& options, MicrophoneProgramLog& log, const sigset_t& endingSignals) {
    auto socketPath = PropertyChannelServer::defaultSocketPath();
    if (!socketPath) {
        log.error(
            "XDG_RUNTIME_DIR is not set to a usable folder; the property channel has nowhere to listen");
        return 1;
    }
    SteadyMicrophoneClock clock;
    auto driver =
        std::make_unique<MicrophoneDriver>(productionEnvironment(clock, log, options.leaseDuration));
    // As an audio server would: the factory, the driver interface, then initialisation.
    MicrophoneDriverRef reference = driver->create(nullptr, microphone_uuid::plugInType);
    void* interface = nullptr;
    const MicrophoneDriverInterface& table = **reference;
    LinuxMicrophoneDriverHost host;
    if (table.queryInterface(reference, &microphone_uuid::driverInterface, &interface) != 0 ||
        table.initialize(reference, &host) != 0) {
        log.error("The driver refused to start");
        return 1;
    }
    auto server = PropertyChannelServer::start(*socketPath, reference, log);
    auto source = server
                      ? PipeWireMicrophoneSource::start(reference, log, [] { ::kill(::getpid(), SIGUSR1); })
                      : nullptr;
    if (!server || !source) {
        return 1;
    }
    host.addListener([&server](MicrophoneObjectID objectID,
                               std::span<const MicrophonePropertyAddress> addresses) {
        if (auto message = MicrophonePropertyChannelHandler::encodePropertiesChanged(objectID, addresses)) {
            server->broadcast(std::move(*message));
        }
    });
    host.addListener(
        [&source](MicrophoneObjectID objectID, std::span<const MicrophonePropertyAddress> addresses) {
            source->propertiesChanged(objectID, addresses);
        });
    source->refreshPublication();
    log.notice("Serving the property channel at " + *socketPath);
    if (!options.foreground) {
        sd_notify(0, "READY=1");
    }

    int signal = 0;
    sigwait(&endingSignals, &signal);
    log.notice(signal == SIGUSR1 ? "Stopping: the connection to PipeWire was lost" : "Stopping");
    // Requests end first, then announcements, then the node, then the driver's own queues.
    server.reset();
    host.removeListeners();
    source.reset();
    table.release(reference);
    driver.reset();
    return signal == SIGUSR1 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    sigset_t endingSignals = blockEndingSignals();
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    auto options = MicrophoneProgramOptions::parse(arguments);
    if (!options) {
        std::fprintf(stderr, "quillbridge-microphone: %s\n%s", options.error().c_str(),
                     std::string(MicrophoneProgramOptions::usage()).c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(std::string(MicrophoneProgramOptions::usage()).c_str(), stdout);
        return 0;
    }
    MicrophoneProgramLog log(!options->foreground);
    return serve(*options, log, endingSignals);
}
