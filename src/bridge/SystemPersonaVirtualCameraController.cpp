#include "bridge/SystemPersonaVirtualCameraController.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include <asio/post.hpp>
#include <asio/this_coro.hpp>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

namespace Notifications = CameraNotifications;

constexpr std::string_view restartAlertMessage = "Restart Required for Persona Camera";
// The desktop takes the place of the operating system the alert first named.
constexpr std::string_view restartAlertInformativeText =
    "Your desktop enabled the Persona camera extension but did not make it available to apps. Restart your "
    "computer to finish the update.";
constexpr std::string_view restartAlertButtonTitle = "OK";

}  // namespace

std::shared_ptr<SystemPersonaVirtualCameraController> SystemPersonaVirtualCameraController::create(
    Dependencies dependencies) {
    std::shared_ptr<SystemPersonaVirtualCameraController> controller(
        new SystemPersonaVirtualCameraController(std::move(dependencies)));
    controller->observeDemandNotifications();
    return controller;
}

SystemPersonaVirtualCameraController::SystemPersonaVirtualCameraController(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

SystemPersonaVirtualCameraController::~SystemPersonaVirtualCameraController() {
    if (dependencies_.notifications)
        dependencies_.notifications->setObserver(nullptr);
    registrationVerificationTask_.cancel();
}

void SystemPersonaVirtualCameraController::observeDemandNotifications() {
    if (!dependencies_.notifications)
        return;
    dependencies_.notifications->setObserver(
        [weak = weak_from_this(), mainActor = dependencies_.mainActor](std::string name) {
            if (name.empty())
                return;
            asio::post(mainActor, [weak, name = std::move(name)] {
                if (auto self = weak.lock())
                    self->handleNotification(name);
            });
        });
}

void SystemPersonaVirtualCameraController::handleNotification(const std::string& name) {
    if (name == Notifications::demandStarted)
        publishDemand(true);
    else if (name == Notifications::demandStopped)
        publishDemand(false);
}

void SystemPersonaVirtualCameraController::setDemandChangedHandler(std::function<void(bool)> handler) {
    demandChangedHandler_ = std::move(handler);
}

void SystemPersonaVirtualCameraController::setPermissionStateChangedHandler(
    std::function<void(PermissionState)> handler) {
    permissionStateChangedHandler_ = std::move(handler);
}

void SystemPersonaVirtualCameraController::changePermissionState(PermissionState state) {
    const PermissionState previous = std::exchange(permissionState_, state);
    if (previous != state && permissionStateChangedHandler_)
        permissionStateChangedHandler_(state);
}

void SystemPersonaVirtualCameraController::publishDemand(bool demand) {
    const bool previous = std::exchange(lastPublishedDemand_, demand);
    if (previous != demand && demandChangedHandler_)
        demandChangedHandler_(demand);
}

void SystemPersonaVirtualCameraController::postDemandQuery() {
    if (dependencies_.notifications)
        dependencies_.notifications->post(Notifications::demandQuery);
}

void SystemPersonaVirtualCameraController::activateExtension() {
    if (hasSubmittedActivationRequest_ || isActivationInProgress_)
        return;
    hasSubmittedActivationRequest_ = true;
    isActivationInProgress_ = true;
    changePermissionState(PermissionState::activating);
    logger_.notice("Activating or updating the Persona camera extension");
    activationRequest_ = dependencies_.extensionManager->submitActivationRequest(weak_from_this());
}

void SystemPersonaVirtualCameraController::refreshExtensionProperties() {
    propertiesRequest_ = dependencies_.extensionManager->submitPropertiesRequest(weak_from_this());
}

CameraExtensionReplacementAction SystemPersonaVirtualCameraController::actionForReplacingExtension(
    CameraExtensionRequestID, const CameraExtensionProperties& installed,
    const CameraExtensionProperties& replacement) {
    if (installed.bundleVersion == replacement.bundleVersion &&
        installed.shortVersion == replacement.shortVersion) {
        isCancelingRedundantActivation_ = true;
        return CameraExtensionReplacementAction::cancel;
    }
    if (lastPublishedDemand_)
        publishDemand(false);
    logger_.notice("Replacing Persona camera extension ", installed.shortVersion, " (",
                   installed.bundleVersion, ") with ", replacement.shortVersion, " (",
                   replacement.bundleVersion, ")");
    return CameraExtensionReplacementAction::replace;
}

void SystemPersonaVirtualCameraController::requestNeedsUserApproval(CameraExtensionRequestID) {
    logger_.notice("The Persona camera extension is waiting for user approval");
    changePermissionState(PermissionState::requiresApproval);
}

void SystemPersonaVirtualCameraController::requestFoundProperties(
    CameraExtensionRequestID request, const std::vector<CameraExtensionProperties>& properties) {
    if (propertiesRequest_ != request)
        return;
    propertiesRequest_.reset();
    if (properties.empty())
        return;
    if (std::ranges::any_of(properties, &CameraExtensionProperties::isAwaitingUserApproval))
        changePermissionState(PermissionState::requiresApproval);
    else if (std::ranges::any_of(properties, &CameraExtensionProperties::isEnabled))
        changePermissionState(PermissionState::granted);
    else if (std::ranges::any_of(properties, [](const auto& entry) { return !entry.isUninstalling; }))
        changePermissionState(PermissionState::requiresApproval);
}

void SystemPersonaVirtualCameraController::requestDidFinish(CameraExtensionRequestID request,
                                                            CameraExtensionActivationResult result) {
    if (activationRequest_ != request)
        return;
    activationRequest_.reset();
    isActivationInProgress_ = false;
    isCancelingRedundantActivation_ = false;
    switch (result) {
        case CameraExtensionActivationResult::completed:
            logger_.notice("Persona camera extension activation completed");
            changePermissionState(PermissionState::granted);
            startRegistrationVerification();
            break;
        case CameraExtensionActivationResult::willCompleteAfterReboot:
            logger_.notice("Persona camera extension activation will complete after restart");
            changePermissionState(PermissionState::granted);
            presentRestartAlert();
            break;
        case CameraExtensionActivationResult::unknown:
            logger_.notice("Persona camera extension activation returned an unknown completion result");
            break;
    }
    postDemandQuery();
}

void SystemPersonaVirtualCameraController::requestDidFail(CameraExtensionRequestID request,
                                                          const CameraExtensionRequestError& error) {
    if (propertiesRequest_ == request) {
        propertiesRequest_.reset();
        logger_.error("Could not read Persona camera extension state: ", error.description);
        return;
    }
    if (activationRequest_ != request)
        return;
    activationRequest_.reset();
    isActivationInProgress_ = false;
    if (isCancelingRedundantActivation_) {
        isCancelingRedundantActivation_ = false;
        refreshExtensionProperties();
        postDemandQuery();
        return;
    }
    hasSubmittedActivationRequest_ = false;
    if (error.isSystemExtensionDomain && error.code == CameraExtensionRequestError::authorizationRequiredCode)
        changePermissionState(PermissionState::requiresApproval);
    else
        refreshExtensionProperties();
    logger_.error("Persona camera extension activation failed: ", error.description);
    postDemandQuery();
}

void SystemPersonaVirtualCameraController::startRegistrationVerification() {
    registrationVerificationTask_ =
        Task::spawn(dependencies_.mainActor,
                    verifyRegistration(weak_from_this(), dependencies_.deviceRegistry, *dependencies_.clock),
                    "persona camera registration check");
}

asio::awaitable<void> SystemPersonaVirtualCameraController::verifyRegistration(
    std::weak_ptr<SystemPersonaVirtualCameraController> weak, std::shared_ptr<CameraDeviceRegistry> registry,
    Clock& clock) {
    for (int attempt = 0; attempt < registrationLookupCount; ++attempt) {
        if (isCancelled(co_await asio::this_coro::cancellation_state))
            co_return;
        const bool found = co_await registry->containsDevice(std::string(CameraDeviceIdentifiers::deviceUID));
        if (isCancelled(co_await asio::this_coro::cancellation_state))
            co_return;
        if (found) {
            if (auto self = weak.lock()) {
                self->logger_.notice("Persona camera CoreMediaIO registration verified");
                self->postDemandQuery();
            }
            co_return;
        }
        co_await clock.sleepFor(registrationLookupInterval);
    }
    if (isCancelled(co_await asio::this_coro::cancellation_state))
        co_return;
    if (auto self = weak.lock()) {
        self->logger_.error("Persona camera extension is enabled but its CoreMediaIO device is unavailable");
        self->presentRestartAlert();
    }
}

void SystemPersonaVirtualCameraController::presentRestartAlert() {
    if (didPresentRestartAlert_)
        return;
    didPresentRestartAlert_ = true;
    if (dependencies_.restartAlert)
        dependencies_.restartAlert->presentWarning(restartAlertMessage, restartAlertInformativeText,
                                                   restartAlertButtonTitle);
}

}  // namespace quillbridge
