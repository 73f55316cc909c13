// The application's widgets and Qt adapters on the off-screen platform: window scenes and their roles, the
// window accessor, the tray item's rules at work, the scenes' reopen and launch, quitting through the
// application object, the quit signals and the single-instance channel.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include "AppTestDoubles.hpp"
#include "app/AppWindowAccessor.hpp"
#include "app/ContentView.hpp"
#include "app/HostAboutWindow.hpp"
#include "app/HostScenes.hpp"
#include "app/MacHostApp.hpp"
#include "app/MenuBarExtraWindow.hpp"
#include "app/PairingPromptView.hpp"
#include "app/QtHostApplication.hpp"
#include "app/SingleInstanceChannel.hpp"
#include "app/TerminationSignals.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// Runs Qt's queued work, deferred deletions included.
void processQtEvents() {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

TEST(AppWindowAccessorTest, ResolvesOnALaterTurnOncePerMakeAndUpdate) {
    QWidget window;
    std::vector<QWidget*> resolved;
    auto* accessor = new AppWindowAccessor([&](QWidget* host) { resolved.push_back(host); }, &window);
    EXPECT_TRUE(resolved.empty()) << "never inside the make step itself";
    processQtEvents();
    EXPECT_EQ(resolved, std::vector<QWidget*>{&window});

    accessor->scheduleResolution();
    processQtEvents();
    EXPECT_EQ(resolved, (std::vector<QWidget*>{&window, &window}));

    resolved.clear();
    accessor->scheduleResolution();
    delete accessor;
    processQtEvents();
    EXPECT_EQ(resolved, std::vector<QWidget*>{nullptr}) << "gone before its turn: nothing";

    resolved.clear();
    AppWindowAccessor alone([&](QWidget* host) { resolved.push_back(host); });
    processQtEvents();
    EXPECT_EQ(resolved, std::vector<QWidget*>{nullptr}) << "in no window";
}

TEST(MenuBarExtraWindowTest, PanelOpensNextToTheTrayInsideTheScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize panel(320, 200);
    // A tray at the bottom right: above the icon, kept inside the right edge.
    EXPECT_EQ(MenuBarExtraWindow::panelPosition(panel, QRect(1890, 1050, 24, 24), screen), QPoint(1600, 850));
    // A tray at the top left: below the icon, kept inside the left edge.
    EXPECT_EQ(MenuBarExtraWindow::panelPosition(panel, QRect(4, 2, 24, 24), screen), QPoint(0, 26));
    // In the middle of a top panel: centred below.
    EXPECT_EQ(MenuBarExtraWindow::panelPosition(panel, QRect(950, 0, 21, 24), screen), QPoint(800, 24));
}

// The application's objects around a recorder of fakes; the scenes built on them.
class AppScenesTest : public AppTest {
protected:
    void SetUp() override { makeRecorder(); }

    void TearDown() override {
        scenes.reset();
        app.reset();
        processQtEvents();
        settle();
    }

    // The application's objects, with the scenes unless told otherwise.
    void makeApp(std::shared_ptr<HostApplication> hostApplication = nullptr, bool withScenes = true) {
        if (!hostApplication) {
            hostApplication = application;
        }
        app = std::make_unique<MacHostApp>(MacHostApp::Environment{
            .mainActor = context.get_executor(),
            .application = hostApplication,
            .programPath = "/opt/quillbridge-test-prefix/bin/quillbridge-host",
            .applicationsFolder = "/opt/quillbridge-test-prefix",
            .makeScreenRecorder = [this](const MacHostApp&) { return recorder; },
            .standardDefaults = [this] { return defaults; },
            .appActivationController = activationController,
            .updateReleaseConfiguration = {},
            .makeUpdaterController = nullptr,
            .makeNotificationCenter = nullptr,
            .permissionHelpPage = nullptr,
            .clock = clock,
        });
        if (withScenes) {
            scenes = std::make_unique<HostScenes>(*app, *hostApplication);
        }
        processQtEvents();
        settle();
    }

    void completeFlowEarlier() {
        defaults->setBoolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey, true);
        defaults->setBoolean(PermissionOnboardingCoordinator::hasCompletedDefaultsKey, true);
    }

    std::unique_ptr<MacHostApp> app;
    std::unique_ptr<HostScenes> scenes;
};

TEST_F(AppScenesTest, WindowScenesAreSingleInstanceAndHoldTheirRoleWhileOnScreen) {
    completeFlowEarlier();
    makeApp();
    EXPECT_EQ(scenes->aboutScene().window(), nullptr) << "never opened at launch";
    EXPECT_EQ(scenes->setupScene().window(), nullptr);

    ASSERT_TRUE(scenes->openWindow()("about"));
    processQtEvents();
    QWidget* about = scenes->aboutScene().window();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), "About Quillbridge Host");
    EXPECT_TRUE(about->isVisible());
    EXPECT_TRUE(activationController->isPresented(WindowRole::about));
    EXPECT_EQ(activation->policy, ActivationPolicy::regular);
    EXPECT_TRUE(activationController->bringPresentedWindowsToFront()) << "its window was registered";

    scenes->openWindow()("about");
    processQtEvents();
    EXPECT_EQ(scenes->aboutScene().window(), about) << "the existing window comes forward";

    about->close();
    processQtEvents();
    EXPECT_EQ(scenes->aboutScene().window(), nullptr);
    EXPECT_FALSE(activationController->isPresented(WindowRole::about));
    EXPECT_EQ(activation->policy, ActivationPolicy::accessory);
    EXPECT_FALSE(scenes->openWindow()("no-such-window"));
}

TEST_F(AppScenesTest, FirstLaunchOpensTheSetupWindowAndShowsTheBadge) {
    makeApp();
    EXPECT_EQ(scenes->statusBarIcon().symbolName(), StatusBarIconRules::attentionSymbol);
    EXPECT_EQ(scenes->statusBarIcon().tray().toolTip(), "Quillbridge Host setup required");
    QWidget* setup = scenes->setupScene().window();
    ASSERT_NE(setup, nullptr) << "the setup task opened it";
    EXPECT_EQ(setup->windowTitle(), "Quillbridge Host Setup");
    EXPECT_TRUE(app->permissionOnboarding()->isSetupWindowPresented());
    EXPECT_TRUE(activationController->isPresented(WindowRole::permissionOnboarding));

    // Closed by the user: the task runs again and opens it again, as the flow is not complete.
    setup->close();
    processQtEvents();
    EXPECT_NE(scenes->setupScene().window(), nullptr);
}

TEST_F(AppScenesTest, IconFollowsTheRecorderAfterACompletedFlow) {
    completeFlowEarlier();
    makeApp();
    EXPECT_EQ(scenes->setupScene().window(), nullptr) << "the first check is not done yet";
    EXPECT_EQ(scenes->statusBarIcon().symbolName(), StatusBarIconRules::readySymbol);
    EXPECT_EQ(scenes->statusBarIcon().tray().toolTip(), "Quillbridge Host");

    connectHeadset();
    processQtEvents();
    EXPECT_EQ(scenes->statusBarIcon().symbolName(), StatusBarIconRules::connectedSymbol);

    ScreenRecorder::PairingPrompt prompt;
    prompt.peerName = "Headset";
    recorder->handlePairingPrompt(prompt);
    processQtEvents();
    EXPECT_EQ(scenes->statusBarIcon().symbolName(), StatusBarIconRules::attentionSymbol);
    prompt.isExpired = true;
    recorder->handlePairingPrompt(prompt);
    processQtEvents();
    EXPECT_EQ(scenes->statusBarIcon().symbolName(), StatusBarIconRules::connectedSymbol) << "expired";
}

TEST_F(AppScenesTest, WithoutATrayTheMenuWindowShowsAtLaunchAndOnEveryReopen) {
    completeFlowEarlier();
    makeApp();
    ASSERT_FALSE(scenes->hasTray()) << "the off-screen platform has no tray";
    scenes->launch();
    processQtEvents();
    QWidget* menu = scenes->menuWindow().window();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->windowTitle(), "Quillbridge Host");

    menu->hide();
    scenes->reopen();
    processQtEvents();
    EXPECT_TRUE(menu->isVisible()) << "no presented window: the default reopen shows the menu window";

    menu->hide();
    scenes->openWindow()("about");
    processQtEvents();
    scenes->reopen();
    processQtEvents();
    EXPECT_FALSE(menu->isVisible()) << "the presented About window came forward instead";
}

// The menu window runs on the application's own parts: the coordinator's start of the flow, the pairing
// prompt's real view and presenter, the update controller.
TEST_F(AppScenesTest, TheMenuWindowIsWiredToTheApplicationsParts) {
    makeApp();
    scenes->openMenuWindow();
    processQtEvents();
    ASSERT_NE(scenes->menuWindow().window(), nullptr);
    auto* view = scenes->menuWindow().window()->findChild<ContentView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->updateStatusLabel()->text(),
              "Update checking is not configured for this development build.");

    auto* setUp = view->setupBanner()->findChild<QPushButton*>();
    ASSERT_NE(setUp, nullptr);
    setUp->click();
    processQtEvents();
    settle();
    EXPECT_TRUE(app->permissionOnboarding()->hasStartedPermissionFlow());
    EXPECT_EQ(defaults->boolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey),
              std::optional<bool>(true));

    ScreenRecorder::PairingPrompt prompt;
    prompt.id = Uuid::random();
    prompt.peerName = "Headset";
    recorder->handlePairingPrompt(prompt);
    processQtEvents();
    settle();
    EXPECT_NE(dynamic_cast<PairingPromptView*>(view->inlinePairingPrompt()), nullptr);

    // The detached window takes the prompt; "Return Pairing Prompt to Menu" closes it and brings it back.
    const auto& presenter = app->pairingPromptPresenter();
    presenter->presentPairingPromptWindow(prompt.id);
    processQtEvents();
    settle();
    ASSERT_NE(presenter->pairingPromptWindow(), nullptr);
    EXPECT_EQ(view->inlinePairingPrompt(), nullptr);
    ASSERT_TRUE(view->returnPromptButton()->isVisibleTo(view));
    view->returnPromptButton()->click();
    processQtEvents();
    settle();
    processQtEvents();
    EXPECT_EQ(presenter->pairingPromptWindow(), nullptr);
    EXPECT_FALSE(presenter->isPairingPromptInWindow());
    EXPECT_NE(dynamic_cast<PairingPromptView*>(view->inlinePairingPrompt()), nullptr);
}

TEST_F(AppScenesTest, ContextMenuOffersAboutAndQuit) {
    makeApp();
    QStringList titles;
    for (QAction* action : scenes->contextMenu().actions()) {
        if (!action->isSeparator()) {
            titles << action->text();
        }
    }
    ASSERT_EQ(titles, (QStringList{"About Quillbridge Host", "Quit Quillbridge Host"}));
    scenes->contextMenu().actions().front()->trigger();
    processQtEvents();
    EXPECT_NE(scenes->aboutScene().window(), nullptr);
    scenes->contextMenu().actions().back()->trigger();
    EXPECT_EQ(application->terminations, 1);
}

// Quitting through the Qt application object: the first request ends the event loop once the recorder has
// shut down; a second one during the shutdown ends the process at once.
class QtHostApplicationTest : public AppScenesTest {};

TEST_F(QtHostApplicationTest, FirstQuitEndsTheLoopAfterTheShutdownSecondEndsAtOnce) {
    int immediateExits = 0;
    auto qtApplication = std::make_shared<QtHostApplication>([&] { ++immediateExits; });
    makeApp(qtApplication, false);
    qtApplication->setDelegate(app->applicationDelegate());
    session->beforeStop = [clock = clock]() -> asio::awaitable<void> { co_await clock->sleepFor(1s); };

    QEventLoop loop;
    QTimer mainActor;
    QObject::connect(&mainActor, &QTimer::timeout, [&] {
        settle();
        if (clock->pendingSleeperCount() == 1 && immediateExits == 0) {
            qtApplication->terminate();  // the second request, during the shutdown
            EXPECT_EQ(immediateExits, 1);
            clock->advance(1s);
        }
    });
    mainActor.start(1);
    QTimer::singleShot(0, [&] {
        qtApplication->terminate();
        EXPECT_TRUE(qtApplication->isAwaitingTerminationReply());
    });
    QTimer::singleShot(10000, [&] { loop.exit(2); });
    EXPECT_EQ(loop.exec(), 0) << "the reply after the shutdown ended the loop";
    EXPECT_EQ(immediateExits, 1);
    EXPECT_EQ(session->count("stop"), 1);
}

TEST(TerminationSignalsTest, EachSignalIsOneQuitRequestOnTheEventLoop) {
    int requests = 0;
    TerminationSignals quitSignals([&] { ++requests; });
    ASSERT_TRUE(quitSignals.isInstalled());
    ::raise(SIGTERM);
    ::raise(SIGINT);
    EXPECT_EQ(requests, 0) << "not inside the signal handler";
    for (int round = 0; round < 100 && requests < 2; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(requests, 2);
}

class SingleInstanceChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillbridge-runtime-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
        socketPath = folder / "quillbridge-host.socket";
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // Hands off from another thread while this one runs the event loop, where the listener answers.
    bool handOffWhileServing() {
        auto handedOff = std::async(std::launch::async, [&] {
            return SingleInstanceChannel::handOffToRunningInstance(socketPath, 5s);
        });
        while (handedOff.wait_for(0s) != std::future_status::ready) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        processQtEvents();
        return handedOff.get();
    }

    std::filesystem::path folder;
    std::filesystem::path socketPath;
};

TEST_F(SingleInstanceChannelTest, ASecondLaunchHandsItsReopenToTheRunningHost) {
    EXPECT_FALSE(SingleInstanceChannel::handOffToRunningInstance(socketPath, 1s)) << "nobody listens yet";
    int reopens = 0;
    SingleInstanceChannel channel;
    ASSERT_TRUE(channel.listen(socketPath, [&] { ++reopens; }));
    EXPECT_TRUE(handOffWhileServing());
    EXPECT_TRUE(handOffWhileServing());
    EXPECT_EQ(reopens, 2);
}

TEST_F(SingleInstanceChannelTest, TakesOverTheSocketOfAHostThatIsGone) {
    // A socket file nobody listens on any more.
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(descriptor);
    ASSERT_TRUE(std::filesystem::exists(socketPath));

    int reopens = 0;
    SingleInstanceChannel channel;
    ASSERT_TRUE(channel.listen(socketPath, [&] { ++reopens; }));
    EXPECT_TRUE(handOffWhileServing());
    EXPECT_EQ(reopens, 1);
}

}  // namespace
}  // namespace quillbridge
