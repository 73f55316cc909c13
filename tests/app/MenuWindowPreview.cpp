// The application's tray item and menu window around a recorder of fakes, in one of three states, for the
// screenshot test: "setup" (the permission flow not started), "ready" (a listening host with a paired device)
// and "pairing" (a pairing request shown in the menu). It runs until it is terminated.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "app/HostScenes.hpp"
#include "app/MacHostApp.hpp"
#include "app/PermissionOnboardingCoordinator.hpp"
#include "app/QtHostApplication.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/MainActorExecutor.hpp"
#include "core/SteadyClock.hpp"
#include "platform/linux/qt/QtMainThreadQueue.hpp"
#include "support/FakeAudioOutputMuteControls.hpp"
#include "support/FakeCaptureStream.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeDisplayProvider.hpp"
#include "support/FakeHostObservers.hpp"
#include "support/FakeScreenRecorderSession.hpp"
#include "support/bridge/FakeVirtualDevices.hpp"
#include "support/bridge/RecordingBridgeReceivers.hpp"

namespace quillbridge {
namespace {

CaptureDisplay previewDisplay(std::uint32_t id, std::string connector, int width, int height) {
    CaptureDisplay display;
    display.displayID = id;
    display.connectorName = std::move(connector);
    display.frame = CaptureRect{0, 0, static_cast<double>(width), static_cast<double>(height)};
    display.pointSize = CaptureSize{static_cast<double>(width), static_cast<double>(height)};
    display.pixelWidth = width;
    display.pixelHeight = height;
    display.modeRefreshRate = 60;
    return display;
}

// Stands in for the pairing prompt view in the preview: who asks, as plain text.
QWidget* previewPairingPrompt(QWidget* parent, std::string peerName) {
    auto* prompt = new QWidget(parent);
    auto* stack = new QVBoxLayout(prompt);
    stack->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(QStringLiteral("Pair Vision Pro"), prompt);
    QFont font = title->font();
    font.setWeight(QFont::DemiBold);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    title->setFont(font);
    stack->addWidget(title);
    auto* name = new QLabel(QString::fromStdString(peerName), prompt);
    name->setTextFormat(Qt::PlainText);
    stack->addWidget(name);
    return prompt;
}

int run(int argc, char** argv) {
    const std::string state = argc > 1 ? argv[1] : "ready";
    if (state != "setup" && state != "ready" && state != "pairing") {
        std::fprintf(stderr, "usage: %s setup|ready|pairing\n", argv[0]);
        return 2;
    }
    QApplication qtApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    asio::io_context services;
    auto guard = asio::make_work_guard(services);
    std::thread serviceThread([&services] { services.run(); });
    const asio::any_io_executor mainActor(MainActorExecutor(std::make_shared<QtMainThreadQueue>(), services));

    auto defaults = std::make_shared<FakeDefaultsStore>();
    if (state != "setup") {
        defaults->setBoolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey, true);
        defaults->setBoolean(PermissionOnboardingCoordinator::hasCompletedDefaultsKey, true);
    }
    auto session = std::make_shared<FakeScreenRecorderSession>();
    if (state != "setup") {
        session->peers = {PairedPeerRecord{Uuid::random(), "Living Room Vision Pro", {}, {}, {}}};
    }
    auto displays = std::make_shared<FakeDisplayProvider>();
    displays->displays = {previewDisplay(1, "HDMI-1", 1920, 1080), previewDisplay(2, "DP-2", 2560, 1440)};
    auto audio = std::make_shared<FakeAudioOutputMuteControls::State>();
    auto recorder = ScreenRecorder::create(ScreenRecorderDependencies{
        .mainActor = mainActor,
        .drainExecutor = mainActor,
        .clock = std::make_shared<SteadyClock>(),
        .defaults = defaults,
        .session = session,
        .captureStreamFactory = std::make_shared<FakeCaptureStreamFactory>(),
        .displayProvider = displays,
        .permissionProbe = std::make_shared<FakeMandatoryPermissionProbe>(),
        .powerEvents = std::make_shared<FakeHostPowerEventSource>(),
        .lidState = std::make_shared<FakeLidStateObserver>(),
        .displayConfiguration = std::make_shared<FakeDisplayConfigurationObserver>(),
        .muteController =
            std::make_shared<SystemAudioMuteController>(std::make_unique<FakeAudioOutputMuteControls>(audio)),
        .blockingWork = nullptr,
        .timingCoordinator = std::make_shared<RecordingPersonaAVTimingCoordinator>(),
        .cameraController = std::make_shared<FakePersonaVirtualCameraController>(),
        .cameraFeeder = std::make_shared<FakePersonaVirtualCameraFeeder>(),
        .microphoneDevice = std::make_shared<FakeVirtualMicrophoneDevice>(),
    });

    auto application = std::make_shared<QtHostApplication>();
    auto app = std::make_unique<MacHostApp>(MacHostApp::Environment{
        .mainActor = mainActor,
        .application = application,
        .programPath = "/opt/quillbridge-preview/bin/quillbridge-host",
        .applicationsFolder = "/opt/quillbridge-preview",
        .makeScreenRecorder = [&](const MacHostApp&) { return recorder; },
        .standardDefaults = [&] { return defaults; },
        .appActivationController = nullptr,
    });
    application->setDelegate(app->applicationDelegate());

    const std::string peerName = "<b>Living Room</b> Vision Pro";
    ContentView::Dependencies menuParts;
    menuParts.localDeviceName = "Quillbridge Test Desk";
    menuParts.makePairingPromptView = [peerName](QWidget* parent) {
        return previewPairingPrompt(parent, peerName);
    };
    auto scenes = std::make_unique<HostScenes>(*app, *application, std::move(menuParts));
    scenes->launch();

    if (state != "setup") {
        asio::co_spawn(
            mainActor,
            [recorder, state, peerName]() -> asio::awaitable<void> {
                co_await recorder->refreshAvailableContent();
                co_await recorder->handleSessionState(
                    ScreenRecorderSession::State::localNetworkPermissionGranted());
                co_await recorder->handleSessionState(ScreenRecorderSession::State::listening());
                if (state == "pairing") {
                    ScreenRecorder::PairingPrompt prompt;
                    prompt.id = Uuid::random();
                    prompt.peerName = peerName;
                    prompt.remainingAttempts = 3;
                    recorder->handlePairingPrompt(prompt);
                }
            },
            asio::detached);
    }
    std::printf("menu window preview running (%s)\n", state.c_str());
    std::fflush(stdout);
    const int status = QApplication::exec();
    scenes.reset();
    app.reset();
    guard.reset();
    services.stop();
    serviceThread.join();
    return status;
}

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    return quillbridge::run(argc, argv);
}
