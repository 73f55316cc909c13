#include "app/PermissionOnboardingCoordinator.hpp"

#include <utility>
#include <vector>

#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/system_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "app/MainActorTask.hpp"
#include "core/SteadyClock.hpp"

namespace quillbridge {
namespace {

bool isAbort(const asio::system_error& error) {
    return error.code() == asio::error::operation_aborted;
}

asio::awaitable<bool> isTaskCancelled() {
    co_return isCancelled(co_await asio::this_coro::cancellation_state);
}

}  // namespace

PermissionOnboardingCoordinator::PermissionOnboardingCoordinator(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {
    if (!dependencies_.clock) {
        dependencies_.clock = std::make_shared<SteadyClock>();
    }
    hasStartedPermissionFlow_ = dependencies_.defaults->boolean(hasStartedDefaultsKey).value_or(false);
    hasCompletedPermissionFlow_ = dependencies_.defaults->boolean(hasCompletedDefaultsKey).value_or(false);
}

PermissionOnboardingCoordinator::~PermissionOnboardingCoordinator() {
    permissionFlowTask_.cancel();
}

PermissionOnboardingCoordinator::ObserverID PermissionOnboardingCoordinator::addObserver(
    std::function<void()> observer) {
    const ObserverID identifier = nextObserverID_++;
    observers_.emplace(identifier, std::move(observer));
    return identifier;
}

void PermissionOnboardingCoordinator::removeObserver(ObserverID identifier) {
    observers_.erase(identifier);
}

void PermissionOnboardingCoordinator::notify() {
    // An observer may add or remove observers: those present now are called unless removed meanwhile.
    std::vector<ObserverID> identifiers;
    identifiers.reserve(observers_.size());
    for (const auto& [identifier, observer] : observers_) {
        identifiers.push_back(identifier);
    }
    for (ObserverID identifier : identifiers) {
        auto found = observers_.find(identifier);
        if (found != observers_.end()) {
            auto observer = found->second;
            observer();
        }
    }
}

void PermissionOnboardingCoordinator::assign(bool& field, bool value) {
    if (field == value) {
        return;
    }
    field = value;
    notify();
}

std::set<PermissionOnboardingCoordinator::Permission> PermissionOnboardingCoordinator::grantedPermissions()
    const {
    const ScreenRecorder& recorder = *dependencies_.screenRecorder;
    const auto& issues = recorder.permissionIssues();
    std::set<Permission> granted;
    if (recorder.hasCompletedMandatoryPermissionCheck()) {
        if (!issues.contains(MandatoryPermissionIssue::screenAndAudioCapture)) {
            granted.insert(Permission::screenCapture);
        }
        if (!issues.contains(MandatoryPermissionIssue::syntheticInput)) {
            granted.insert(Permission::accessibility);
        }
    }
    if (recorder.localNetworkPermissionIsGranted()) {
        granted.insert(Permission::localNetwork);
    }
    return granted;
}

PermissionOnboardingCoordinator::RowState PermissionOnboardingCoordinator::rowState(
    Permission permission) const {
    return permissionSequence_.rowState(
        permission, grantedPermissions(),
        dependencies_.screenRecorder->permissionIssues().contains(MandatoryPermissionIssue::localNetwork));
}

PermissionOnboardingCoordinator::RowState PermissionOnboardingCoordinator::rowState(
    MandatoryPermissionIssue issue) const {
    return rowState(permission(issue));
}

PermissionOnboardingCoordinator::Permission PermissionOnboardingCoordinator::permission(
    MandatoryPermissionIssue issue) {
    switch (issue) {
        case MandatoryPermissionIssue::screenAndAudioCapture:
            return Permission::screenCapture;
        case MandatoryPermissionIssue::localNetwork:
            return Permission::localNetwork;
        case MandatoryPermissionIssue::syntheticInput:
            return Permission::accessibility;
    }
    return Permission::screenCapture;
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

void PermissionOnboardingCoordinator::markPermissionFlowStarted() {
    if (hasStartedPermissionFlow_) {
        return;
    }
    if (!dependencies_.defaults->setBoolean(hasStartedDefaultsKey, true)) {
        logger_.error("Could not store that the permission setup was started.");
    }
    assign(hasStartedPermissionFlow_, true);
}

void PermissionOnboardingCoordinator::beginPermissionRequestsIfReady() {
    if (!hasStartedPermissionFlow_ || !isSetupWindowPresented_) {
        return;
    }
    assign(permissionRequestsHaveStarted_, true);
    dependencies_.screenRecorder->startHostAvailabilityMonitoring();
    if (hasPermissionFlowTask_) {
        return;
    }
    hasPermissionFlowTask_ = true;
    permissionFlowTask_ =
        Task::spawn(dependencies_.mainActor, runPermissionFlow(weak_from_this(), dependencies_.clock),
                    "mandatory permission flow");
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
    // The task clears its own mark when it ends.
    permissionFlowTask_.cancel();
    setupWindow_.reset();
    dependencies_.appActivationController->dismiss(WindowRole::permissionOnboarding);
}

void PermissionOnboardingCoordinator::setupWindowResolved(const std::shared_ptr<HostWindow>& window) {
    setupWindow_ = window;
    if (window && isSetupWindowPresented_) {
        dependencies_.appActivationController->registerWindow(window, WindowRole::permissionOnboarding);
    }
}

void PermissionOnboardingCoordinator::completePermissionFlowIfGranted() {
    if (!dependencies_.screenRecorder->canStartStreaming()) {
        return;
    }
    if (!dependencies_.defaults->setBoolean(hasCompletedDefaultsKey, true)) {
        logger_.error("Could not store that the permission setup was completed.");
    }
    assign(hasCompletedPermissionFlow_, true);
    permissionFlowTask_.cancel();
    if (dependencies_.permissionFlowDidComplete) {
        dependencies_.permissionFlowDidComplete();
    }
}

asio::awaitable<void> PermissionOnboardingCoordinator::runPermissionFlow(
    std::weak_ptr<PermissionOnboardingCoordinator> weakSelf, std::shared_ptr<Clock> clock) {
    try {
        for (;;) {
            {
                // Held for one poll only: a coordinator that goes away while the flow sleeps ends it.
                auto self = weakSelf.lock();
                if (!self || !co_await self->pollOnce()) {
                    break;
                }
            }
            co_await clock->sleepFor(pollInterval);
        }
    } catch (const asio::system_error& error) {
        if (!isAbort(error)) {
            throw;
        }
    }
    if (auto self = weakSelf.lock()) {
        self->hasPermissionFlowTask_ = false;
    }
}

asio::awaitable<bool> PermissionOnboardingCoordinator::pollOnce() {
    if (co_await isTaskCancelled() || !isSetupWindowPresented_) {
        co_return false;
    }
    co_await dependencies_.screenRecorder->checkMandatoryPermissions();
    if (co_await isTaskCancelled()) {
        co_return false;
    }
    const auto chosen = permissionSequence_.nextPermissionToRequest(grantedPermissions());
    if (!chosen) {
        co_return true;
    }
    notify();
    bool cancelled = false;
    try {
        co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
        cancelled = co_await isTaskCancelled();
    } catch (const asio::system_error& error) {
        if (!isAbort(error)) {
            throw;
        }
        cancelled = true;
    }
    if (cancelled) {
        // Not asked yet: taken back, so that the next flow asks for it.
        if (permissionSequence_.requestInProgress == chosen) {
            permissionSequence_.requested.erase(*chosen);
            permissionSequence_.requestInProgress.reset();
            notify();
        }
        co_return false;
    }
    try {
        co_await request(*chosen);
    } catch (const asio::system_error& error) {
        if (!isAbort(error)) {
            throw;
        }
        cancelled = true;
    }
    // Asked: it stays requested.
    if (permissionSequence_.requestInProgress == chosen) {
        permissionSequence_.requestInProgress.reset();
        notify();
    }
    co_return !cancelled;
}

asio::awaitable<void> PermissionOnboardingCoordinator::request(Permission permission) {
    ScreenRecorder& recorder = *dependencies_.screenRecorder;
    switch (permission) {
        case Permission::screenCapture:
            recorder.requestScreenCapturePermission();
            recorder.refreshPermissionState();
            break;
        case Permission::accessibility:
            recorder.requestAccessibilityPermission();
            recorder.refreshPermissionState();
            break;
        case Permission::localNetwork:
            recorder.setLocalNetworkPermissionChecksEnabled(true);
            co_await recorder.resolveLocalNetworkPermission();
            break;
    }
}

}  // namespace quillbridge
