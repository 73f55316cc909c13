#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <asio/any_io_executor.hpp>

#include "app/HostNotificationCenter.hpp"
#include "app/PairingPromptPresenter.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/Uuid.hpp"
#include "pairing/DefaultsStore.hpp"

namespace quillbridge {

// Posts the host's two user notifications and handles clicks on them: a pairing request, shown while a
// headset waits for its code (a click opens the pairing prompt window), and a software update, shown once per
// build when a scheduled check finds one (a click starts the updater's interactive check). The delegate of
// the notification centre. Main actor only.
class HostNotificationController final : public HostNotificationCenterDelegate {
public:
    static constexpr std::string_view pairingRequestIdentifier = "pairing";
    static constexpr std::string_view softwareUpdateRequestIdentifier = "software-update";
    static constexpr std::string_view earlierPairingIdentifierPrefix = "pairing-";
    static constexpr std::string_view earlierSoftwareUpdateIdentifierPrefix = "software-update-";
    static constexpr std::string_view pairingPromptIDKey = "pairingPromptID";
    static constexpr std::string_view softwareUpdateBuildKey = "softwareUpdateBuild";
    static constexpr std::string_view lastNotifiedBuildDefaultsKey =
        "QuillbridgeLastNotifiedSoftwareUpdateBuild";

    // What the controller uses of the software-update controller.
    struct UpdateControllerLink {
        using ScheduledUpdateAction =
            std::function<void(const std::string& version, const std::string& build)>;
        // Installs the action the update controller calls when a scheduled check finds an update (with the
        // update's display version, then its build); an earlier action is released.
        std::function<void(ScheduledUpdateAction)> setScheduledUpdateDidBecomeAvailable;
        // Whether updating is configured (the update controller has its updater).
        std::function<bool()> hasUpdaterController;
        // The updater's user-initiated check, with its own interface.
        std::function<void()> checkForUpdatesWithInterface;
    };

    struct Dependencies {
        asio::any_io_executor mainActor;
        std::shared_ptr<ScreenRecorder> screenRecorder;
        std::shared_ptr<PairingPromptPresenter> pairingPromptPresenter;
        UpdateControllerLink updateController;
        std::shared_ptr<HostNotificationCenter> notificationCenter;
        // The standard user defaults: the last build announced.
        std::shared_ptr<DefaultsStore> defaults;
    };

    explicit HostNotificationController(Dependencies dependencies);
    ~HostNotificationController() override;
    HostNotificationController(const HostNotificationController&) = delete;
    HostNotificationController& operator=(const HostNotificationController&) = delete;

    // Asks for alerts and sounds; the answer is ignored. Runs once the mandatory permission flow completes.
    void requestAuthorization();
    // Brings the posted pairing notification in line with the recorder's pending prompt.
    void updatePairingNotification();
    void removePairingNotification();
    // A scheduled check found an update: announces the build unless it was announced before.
    void postSoftwareUpdateNotification(const std::string& version, const std::string& build);

    const std::optional<Uuid>& presentedPromptID() const { return presentedPromptID_; }

    // HostNotificationCenterDelegate
    void willPresentNotification(
        const HostNotificationUserInfo& userInfo,
        std::function<void(HostNotificationPresentationOptions)> completion) override;
    void didReceiveNotificationResponse(const HostNotificationUserInfo& userInfo,
                                        std::function<void()> completion) override;

    // The notification texts.
    static std::string pairingBody(std::string_view peerName);
    static std::string softwareUpdateBody(std::string_view version);

private:
    void removeNotifications(std::string_view identifier);
    void removeNotificationsWithPrefix(std::string_view prefix);

    asio::any_io_executor mainActor_;
    std::shared_ptr<ScreenRecorder> screenRecorder_;
    std::shared_ptr<PairingPromptPresenter> pairingPromptPresenter_;
    UpdateControllerLink updateController_;
    std::shared_ptr<HostNotificationCenter> notificationCenter_;
    std::shared_ptr<DefaultsStore> defaults_;
    std::optional<Uuid> presentedPromptID_;
    bool updateScheduled_ = false;
    // Deferred work holds this weakly: empty once the controller is gone.
    std::shared_ptr<HostNotificationController*> lifetime_;
};

}  // namespace quillbridge
