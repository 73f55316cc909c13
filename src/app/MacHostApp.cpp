#include "app/MacHostApp.hpp"

#include <utility>

#include "app/MainActorTask.hpp"

namespace quillbridge {

MacHostApp::MacHostApp(Environment environment) : mainActor_(environment.mainActor) {
    // 1. The delegate, without its references yet.
    applicationDelegate_ = std::make_shared<MacHostApplicationDelegate>(
        MacHostApplicationDelegate::Environment{environment.mainActor, environment.application,
                                                environment.programPath, environment.applicationsFolder});
    // 2. The scene phase starts inactive; changes arrive through handleScenePhaseChange().
    scenePhase_ = ScenePhase::inactive;
    // 3. The activation controller.
    appActivationController_ = environment.appActivationController ? environment.appActivationController
                                                                   : HostAppActivationController::shared();
    // 4. The root model (capture, the session, the mute controller).
    screenRecorder_ = environment.makeScreenRecorder(*this);
    // 5. The pairing prompt presenter comes here.
    // 6. The update controller.
    updateController_ = std::make_shared<HostUpdateController>(
        environment.updateReleaseConfiguration, environment.makeUpdaterController, appActivationController_);
    // 7. The notification controller comes here.
    // 8. The onboarding coordinator.
    permissionOnboarding_ =
        std::make_shared<PermissionOnboardingCoordinator>(PermissionOnboardingCoordinator::Dependencies{
            mainActor_, screenRecorder_, appActivationController_, environment.standardDefaults(),
            [this] { permissionFlowDidComplete(); }});
    // 10. The delegate's weak references.
    applicationDelegate_->setReferences(screenRecorder_, permissionOnboarding_, appActivationController_);
}

void MacHostApp::permissionFlowDidComplete() {
    // The notification controller asks for its authorisation here.
}

void MacHostApp::handleScenePhaseChange(ScenePhase, ScenePhase newPhase) {
    scenePhase_ = newPhase;
    if (newPhase != ScenePhase::active) {
        return;
    }
    if (!permissionOnboarding_->hasCompletedPermissionFlow() &&
        !permissionOnboarding_->permissionRequestsHaveStarted()) {
        return;
    }
    startUnkeptTask(
        mainActor_,
        [recorder = screenRecorder_]() -> asio::awaitable<void> {
            co_await recorder->resolveLocalNetworkPermission();
        },
        "scene-phase Local Network resolution");
}

}  // namespace quillbridge
