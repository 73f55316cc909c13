#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include <asio/any_io_executor.hpp>

#include "app/HostAppActivationController.hpp"
#include "app/HostApplication.hpp"
#include "app/HostNotificationCenter.hpp"
#include "app/HostNotificationController.hpp"
#include "app/HostUpdateController.hpp"
#include "app/MacHostApplicationDelegate.hpp"
#include "app/PairingPromptPresenter.hpp"
#include "app/PermissionHelpPage.hpp"
#include "app/PermissionOnboardingCoordinator.hpp"
#include "app/ScenePhase.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/Clock.hpp"
#include "pairing/DefaultsStore.hpp"

namespace quillbridge {

// The application's root object: creates the host's long-lived objects in a fixed order, owns them for the
// life of the process, and re-resolves Local Network access whenever the application becomes active after
// the permission flow has begun. Its scenes (the tray item with its window, the setup window, the About
// window) are built on it by HostScenes. Main actor only.
class MacHostApp {
public:
    struct Environment {
        asio::any_io_executor mainActor;
        std::shared_ptr<HostApplication> application;
        std::filesystem::path programPath;
        std::filesystem::path applicationsFolder;
        // Creates the recorder; it sees the application as built so far.
        std::function<std::shared_ptr<ScreenRecorder>(const MacHostApp&)> makeScreenRecorder;
        // The standard user defaults, asked for once the recorder exists.
        std::function<std::shared_ptr<DefaultsStore>()> standardDefaults;
        // Empty: the shared instance.
        std::shared_ptr<HostAppActivationController> appActivationController;
        // The updater's release configuration and the updater itself; none: updating is not configured.
        HostUpdateController::ReleaseConfiguration updateReleaseConfiguration;
        SoftwareUpdaterControllerFactory makeUpdaterController;
        // The desktop's notification service; empty: the host posts no notifications.
        std::function<std::shared_ptr<HostNotificationCenter>()> makeNotificationCenter;
        // The help page the permission rows open in place of settings panes; empty: none (logged).
        std::shared_ptr<PermissionHelpPage> permissionHelpPage;
        // What the permission flow's polls sleep on; empty: the steady clock.
        std::shared_ptr<Clock> clock;
    };

    explicit MacHostApp(Environment environment);
    MacHostApp(const MacHostApp&) = delete;
    MacHostApp& operator=(const MacHostApp&) = delete;

    const std::shared_ptr<MacHostApplicationDelegate>& applicationDelegate() const {
        return applicationDelegate_;
    }
    ScenePhase scenePhase() const { return scenePhase_; }
    const std::shared_ptr<HostAppActivationController>& appActivationController() const {
        return appActivationController_;
    }
    const std::shared_ptr<ScreenRecorder>& screenRecorder() const { return screenRecorder_; }
    const std::shared_ptr<HostUpdateController>& updateController() const { return updateController_; }
    const std::shared_ptr<PairingPromptPresenter>& pairingPromptPresenter() const {
        return pairingPromptPresenter_;
    }
    // Nothing without a notification service.
    const std::unique_ptr<HostNotificationController>& notificationController() const {
        return notificationController_;
    }
    const std::shared_ptr<PermissionOnboardingCoordinator>& permissionOnboarding() const {
        return permissionOnboarding_;
    }
    const asio::any_io_executor& mainActor() const { return mainActor_; }
    // Opens a section of the permission help page (PermissionHelpPage's anchors).
    OpenPermissionHelpSection openPermissionHelpSection() const;

    // The application's phase changed (never called for the first one).
    void handleScenePhaseChange(ScenePhase oldPhase, ScenePhase newPhase);

private:
    // What follows the completion of the mandatory permission flow.
    void permissionFlowDidComplete();

    asio::any_io_executor mainActor_;
    std::shared_ptr<MacHostApplicationDelegate> applicationDelegate_;
    ScenePhase scenePhase_ = ScenePhase::inactive;
    std::shared_ptr<HostAppActivationController> appActivationController_;
    std::shared_ptr<ScreenRecorder> screenRecorder_;
    std::shared_ptr<HostUpdateController> updateController_;
    std::shared_ptr<PairingPromptPresenter> pairingPromptPresenter_;
    std::unique_ptr<HostNotificationController> notificationController_;
    std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding_;
    std::shared_ptr<PermissionHelpPage> permissionHelpPage_;
};

}  // namespace quillbridge
