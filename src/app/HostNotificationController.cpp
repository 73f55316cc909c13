#include "app/HostNotificationController.hpp"

#include <utility>
#include <vector>

#include <asio/post.hpp>

namespace quillbridge {

HostNotificationController::HostNotificationController(Dependencies dependencies)
    : mainActor_(std::move(dependencies.mainActor)),
      screenRecorder_(std::move(dependencies.screenRecorder)),
      pairingPromptPresenter_(std::move(dependencies.pairingPromptPresenter)),
      updateController_(std::move(dependencies.updateController)),
      notificationCenter_(std::move(dependencies.notificationCenter)),
      defaults_(std::move(dependencies.defaults)),
      lifetime_(std::make_shared<HostNotificationController*>(this)) {
    notificationCenter_->setDelegate(this);

    // A pairing notification never outlives the host that posted it.
    removeNotifications(pairingRequestIdentifier);
    removeNotificationsWithPrefix(earlierPairingIdentifierPrefix);

    // Follow the prompt; nothing is posted for the value it has now.
    screenRecorder_->addPropertyObserver(
        [weak = std::weak_ptr<HostNotificationController*>(lifetime_)](ScreenRecorderProperty property) {
            if (property != ScreenRecorderProperty::pairingPrompt) {
                return;
            }
            auto self = weak.lock();
            if (!self || (*self)->updateScheduled_) {
                return;
            }
            // One update covers every change made before it runs; it reads the value then current.
            (*self)->updateScheduled_ = true;
            asio::post((*self)->mainActor_, [weak] {
                if (auto controller = weak.lock()) {
                    (*controller)->updateScheduled_ = false;
                    (*controller)->updatePairingNotification();
                }
            });
        });

    if (updateController_.setScheduledUpdateDidBecomeAvailable) {
        updateController_.setScheduledUpdateDidBecomeAvailable(
            [weak = std::weak_ptr<HostNotificationController*>(lifetime_)](const std::string& version,
                                                                           const std::string& build) {
                if (auto controller = weak.lock()) {
                    (*controller)->postSoftwareUpdateNotification(version, build);
                }
            });
    }
}

HostNotificationController::~HostNotificationController() {
    lifetime_.reset();
    notificationCenter_->setDelegate(nullptr);
}

std::string HostNotificationController::pairingBody(std::string_view peerName) {
    return std::string(peerName) + " is requesting to pair. Click to enter the PIN.";
}

std::string HostNotificationController::softwareUpdateBody(std::string_view version) {
    return "Version " + std::string(version) + " is available. Click to review and install.";
}

void HostNotificationController::requestAuthorization() {
    notificationCenter_->requestAuthorization(true, true, [](bool) {});
}

void HostNotificationController::updatePairingNotification() {
    const auto& prompt = screenRecorder_->pairingPrompt();
    if (!prompt || prompt->isExpired) {
        removePairingNotification();
        return;
    }
    if (presentedPromptID_ == prompt->id) {
        // Already posted: a new attempt count or verifying state posts nothing.
        return;
    }
    removePairingNotification();
    presentedPromptID_ = prompt->id;
    notificationCenter_->add(HostNotificationRequest{
        .identifier = std::string(pairingRequestIdentifier),
        .title = "Pair Vision Pro",
        .body = pairingBody(prompt->peerName),
        .playsDefaultSound = true,
        .userInfo = {{std::string(pairingPromptIDKey), prompt->id.string()}},
    });
}

void HostNotificationController::removePairingNotification() {
    if (!presentedPromptID_) {
        return;
    }
    removeNotifications(pairingRequestIdentifier);
    presentedPromptID_.reset();
}

void HostNotificationController::postSoftwareUpdateNotification(const std::string& version,
                                                                const std::string& build) {
    if (defaults_->string(lastNotifiedBuildDefaultsKey) == build) {
        // Each build is announced once, across restarts.
        return;
    }
    // Stored before posting: a post that fails is not tried again.
    defaults_->setString(lastNotifiedBuildDefaultsKey, build);
    HostNotificationRequest request{
        .identifier = std::string(softwareUpdateRequestIdentifier),
        .title = "Quillbridge Host Update Available",
        .body = softwareUpdateBody(version),
        .playsDefaultSound = false,
        .userInfo = {{std::string(softwareUpdateBuildKey), build}},
    };
    removeNotificationsWithPrefix(earlierSoftwareUpdateIdentifierPrefix);
    removeNotifications(softwareUpdateRequestIdentifier);
    notificationCenter_->add(std::move(request));
}

void HostNotificationController::willPresentNotification(
    const HostNotificationUserInfo& userInfo,
    std::function<void(HostNotificationPresentationOptions)> completion) {
    if (userInfo.contains(std::string(softwareUpdateBuildKey))) {
        completion(HostNotificationPresentationOptions{.banner = true});
    } else {
        completion(HostNotificationPresentationOptions{.banner = true, .sound = true});
    }
}

void HostNotificationController::didReceiveNotificationResponse(const HostNotificationUserInfo& userInfo,
                                                                std::function<void()> completion) {
    if (userInfo.contains(std::string(softwareUpdateBuildKey))) {
        asio::post(mainActor_, [weak = std::weak_ptr<HostNotificationController*>(lifetime_),
                                completion = std::move(completion)] {
            if (auto controller = weak.lock()) {
                const auto& link = (*controller)->updateController_;
                if (link.hasUpdaterController && link.hasUpdaterController() &&
                    link.checkForUpdatesWithInterface) {
                    link.checkForUpdatesWithInterface();
                }
            }
            completion();
        });
        return;
    }
    std::optional<Uuid> promptID;
    if (auto found = userInfo.find(std::string(pairingPromptIDKey)); found != userInfo.end()) {
        promptID = Uuid::parse(found->second);
    }
    asio::post(mainActor_, [weak = std::weak_ptr<HostNotificationController*>(lifetime_), promptID,
                            completion = std::move(completion)] {
        if (auto controller = weak.lock()) {
            (*controller)->pairingPromptPresenter_->presentPairingPromptWindow(promptID);
        }
        completion();
    });
}

void HostNotificationController::removeNotifications(std::string_view identifier) {
    const std::vector<std::string> identifiers{std::string(identifier)};
    notificationCenter_->removeDeliveredNotifications(identifiers);
    notificationCenter_->removePendingNotificationRequests(identifiers);
}

void HostNotificationController::removeNotificationsWithPrefix(std::string_view prefix) {
    auto withPrefix = [prefix = std::string(prefix)](const std::vector<std::string>& identifiers) {
        std::vector<std::string> matching;
        for (const auto& identifier : identifiers) {
            if (identifier.starts_with(prefix)) {
                matching.push_back(identifier);
            }
        }
        return matching;
    };
    notificationCenter_->getDeliveredNotifications(
        [center = notificationCenter_, withPrefix](std::vector<std::string> identifiers) {
            if (auto matching = withPrefix(identifiers); !matching.empty()) {
                center->removeDeliveredNotifications(matching);
            }
        });
    notificationCenter_->getPendingNotificationRequests(
        [center = notificationCenter_, withPrefix](std::vector<std::string> identifiers) {
            if (auto matching = withPrefix(identifiers); !matching.empty()) {
                center->removePendingNotificationRequests(matching);
            }
        });
}

}  // namespace quillbridge
