#include "app/PermissionOnboardingCoordinator.hpp"

#include <utility>

#include "app/MainActorTask.hpp"

namespace quillbridge {

PermissionOnboardingCoordinator::PermissionOnboardingCoordinator(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {
    hasStartedPermissionFlow_ = dependencies_.defaults->boolean(hasStartedDefaultsKey).value_or(false);
    hasCompletedPermissionFlow_ = dependencies_.defaults->boolean(hasCompletedDefaultsKey).value_or(false);
}

void PermissionOnboardingCoordinator::assign(bool& field, bool value) {
    if (field == value) {
        return;
    }
    field = value;
    const auto count = observers_.size();
    for (std::size_t index = 0; index < count; ++index) {
        observers_[index]();
    }
}

void PermissionOnboardingCoordinator::startIfNeeded() {
    if (!hasCompletedPermissionFlow_) {
        return;
    }
    dependencies_.screenRecorder->startHostAvailabilityMonitoring();
    startUnkeptTask(
        dependencies_.mainActor,
        [recorder = dependencies_.screenRecorder]() -> asio::awaitable<void> {
            recorder->setLocalNetworkPermissionChecksEnabled(true);
            co_await recorder->resolveLocalNetworkPermission();
        },
        "launch Local Network resolution");
}

void PermissionOnboardingCoordinator::setupWindowDidAppear() {
    assign(isSetupWindowPresented_, true);
    dependencies_.appActivationController->present(WindowRole::permissionOnboarding);
    if (auto window = setupWindow_.lock()) {
        dependencies_.appActivationController->registerWindow(window, WindowRole::permissionOnboarding);
    }
}

void PermissionOnboardingCoordinator::setupWindowDidDisappear() {
    assign(isSetupWindowPresented_, false);
    setupWindow_.reset();
    dependencies_.appActivationController->dismiss(WindowRole::permissionOnboarding);
}

void PermissionOnboardingCoordinator::setupWindowResolved(const std::shared_ptr<HostWindow>& window) {
    setupWindow_ = window;
    if (window && isSetupWindowPresented_) {
        dependencies_.appActivationController->registerWindow(window, WindowRole::permissionOnboarding);
    }
}

}  // namespace quillbridge
