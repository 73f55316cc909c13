#include "app/MacHostApp.hpp"

#include <utility>

#include "app/MainActorTask.hpp"
#include "core/Logger.hpp"

namespace quillbridge {

MacHostApp::MacHostApp(Environment environment)
    : mainActor_(environment.mainActor), permissionHelpPage_(std::move(environment.permissionHelpPage)) {
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
    // 5 to 7, the pairing prompt presenter, the update controller and the notification controller, come
    // here, in that order, each given the objects before it.
    // 8. The onboarding coordinator.
    permissionOnboarding_ =
        std::make_shared<PermissionOnboardingCoordinator>(PermissionOnboardingCoordinator::Dependencies{
            .mainActor = mainActor_,
            .screenRecorder = screenRecorder_,
            .appActivationController = appActivationController_,
            .defaults = environment.standardDefaults(),
            .permissionFlowDidComplete = [this] { permissionFlowDidComplete(); },
            .clock = environment.clock,
        });
    // 10. The delegate's weak references.
    applicationDelegate_->setReferences(screenRecorder_, permissionOnboarding_, appActivationController_);
}

void MacHostApp::permissionFlowDidComplete() {
    // The notification controller asks for its authorisation here.
}

OpenPermissionHelpSection MacHostApp::openPermissionHelpSection() const {
    return [page = permissionHelpPage_](std::string_view section) {
        if (!page) {
            Logger("App").error("No help page to open at ", section);
            return;
        }
        page->openSection(section);
    };
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
