// The application's root object, its delegate and the onboarding coordinator's launch entry, around a
// recorder made of fakes.
#include "app/MacHostApp.hpp"

#include <chrono>

#include <gtest/gtest.h>

#include "AppTestDoubles.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

const std::filesystem::path installPrefix = "/opt/quillbridge-test-prefix";
const std::filesystem::path installedProgram = installPrefix / "bin/quillbridge-host";

class MacHostAppTest : public AppTest {
protected:
    void SetUp() override { makeRecorder(); }

    void TearDown() override {
        app.reset();
        settle();
    }

    void makeApp(std::filesystem::path program = installedProgram) {
        app = std::make_unique<MacHostApp>(MacHostApp::Environment{
            .mainActor = context.get_executor(),
            .application = application,
            .programPath = std::move(program),
            .applicationsFolder = installPrefix,
            .makeScreenRecorder =
                [this](const MacHostApp& partial) {
                    ++recorderCreations;
                    // What exists when the recorder is made: the delegate (without its references yet) and
                    // the activation controller; the coordinator comes later.
                    EXPECT_TRUE(partial.applicationDelegate());
                    EXPECT_TRUE(partial.applicationDelegate()->screenRecorder().expired());
                    EXPECT_EQ(partial.appActivationController(), activationController);
                    EXPECT_FALSE(partial.permissionOnboarding());
                    return recorder;
                },
            .standardDefaults = [this] { return defaults; },
            .appActivationController = activationController,
            .updateReleaseConfiguration = {},
            .makeUpdaterController = nullptr,
            .makeNotificationCenter = nullptr,
            .permissionHelpPage = nullptr,
            .clock = clock,
        });
        settle();
    }

    void completeFlowEarlier() {
        defaults->setBoolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey, true);
        defaults->setBoolean(PermissionOnboardingCoordinator::hasCompletedDefaultsKey, true);
    }

    MacHostApplicationDelegate& delegate() { return *app->applicationDelegate(); }

    std::unique_ptr<MacHostApp> app;
    int recorderCreations = 0;
};

TEST_F(MacHostAppTest, BuildsTheGraphInOrderAndGivesTheDelegateWeakReferences) {
    makeApp();
    EXPECT_EQ(recorderCreations, 1);
    EXPECT_EQ(delegate().screenRecorder().lock(), recorder);
    EXPECT_EQ(delegate().permissionOnboarding().lock(), app->permissionOnboarding());
    EXPECT_EQ(delegate().appActivationController().lock(), activationController);
    EXPECT_EQ(app->scenePhase(), ScenePhase::inactive);
    // Nothing starts while the graph is built.
    EXPECT_FALSE(power->isStarted());
    EXPECT_FALSE(takeResolutions());
    EXPECT_TRUE(activationController->presentedWindowRoles().empty());
}

TEST_F(MacHostAppTest, TheCoordinatorsFlagsComeFromTheUserDefaults) {
    makeApp();
    EXPECT_FALSE(app->permissionOnboarding()->hasStartedPermissionFlow());
    EXPECT_FALSE(app->permissionOnboarding()->hasCompletedPermissionFlow());
    app.reset();
    completeFlowEarlier();
    makeApp();
    EXPECT_TRUE(app->permissionOnboarding()->hasStartedPermissionFlow());
    EXPECT_TRUE(app->permissionOnboarding()->hasCompletedPermissionFlow());
    EXPECT_FALSE(app->permissionOnboarding()->permissionRequestsHaveStarted());
}

TEST_F(MacHostAppTest, LaunchAfterACompletedFlowStartsTheObserversAndListens) {
    completeFlowEarlier();
    makeApp();
    delegate().applicationDidFinishLaunching();
    EXPECT_TRUE(power->isStarted());
    settle();
    EXPECT_EQ(session->count("startListening"), 1);
    EXPECT_TRUE(application->alerts.empty());
}

TEST_F(MacHostAppTest, LaunchBeforeTheFlowCompletedStartsNothing) {
    defaults->setBoolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey, true);
    makeApp();
    delegate().applicationDidFinishLaunching();
    settle();
    EXPECT_FALSE(power->isStarted());
    EXPECT_FALSE(takeResolutions());
}

TEST_F(MacHostAppTest, LaunchOutsideThePrefixAlertsAndQuitsWithoutOnboarding) {
    for (AlertResponse response : {AlertResponse::firstButton, AlertResponse::secondButton}) {
        SCOPED_TRACE(response == AlertResponse::firstButton ? "Open Applications Folder" : "Quit");
        completeFlowEarlier();
        *application = FakeHostApplication();
        application->alertResponse = response;
        makeApp("/home/someone/Downloads/quillbridge-host");
        delegate().applicationDidFinishLaunching();
        settle();

        ASSERT_EQ(application->alerts.size(), 1u);
        EXPECT_EQ(application->alerts[0].messageText, "Move Quillbridge Host to Applications");
        EXPECT_EQ(application->alerts[0].informativeText,
                  "To use Quillbridge Host, move it to the Applications folder, then open it from there.");
        EXPECT_EQ(application->alerts[0].buttons,
                  (std::vector<std::string>{"Open Applications Folder", "Quit"}));
        EXPECT_EQ(application->openedFolders, response == AlertResponse::firstButton
                                                  ? std::vector<std::filesystem::path>{installPrefix / "bin"}
                                                  : std::vector<std::filesystem::path>{});
        EXPECT_EQ(application->terminations, 1);
        EXPECT_FALSE(power->isStarted()) << "the onboarding never starts";
        EXPECT_FALSE(takeResolutions());
        app.reset();
    }
}

TEST_F(MacHostAppTest, BecomingActiveResolvesLocalNetworkOnlyOnceTheFlowHasBegun) {
    makeApp();
    // Before the flow: neither the scene phase nor the delegate starts a resolution.
    app->handleScenePhaseChange(ScenePhase::inactive, ScenePhase::active);
    delegate().applicationDidBecomeActive();
    settle();
    EXPECT_FALSE(takeResolutions());

    app.reset();
    completeFlowEarlier();
    makeApp();
    for (ScenePhase phase : {ScenePhase::inactive, ScenePhase::background}) {
        app->handleScenePhaseChange(ScenePhase::active, phase);
        settle();
        EXPECT_FALSE(takeResolutions());
    }
    app->handleScenePhaseChange(ScenePhase::inactive, ScenePhase::active);
    settle();
    EXPECT_TRUE(takeResolutions());
    EXPECT_EQ(app->scenePhase(), ScenePhase::active);
    delegate().applicationDidBecomeActive();
    settle();
    EXPECT_TRUE(takeResolutions());
}

TEST_F(MacHostAppTest, ReopenFrontsAPresentedWindowOrLeavesItToTheDefault) {
    makeApp();
    EXPECT_TRUE(delegate().applicationShouldHandleReopen(false)) << "nothing presented";

    auto about = std::make_shared<FakeHostWindow>();
    activationController->present(WindowRole::about, about);
    const int frontings = about->frontings;
    EXPECT_FALSE(delegate().applicationShouldHandleReopen(true));
    EXPECT_EQ(about->frontings, frontings + 1);

    about.reset();
    EXPECT_TRUE(delegate().applicationShouldHandleReopen(true)) << "its window is gone";
}

TEST_F(MacHostAppTest, ReopenWithoutTheActivationControllerIsLeftToTheDefault) {
    MacHostApplicationDelegate orphan({context.get_executor(), application, installedProgram, installPrefix});
    EXPECT_TRUE(orphan.applicationShouldHandleReopen(false));
}

TEST_F(MacHostAppTest, QuitOnceWaitsForTheShutdownAndQuitTwiceEndsAtOnce) {
    makeApp();
    session->beforeStop = [clock = clock]() -> asio::awaitable<void> { co_await clock->sleepFor(1s); };

    EXPECT_EQ(delegate().applicationShouldTerminate(), TerminateReply::terminateLater);
    EXPECT_TRUE(delegate().isPreparingForTermination());
    waitFor([&] { return clock->pendingSleeperCount() == 1; });
    ASSERT_EQ(clock->pendingSleeperCount(), 1u) << "the shutdown reached the session's end";
    EXPECT_TRUE(recorder->isTerminating());
    EXPECT_TRUE(application->replies.empty()) << "no reply before the shutdown has finished";

    EXPECT_EQ(delegate().applicationShouldTerminate(), TerminateReply::terminateNow);

    clock->advance(1s);
    waitFor([&] { return !application->replies.empty(); });
    EXPECT_EQ(application->replies, std::vector<bool>{true});
    EXPECT_EQ(session->count("stop"), 1);
}

TEST_F(MacHostAppTest, QuitWithTheRecorderGoneEndsAtOnce) {
    MacHostApplicationDelegate orphan({context.get_executor(), application, installedProgram, installPrefix});
    EXPECT_EQ(orphan.applicationShouldTerminate(), TerminateReply::terminateNow);
    EXPECT_FALSE(orphan.isPreparingForTermination());
}

TEST_F(MacHostAppTest, TheSetupWindowsRoleFollowsItsAppearanceAndItsWindow) {
    makeApp();
    auto& coordinator = *app->permissionOnboarding();
    int changes = 0;
    coordinator.addObserver([&] { ++changes; });
    auto window = std::make_shared<FakeHostWindow>();

    // Resolved before it appears: stored, registered only once it is presented.
    coordinator.setupWindowResolved(window);
    EXPECT_FALSE(activationController->isPresented(WindowRole::permissionOnboarding));
    coordinator.setupWindowDidAppear();
    EXPECT_TRUE(coordinator.isSetupWindowPresented());
    EXPECT_EQ(activation->policy, ActivationPolicy::regular);
    EXPECT_EQ(window->frontings, 1);
    EXPECT_TRUE(activationController->bringPresentedWindowsToFront());

    coordinator.setupWindowDidDisappear();
    EXPECT_FALSE(coordinator.isSetupWindowPresented());
    EXPECT_EQ(activation->policy, ActivationPolicy::accessory);
    EXPECT_FALSE(activationController->bringPresentedWindowsToFront());
    EXPECT_EQ(changes, 2);
}

}  // namespace
}  // namespace quillbridge
