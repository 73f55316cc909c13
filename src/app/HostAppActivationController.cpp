#include "app/HostAppActivationController.hpp"

#include <utility>

namespace quillbridge {

HostAppActivationController::HostAppActivationController(std::shared_ptr<ApplicationActivation> application,
                                                         std::string_view logSubsystem)
    : logger_("AppActivation", logSubsystem.empty() ? std::string_view("QuillbridgeHost") : logSubsystem),
      application_(std::move(application)) {}

const std::shared_ptr<HostAppActivationController>& HostAppActivationController::shared() {
    static const auto instance =
        std::make_shared<HostAppActivationController>(std::make_shared<LinuxApplicationActivation>());
    return instance;
}

void HostAppActivationController::front(HostWindow& window) {
    if (window.isMiniaturized()) {
        window.deminiaturize();
    }
    window.makeKeyAndOrderFront();
}

void HostAppActivationController::present(WindowRole role, std::shared_ptr<HostWindow> window) {
    const bool wasEmpty = presentedWindowRoles_.empty();
    presentedWindowRoles_.insert(role);
    if (window) {
        windows_[role] = WeakWindow{window};
    }
    if (wasEmpty && !application_->setActivationPolicy(ActivationPolicy::regular)) {
        logger_.error("Unable to give the app regular activation behavior");
    }
    application_->activateIgnoringOtherApps();
    if (window) {
        front(*window);
    }
}

void HostAppActivationController::dismiss(WindowRole role) {
    presentedWindowRoles_.erase(role);
    windows_.erase(role);
    if (presentedWindowRoles_.empty() && !application_->setActivationPolicy(ActivationPolicy::accessory)) {
        logger_.error("Unable to restore accessory activation behavior");
    }
}

void HostAppActivationController::registerWindow(const std::shared_ptr<HostWindow>& window, WindowRole role) {
    if (!window) {
        return;
    }
    auto found = windows_.find(role);
    if (found != windows_.end() && found->second.value.lock() == window) {
        return;
    }
    windows_[role] = WeakWindow{window};
    if (isPresented(role)) {
        front(*window);
    }
}

void HostAppActivationController::activate(WindowRole role) {
    if (!isPresented(role)) {
        return;
    }
    application_->activateIgnoringOtherApps();
    auto found = windows_.find(role);
    if (found == windows_.end()) {
        return;
    }
    if (auto window = found->second.value.lock()) {
        front(*window);
    }
}

bool HostAppActivationController::bringPresentedWindowsToFront() {
    for (WindowRole role : {WindowRole::pairingPrompt, WindowRole::permissionOnboarding, WindowRole::about}) {
        if (!isPresented(role)) {
            continue;
        }
        auto found = windows_.find(role);
        if (found == windows_.end()) {
            continue;
        }
        if (auto window = found->second.value.lock()) {
            application_->activateIgnoringOtherApps();
            front(*window);
            return true;
        }
    }
    return false;
}

}  // namespace quillbridge
