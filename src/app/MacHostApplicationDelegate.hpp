#pragma once

#include <filesystem>
#include <memory>

#include <asio/any_io_executor.hpp>

#include "app/HostAppActivationController.hpp"
#include "app/HostApplication.hpp"
#include "app/PermissionOnboardingCoordinator.hpp"
#include "capture/ScreenRecorder.hpp"

namespace quillbridge {

// Decides the four moments of the application's life: launch (refused outside the install prefix, then the
// onboarding starts), becoming active (Local Network access resolved again once the permission flow has
// begun), reopen (a presented window comes forward) and quit (the first request waits for the recorder's
// shutdown, a second ends the process at once). It owns none of the objects it refers to. Main actor only.
class MacHostApplicationDelegate : public std::enable_shared_from_this<MacHostApplicationDelegate> {
public:
    struct Environment {
        asio::any_io_executor mainActor;
        std::shared_ptr<HostApplication> application;
        // The running program and the folder it must run from (the install prefix).
        std::filesystem::path programPath;
        std::filesystem::path applicationsFolder;
    };

    explicit MacHostApplicationDelegate(Environment environment);

    // Weak references to the objects the delegate needs, given once the application has built them.
    void setReferences(std::weak_ptr<ScreenRecorder> screenRecorder,
                       std::weak_ptr<PermissionOnboardingCoordinator> permissionOnboarding,
                       std::weak_ptr<HostAppActivationController> appActivationController);

    void applicationDidFinishLaunching();
    void applicationDidBecomeActive();
    // Whether the default reopen handling should run.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    TerminateReply applicationShouldTerminate();

    // True when the application may continue; otherwise the alert was shown and the application is quitting.
    bool ensureRunningFromApplicationsFolder();

    bool isPreparingForTermination() const { return isPreparingForTermination_; }
    const std::weak_ptr<ScreenRecorder>& screenRecorder() const { return screenRecorder_; }
    const std::weak_ptr<PermissionOnboardingCoordinator>& permissionOnboarding() const {
        return permissionOnboarding_;
    }
    const std::weak_ptr<HostAppActivationController>& appActivationController() const {
        return appActivationController_;
    }

private:
    Environment environment_;
    std::weak_ptr<ScreenRecorder> screenRecorder_;
    std::weak_ptr<PermissionOnboardingCoordinator> permissionOnboarding_;
    std::weak_ptr<HostAppActivationController> appActivationController_;
    bool isPreparingForTermination_ = false;
};

}  // namespace quillbridge
