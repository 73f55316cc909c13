// quillbridge-host: the host application. Qt's application object owns the main thread, which is the main
// actor of the recorder, the session's clients and the clipboard; the host's objects are built around the
// recorder that LinuxHostServices composes, then Qt's event loop runs until the host quits.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QMetaObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "app/BuildInfo.hpp"
#include "app/HostAppActivationController.hpp"
#include "app/HostScenes.hpp"
#include "app/MacHostApp.hpp"
#include "app/QtHostApplication.hpp"
#include "app/SingleInstanceChannel.hpp"
#include "app/SystemMicrophoneInstaller.hpp"
#include "app/TerminationSignals.hpp"
#include "core/Base64.hpp"
#include "core/Logger.hpp"
#include "core/MainActorExecutor.hpp"
#include "core/SteadyClock.hpp"
#include "platform/linux/host/LinuxHostServices.hpp"
#include "platform/linux/journal/JournalLogSink.hpp"
#include "platform/linux/microphone/PropertyChannelMicrophoneAudioObjectSystem.hpp"
#include "platform/linux/notifications/FreedesktopNotificationCenter.hpp"
#include "platform/linux/qt/QtMainThreadQueue.hpp"
#include "platform/linux/qt/XdgOpenPermissionHelpPage.hpp"
#include "platform/linux/update/LinuxSoftwareUpdater.hpp"
#include "platform/linux/update/QProcessUpdateCommandRunner.hpp"
#include "platform/linux/update/SoftwareUpdateDialog.hpp"
#include "session/ScreenStreamBroadcaster.hpp"

namespace quillbridge {
namespace {

// How long a second launch waits for the running host to take its reopen.
constexpr std::chrono::milliseconds handOffTimeout{2000};

// The main actor's timers and I/O objects keep their services on a loop of their own.
class ServiceLoop {
public:
    ServiceLoop() : guard_(asio::make_work_guard(context)), thread_([this] { context.run(); }) {}
    ~ServiceLoop() {
        guard_.reset();
        context.stop();
        thread_.join();
    }
    asio::io_context context;

private:
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::thread thread_;
};

// Destroys the host's services on a thread of its own while the main thread goes on running the main actor,
// where the recorder's last tasks let the session go.
void destroyOffTheMainThread(std::unique_ptr<LinuxHostServices> services) {
    QEventLoop loop;
    std::thread destroyer([&services, &loop] {
        services.reset();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    destroyer.join();
}

// The updater of a configured build: it installs packages through pkexec and asks for a restart.
SoftwareUpdaterControllerFactory makeUpdaterController(
    const std::function<std::shared_ptr<DefaultsStore>()>& defaults, std::function<void()> restartHost) {
    return [defaults,
            restartHost](SoftwareUpdaterDelegate& delegate) -> std::unique_ptr<SoftwareUpdaterController> {
        LinuxSoftwareUpdater::Options options;
        options.feedURL = BuildInfo::updateFeedURL().value_or("");
        options.publicKey = decodeBase64(BuildInfo::updatePublicEDKey().value_or("")).value_or(Bytes{});
        options.currentVersion = BuildInfo::buildNumber().value_or("0");
        options.currentDisplayVersion = BuildInfo::shortVersion().value_or("Unknown");
        options.defaults = defaults();
        options.commandRunner = std::make_shared<QProcessUpdateCommandRunner>();
        options.makeUserInterface = [] { return std::make_unique<SoftwareUpdateDialog>(); };
        options.restartHost = restartHost;
        return std::make_unique<LinuxSoftwareUpdater>(std::move(options), delegate);
    };
}

// The menu window's microphone installer: the host's carried metadata and package under the installed
// share/quillbridge, the installed microphone's property list beside them, the program's socket for whether
// it runs, and the package tool started detached.
std::shared_ptr<SystemMicrophoneInstallerModel> makeSystemMicrophoneInstaller(
    asio::any_io_executor mainActor) {
    const std::filesystem::path share =
        std::filesystem::path(BuildInfo::installPrefix()) / "share" / "quillbridge";
    return SystemMicrophoneInstaller::create({
        .executor = std::move(mainActor),
        .clock = std::make_shared<SteadyClock>(),
        .resourcesDirectory = share / "SystemMicrophone",
        .installedDriverDirectory = share / "QuillbridgeMicrophone.driver",
        .isDriverLoaded =
            [] {
                auto path = PropertyChannelMicrophoneAudioObjectSystem::defaultSocketPath();
                if (!path) {
                    return false;
                }
                PropertyChannelMicrophoneAudioObjectSystem channel(*path, std::chrono::milliseconds(250));
                auto box = channel.translateUIDToBox(microphone::boxUID);
                return box.has_value() && *box != 0;
            },
        .launch =
            [](const std::vector<std::string>& command) {
                QStringList arguments;
                for (std::size_t index = 1; index < command.size(); ++index) {
                    arguments.push_back(QString::fromStdString(command[index]));
                }
                return QProcess::startDetached(QString::fromStdString(command.front()), arguments);
            },
    });
}

// The application's objects around the recorder that the host services compose when the application asks for
// it (into `services`). Throws when the services cannot be made.
std::unique_ptr<MacHostApp> makeHostApp(const asio::any_io_executor& mainActor,
                                        const std::shared_ptr<QtHostApplication>& application,
                                        std::unique_ptr<LinuxHostServices>& services,
                                        std::function<void()> restartHost) {
    return std::make_unique<MacHostApp>(MacHostApp::Environment{
        .mainActor = mainActor,
        .application = application,
        .programPath = QCoreApplication::applicationFilePath().toStdString(),
        .applicationsFolder = BuildInfo::installPrefix(),
        .makeScreenRecorder =
            [mainActor, &services](const MacHostApp&) {
                std::string error;
                LinuxHostServicesOptions options;
                options.mainActor = mainActor;
                services = LinuxHostServices::create(std::move(options), &error);
                if (!services) {
                    throw std::runtime_error(error);
                }
                return services->sharedRecorder();
            },
        .standardDefaults = [&services] { return services->sharedDefaults(); },
        .appActivationController = nullptr,
        .updateReleaseConfiguration = {BuildInfo::updateFeedURL(), BuildInfo::updatePublicEDKey()},
        .makeUpdaterController =
            makeUpdaterController([&services] { return services->sharedDefaults(); }, std::move(restartHost)),
        .makeNotificationCenter = [] { return std::make_shared<FreedesktopNotificationCenter>(); },
        .permissionHelpPage = std::make_shared<XdgOpenPermissionHelpPage>(
            XdgOpenPermissionHelpPage::installedPage(BuildInfo::installPrefix())),
        .clock = nullptr,
    });
}

// Whether this process ends before the application starts, with its exit status: another host took the
// reopen, or there is no X display.
std::optional<int> exitBeforeStarting(const Logger& logger, const std::filesystem::path& socketPath) {
    if (SingleInstanceChannel::handOffToRunningInstance(socketPath, handOffTimeout)) {
        logger.notice("Quillbridge Host is already running; it was asked to come forward");
        return 0;
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(stderr,
                     "quillbridge-host: no X display (DISPLAY is not set); the host runs on an X11 "
                     "desktop\n");
        return 1;
    }
    // Capture and input are X11: the windows and the tray go through the same display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    return std::nullopt;
}

// The application's name, version, desktop entry and icon, once Qt's application object exists.
void describeApplication() {
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("quillbridge-host"));
    // No display name: Qt would append it to every window title ("About Quillbridge Host — ...").
    QApplication::setApplicationVersion(QString::fromStdString(BuildInfo::shortVersion().value_or("")));
    QGuiApplication::setDesktopFileName(
        QString::fromUtf8(HostAppActivationController::applicationIdentifier));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quillbridge/icons/quillbridge-host.svg")));
}

int run(int argc, char** argv, std::string& restartProgram) {
    // On a terminal the log goes there; started by the desktop, to the journal when there is one.
    if (::isatty(STDERR_FILENO) == 0) {
        useSystemJournalWhenPresent();
    }
    Logger logger("App");
    const auto socketPath = SingleInstanceChannel::defaultSocketPath();
    if (auto status = exitBeforeStarting(logger, socketPath)) {
        return *status;
    }

    QApplication qtApplication(argc, argv);
    describeApplication();

    // Reopen requests wait in the event loop until the scenes exist.
    std::unique_ptr<HostScenes> scenes;
    SingleInstanceChannel channel;
    if (!channel.listen(socketPath, [&scenes] {
            if (scenes) {
                scenes->reopen();
            }
        })) {
        logger.notice("Another Quillbridge Host answers at ", socketPath.string(), "; this one ends");
        return SingleInstanceChannel::handOffToRunningInstance(socketPath, handOffTimeout) ? 0 : 1;
    }

    auto serviceLoop = std::make_unique<ServiceLoop>();
    const asio::any_io_executor mainActor(
        MainActorExecutor(std::make_shared<QtMainThreadQueue>(), serviceLoop->context));
    auto application = std::make_shared<QtHostApplication>();
    std::unique_ptr<LinuxHostServices> services;
    std::unique_ptr<MacHostApp> app;
    // An installed update restarts the host: it quits as usual and then runs the new program in its place.
    // The path is taken now: once the package manager has replaced the program, the running process's own
    // link names the deleted file.
    auto restartHost = [&restartProgram, application,
                        program = QCoreApplication::applicationFilePath().toStdString()] {
        restartProgram = program;
        application->terminate();
    };
    try {
        app = makeHostApp(mainActor, application, services, restartHost);
    } catch (const std::exception& failure) {
        logger.fault("Quillbridge Host cannot start: ", failure.what());
        std::fprintf(stderr, "quillbridge-host: %s\n", failure.what());
        return 1;
    }
    application->setDelegate(app->applicationDelegate());

    // The name the headset shows for this host is fixed once the session exists.
    ContentView::Dependencies menuParts;
    menuParts.localDeviceName = services->broadcaster()->localPeerIdentity().name;
    menuParts.makeSystemMicrophoneInstaller = [mainActor] {
        return makeSystemMicrophoneInstaller(mainActor);
    };
    scenes = std::make_unique<HostScenes>(*app, *application, std::move(menuParts));
    auto quitSignals = std::make_unique<TerminationSignals>([application] { application->terminate(); });
    // The launch waits until the grants have been read off the main thread.
    services->whenPermissionsRead([&scenes] {
        if (scenes) {
            scenes->launch();
        }
    });

    const int status = QApplication::exec();

    // From here a signal ends the process at once.
    quitSignals.reset();
    // The windows and the application's objects go first, on the main thread; then the services, while the
    // main thread still runs what the recorder's tasks leave on it.
    scenes.reset();
    app.reset();
    destroyOffTheMainThread(std::move(services));
    serviceLoop.reset();
    return status;
}

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    std::string restartProgram;
    const int status = quillbridge::run(argc, argv, restartProgram);
    if (!restartProgram.empty()) {
        // The single-instance socket and every window are gone by now: the new program starts afresh.
        ::execv(restartProgram.c_str(), argv);
        std::perror("quillbridge-host: cannot restart");
    }
    return status;
}
