#include "app/MacHostApplicationDelegate.hpp"

#include <string>
#include <utility>

#include "app/ApplicationsFolderCheck.hpp"
#include "app/MainActorTask.hpp"

namespace quillbridge {

MacHostApplicationDelegate::MacHostApplicationDelegate(Environment environment)
    : environment_(std::move(environment)) {}

void MacHostApplicationDelegate::setReferences(
    std::weak_ptr<ScreenRecorder> screenRecorder,
    std::weak_ptr<PermissionOnboardingCoordinator> permissionOnboarding,
    std::weak_ptr<HostAppActivationController> appActivationController) {
    screenRecorder_ = std::move(screenRecorder);
    permissionOnboarding_ = std::move(permissionOnboarding);
    appActivationController_ = std::move(appActivationController);
}

void MacHostApplicationDelegate::applicationDidFinishLaunching() {
    if (!ensureRunningFromApplicationsFolder()) {
        return;
    }
    if (auto coordinator = permissionOnboarding_.lock()) {
        coordinator->startIfNeeded();
    }
}

bool MacHostApplicationDelegate::ensureRunningFromApplicationsFolder() {
    if (ApplicationsFolderCheck::isInside(environment_.programPath, environment_.applicationsFolder)) {
        return true;
    }
    const ApplicationAlert alert{
        std::string(ApplicationsFolderCheck::messageText),
        std::string(ApplicationsFolderCheck::informativeText),
        {std::string(ApplicationsFolderCheck::openFolderButton),
         std::string(ApplicationsFolderCheck::quitButton)},
    };
    auto application = environment_.application;
    if (application->runModalAlert(alert) == AlertResponse::firstButton) {
        application->openFolder(environment_.applicationsFolder / "bin");
    }
    application->terminate();
    return false;
}

void MacHostApplicationDelegate::applicationDidBecomeActive() {
    auto coordinator = permissionOnboarding_.lock();
    if (!coordinator) {
        return;
    }
    if (!coordinator->hasCompletedPermissionFlow() && !coordinator->permissionRequestsHaveStarted()) {
        return;
    }
    startUnkeptTask(
        environment_.mainActor,
        [weakSelf = weak_from_this()]() -> asio::awaitable<void> {
            auto self = weakSelf.lock();
            auto recorder = self ? self->screenRecorder_.lock() : nullptr;
            if (recorder) {
                co_await recorder->resolveLocalNetworkPermission();
            }
        },
        "activation Local Network resolution");
}

bool MacHostApplicationDelegate::applicationShouldHandleReopen(bool) {
    auto controller = appActivationController_.lock();
    if (!controller) {
        return true;
    }
    return !controller->bringPresentedWindowsToFront();
}

TerminateReply MacHostApplicationDelegate::applicationShouldTerminate() {
    auto recorder = screenRecorder_.lock();
    if (!recorder || isPreparingForTermination_) {
        return TerminateReply::terminateNow;
    }
    isPreparingForTermination_ = true;
    startUnkeptTask(
        environment_.mainActor,
        [recorder, application = environment_.application]() -> asio::awaitable<void> {
            try {
                co_await recorder->shutdown();
            } catch (const std::exception& failure) {
                // Quitting goes on: a host that cannot quit would need a second request to end.
                Logger("App").error("The shutdown failed: ", failure.what());
            }
            application->replyToApplicationShouldTerminate(true);
        },
        "shutdown");
    return TerminateReply::terminateLater;
}

}  // namespace quillbridge
