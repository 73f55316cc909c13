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
    const auto standardDefaults = environment.standardDefaults();
    // 5. The pairing prompt presenter.
    pairingPromptPresenter_ =
        std::make_shared<PairingPromptPresenter>(screenRecorder_, appActivationController_, mainActor_);
    // 6. The update controller.
    updateController_ = std::make_shared<HostUpdateController>(
        environment.updateReleaseConfiguration, environment.makeUpdaterController, appActivationController_);
    // 7. The notification controller.
    if (environment.makeNotificationCenter) {
        if (auto center = environment.makeNotificationCenter()) {
            std::weak_ptr<HostUpdateController> updates = updateController_;
            HostNotificationController::UpdateControllerLink updateLink{
                .setScheduledUpdateDidBecomeAvailable =
                    [updates](
                        HostNotificationController::UpdateControllerLink::ScheduledUpdateAction action) {
                        if (auto controller = updates.lock())
                            controller->scheduledUpdateDidBecomeAvailable = std::move(action);
                    },
                .hasUpdaterController =
                    [updates] {
                        auto controller = updates.lock();
                        return controller != nullptr && controller->updaterController() != nullptr;
                    },
                .checkForUpdatesWithInterface =
                    [updates] {
                        auto controller = updates.lock();
                        if (controller != nullptr && controller->updaterController() != nullptr)
                            controller->updaterController()->updater().checkForUpdates();
                    },
            };
            notificationController_ =
                std::make_unique<HostNotificationController>(HostNotificationController::Dependencies{
                    mainActor_, screenRecorder_, pairingPromptPresenter_, std::move(updateLink),
                    std::move(center), standardDefaults});
        }
    }
    // 8. The onboarding coordinator.
    permissionOnboarding_ =
        std::make_shared<PermissionOnboardingCoordinator>(PermissionOnboardingCoordinator::Dependencies{
            .mainActor = mainActor_,
            .screenRecorder = screenRecorder_,
            .appActivationController = appActivationController_,
            .defaults = standardDefaults,
            .permissionFlowDidComplete = [this] { permissionFlowDidComplete(); },
            .clock = environment.clock,
        });
    // 10. The delegate's weak references.
    applicationDelegate_->setReferences(screenRecorder_, permissionOnboarding_, appActivationController_);
}

void MacHostApp::permissionFlowDidComplete() {
    if (notificationController_) {
        notificationController_->requestAuthorization();
    }
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
