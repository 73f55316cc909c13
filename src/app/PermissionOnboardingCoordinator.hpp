#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "app/HostAppActivationController.hpp"
#include "app/HostWindow.hpp"
#include "app/MandatoryPermissionSequence.hpp"
#include "capture/MandatoryPermissionIssue.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/Clock.hpp"
#include "core/Logger.hpp"
#include "core/Task.hpp"
#include "pairing/DefaultsStore.hpp"

namespace quillbridge {

// Runs the mandatory permission flow: while the setup window is on screen it asks for Screen & System Audio
// Recording, Accessibility and Local Network one at a time (through the recorder's checks and requests) and
// polls every 500 ms until the user finishes with "Done". It remembers in the user defaults that the flow
// was started and that it was completed, and starts the recorder's host-availability observers and its
// Local Network resolution at the right moment. Main actor only.
class PermissionOnboardingCoordinator : public std::enable_shared_from_this<PermissionOnboardingCoordinator> {
public:
    using Permission = MandatoryPermissionSequence::Permission;
    using RowState = MandatoryPermissionSequence::RowState;
    using ObserverID = std::uint64_t;

    static constexpr std::string_view hasStartedDefaultsKey = "hasStartedMandatoryPermissionFlow";
    static constexpr std::string_view hasCompletedDefaultsKey = "hasCompletedMandatoryPermissionFlow";
    static constexpr Clock::Duration pollInterval = std::chrono::milliseconds(500);

    struct Dependencies {
        asio::any_io_executor mainActor;
        std::shared_ptr<ScreenRecorder> screenRecorder;
        std::shared_ptr<HostAppActivationController> appActivationController;
        std::shared_ptr<DefaultsStore> defaults;
        // Called once when the flow completes.
        std::function<void()> permissionFlowDidComplete;
        // What the polls sleep on; empty: the steady clock.
        std::shared_ptr<Clock> clock;
    };

    explicit PermissionOnboardingCoordinator(Dependencies dependencies);
    ~PermissionOnboardingCoordinator();
    PermissionOnboardingCoordinator(const PermissionOnboardingCoordinator&) = delete;
    PermissionOnboardingCoordinator& operator=(const PermissionOnboardingCoordinator&) = delete;

    // Called with no argument after each change of an observable field (the four flags and the sequence).
    ObserverID addObserver(std::function<void()> observer);
    void removeObserver(ObserverID identifier);

    bool hasStartedPermissionFlow() const { return hasStartedPermissionFlow_; }
    bool hasCompletedPermissionFlow() const { return hasCompletedPermissionFlow_; }
    bool isSetupWindowPresented() const { return isSetupWindowPresented_; }
    bool permissionRequestsHaveStarted() const { return permissionRequestsHaveStarted_; }
    const MandatoryPermissionSequence& permissionSequence() const { return permissionSequence_; }
    // Whether a flow task exists (it may be cancelled and not yet ended).
    bool hasPermissionFlowTask() const { return hasPermissionFlowTask_; }

    // The permissions the recorder knows to be granted right now.
    std::set<Permission> grantedPermissions() const;
    // What the permission's row shows (the setup window and the menu window).
    RowState rowState(Permission permission) const;
    // The row state of the permission an issue of the recorder stands for (the menu window's issue list).
    RowState rowState(MandatoryPermissionIssue issue) const;
    // The permission of the flow an issue of the recorder stands for.
    static Permission permission(MandatoryPermissionIssue issue);

    // Launch: after a completed flow, starts the host-availability observers and resolves Local Network
    // access; before, does nothing (the setup window leads the user).
    void startIfNeeded();
    // "Set Up Permissions": remembers, once, that the user started the flow.
    void markPermissionFlowStarted();
    // The setup view's start task: once the flow was started and the window is on screen, starts the
    // observers and the flow task (never a second one).
    void beginPermissionRequestsIfReady();
    // The setup window is on screen: presents its role and registers the window already resolved.
    void setupWindowDidAppear();
    // The setup window went away: cancels the flow, dismisses its role and forgets the window.
    void setupWindowDidDisappear();
    // The window that hosts the setup view, or nothing; registered when the window is presented.
    void setupWindowResolved(const std::shared_ptr<HostWindow>& window);
    // "Done": when the host can stream, remembers the completion, ends the flow and calls the completion
    // hook.
    void completePermissionFlowIfGranted();

private:
    void assign(bool& field, bool value);
    void notify();
    // The flow task's body: polls until cancelled, the window goes or the coordinator is gone.
    static asio::awaitable<void> runPermissionFlow(std::weak_ptr<PermissionOnboardingCoordinator> weakSelf,
                                                   std::shared_ptr<Clock> clock);
    // One poll: the recorder's check, then at most one request. False when the flow is to end.
    asio::awaitable<bool> pollOnce();
    asio::awaitable<void> request(Permission permission);

    Logger logger_{"PermissionOnboarding"};
    Dependencies dependencies_;
    std::map<ObserverID, std::function<void()>> observers_;
    ObserverID nextObserverID_ = 1;
    MandatoryPermissionSequence permissionSequence_;
    Task permissionFlowTask_;
    bool hasPermissionFlowTask_ = false;
    std::weak_ptr<HostWindow> setupWindow_;
    bool hasStartedPermissionFlow_ = false;
    bool hasCompletedPermissionFlow_ = false;
    bool isSetupWindowPresented_ = false;
    bool permissionRequestsHaveStarted_ = false;
};

}  // namespace quillbridge
