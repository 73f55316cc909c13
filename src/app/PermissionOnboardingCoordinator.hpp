#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include <asio/any_io_executor.hpp>

#include "app/HostAppActivationController.hpp"
#include "app/HostWindow.hpp"
#include "capture/ScreenRecorder.hpp"
#include "pairing/DefaultsStore.hpp"

namespace quillbridge {

// Runs the mandatory permission flow and remembers, in the user defaults, that it was started and completed.
// Here: its flags, its launch entry and the setup window's comings and goings; the flow itself builds on
// them. Main actor only.
class PermissionOnboardingCoordinator : public std::enable_shared_from_this<PermissionOnboardingCoordinator> {
public:
    static constexpr std::string_view hasStartedDefaultsKey = "hasStartedMandatoryPermissionFlow";
    static constexpr std::string_view hasCompletedDefaultsKey = "hasCompletedMandatoryPermissionFlow";

    struct Dependencies {
        asio::any_io_executor mainActor;
        std::shared_ptr<ScreenRecorder> screenRecorder;
        std::shared_ptr<HostAppActivationController> appActivationController;
        std::shared_ptr<DefaultsStore> defaults;
        std::function<void()> permissionFlowDidComplete;
    };

    explicit PermissionOnboardingCoordinator(Dependencies dependencies);

    // Called with no argument after each change of an observable flag.
    void addObserver(std::function<void()> observer) { observers_.push_back(std::move(observer)); }

    bool hasStartedPermissionFlow() const { return hasStartedPermissionFlow_; }
    bool hasCompletedPermissionFlow() const { return hasCompletedPermissionFlow_; }
    bool isSetupWindowPresented() const { return isSetupWindowPresented_; }
    bool permissionRequestsHaveStarted() const { return permissionRequestsHaveStarted_; }

    // Launch: after a completed flow, starts the host-availability observers and resolves Local Network
    // access; before, does nothing (the setup window leads the user).
    void startIfNeeded();

    // The setup window is on screen: presents its role and registers the window already resolved.
    void setupWindowDidAppear();
    // The setup window went away: dismisses its role and forgets the window.
    void setupWindowDidDisappear();
    // The window that hosts the setup view, or nothing; registered when the window is presented.
    void setupWindowResolved(const std::shared_ptr<HostWindow>& window);

private:
    void assign(bool& field, bool value);

    Dependencies dependencies_;
    std::vector<std::function<void()>> observers_;
    std::weak_ptr<HostWindow> setupWindow_;
    bool hasStartedPermissionFlow_ = false;
    bool hasCompletedPermissionFlow_ = false;
    bool isSetupWindowPresented_ = false;
    bool permissionRequestsHaveStarted_ = false;
};

}  // namespace quillbridge
