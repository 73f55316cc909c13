#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "bridge/CameraDemandNotificationCenter.hpp"
#include "bridge/CameraDeviceRegistry.hpp"
#include "bridge/CameraExtensionManager.hpp"
#include "bridge/CameraRestartAlertPresenter.hpp"
#include "bridge/PersonaVirtualCameraController.hpp"
#include "core/Clock.hpp"
#include "core/Logger.hpp"
#include "core/Task.hpp"

namespace quillbridge {

// The host's side of the camera program's life: activates (installs, updates, starts) it once per run, reads
// its state for the user interface, checks after an activation that its camera really appeared (and asks the
// user to restart otherwise, once per run), and turns its demand notifications into a yes/no signal.
//
// Used on the main actor only: the manager answers there, and the demand notifications hop there. Create it
// with create().
class SystemPersonaVirtualCameraController final
    : public PersonaVirtualCameraController,
      public CameraExtensionRequestDelegate,
      public std::enable_shared_from_this<SystemPersonaVirtualCameraController> {
public:
    static constexpr int registrationLookupCount = 10;
    static constexpr std::chrono::milliseconds registrationLookupInterval{500};

    struct Dependencies {
        asio::any_io_executor mainActor;
        Clock* clock = nullptr;
        std::shared_ptr<CameraExtensionManager> extensionManager;
        std::shared_ptr<CameraDeviceRegistry> deviceRegistry;
        std::shared_ptr<CameraDemandNotificationCenter> notifications;
        std::shared_ptr<CameraRestartAlertPresenter> restartAlert;
    };

    static std::shared_ptr<SystemPersonaVirtualCameraController> create(Dependencies dependencies);
    ~SystemPersonaVirtualCameraController() override;

    void activateExtension() override;
    void refreshExtensionProperties() override;
    void postDemandQuery() override;
    void setDemandChangedHandler(std::function<void(bool)> handler) override;
    void setPermissionStateChangedHandler(std::function<void(PermissionState)> handler) override;

    CameraExtensionReplacementAction actionForReplacingExtension(
        CameraExtensionRequestID request, const CameraExtensionProperties& installed,
        const CameraExtensionProperties& replacement) override;
    void requestNeedsUserApproval(CameraExtensionRequestID request) override;
    void requestFoundProperties(CameraExtensionRequestID request,
                                const std::vector<CameraExtensionProperties>& properties) override;
    void requestDidFinish(CameraExtensionRequestID request, CameraExtensionActivationResult result) override;
    void requestDidFail(CameraExtensionRequestID request, const CameraExtensionRequestError& error) override;

    PermissionState permissionState() const { return permissionState_; }
    bool lastPublishedDemand() const { return lastPublishedDemand_; }

private:
    explicit SystemPersonaVirtualCameraController(Dependencies dependencies);

    void observeDemandNotifications();
    void handleNotification(const std::string& name);
    void changePermissionState(PermissionState state);
    void publishDemand(bool demand);
    void startRegistrationVerification();
    static asio::awaitable<void> verifyRegistration(std::weak_ptr<SystemPersonaVirtualCameraController> weak,
                                                    std::shared_ptr<CameraDeviceRegistry> registry,
                                                    Clock& clock);
    void presentRestartAlert();

    Dependencies dependencies_;
    Logger logger_{"PersonaCameraExtensionActivation"};
    std::function<void(bool)> demandChangedHandler_;
    std::function<void(PermissionState)> permissionStateChangedHandler_;
    PermissionState permissionState_ = PermissionState::unknown;
    bool lastPublishedDemand_ = false;
    bool hasSubmittedActivationRequest_ = false;
    bool isActivationInProgress_ = false;
    bool isCancelingRedundantActivation_ = false;
    std::optional<CameraExtensionRequestID> activationRequest_;
    std::optional<CameraExtensionRequestID> propertiesRequest_;
    Task registrationVerificationTask_;
    bool didPresentRestartAlert_ = false;
};

}  // namespace quillbridge
