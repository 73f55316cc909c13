#include "app/HostUpdateController.hpp"

#include <utility>

#include <QString>
#include <QUrl>

#include "core/Base64.hpp"

namespace quillbridge {
namespace {

constexpr std::size_t ed25519PublicKeyLength = 32;

}  // namespace

const std::string& HostUpdateController::Status::empty() {
    static const std::string none;
    return none;
}

bool HostUpdateController::isUpdateFeedConfigured(const ReleaseConfiguration& configuration) {
    if (!configuration.feedURL) {
        return false;
    }
    const QUrl feed(QString::fromStdString(*configuration.feedURL), QUrl::StrictMode);
    if (!feed.isValid()) {
        return false;
    }
    if (feed.scheme().isEmpty() || feed.scheme().toLower() != QStringLiteral("https")) {
        return false;
    }
    if (feed.host().isEmpty()) {
        return false;
    }
    if (!configuration.publicEDKey) {
        return false;
    }
    const auto key = decodeBase64(*configuration.publicEDKey);
    return key && key->size() == ed25519PublicKeyLength;
}

HostUpdateController::HostUpdateController(
    const ReleaseConfiguration& configuration, const SoftwareUpdaterControllerFactory& makeUpdaterController,
    std::shared_ptr<HostAppActivationController> appActivationController)
    : appActivationController_(std::move(appActivationController)),
      changeHandlers_(std::make_shared<std::map<std::uint64_t, std::function<void()>>>()),
      lifetime_(std::make_shared<HostUpdateController*>(this)) {
    if (!isUpdateFeedConfigured(configuration) || !makeUpdaterController) {
        return;
    }
    updaterController_ = makeUpdaterController(*this);
    if (!updaterController_) {
        return;
    }
    auto& updater = updaterController_->updater();
    automaticallyChecksForUpdates_ = updater.automaticallyChecksForUpdates();
    canCheckForUpdatesObservation_ =
        updater.observeCanCheckForUpdates([weakSelf = std::weak_ptr(lifetime_)](bool canCheck) {
            if (auto self = weakSelf.lock()) {
                (*self)->setCanCheckForUpdates(canCheck);
            }
        });
    updaterController_->startUpdater();
    setStatus(Status::idle());
}

HostUpdateController::~HostUpdateController() {
    lifetime_.reset();
    canCheckForUpdatesObservation_.reset();
    updaterController_.reset();
    scheduledUpdateDidBecomeAvailable = nullptr;
}

void HostUpdateController::checkForUpdates() {
    if (status_ == Status::checking()) {
        return;
    }
    if (!updaterController_ || !updaterController_->updater().canCheckForUpdates()) {
        return;
    }
    setStatus(Status::checking());
    updaterController_->updater().checkForUpdateInformation();
}

void HostUpdateController::setAutomaticallyChecksForUpdates(bool automaticallyChecks) {
    if (automaticallyChecksForUpdates_ == automaticallyChecks) {
        return;
    }
    automaticallyChecksForUpdates_ = automaticallyChecks;
    announceChange();
}

std::shared_ptr<void> HostUpdateController::observeChanges(std::function<void()> handler) {
    const auto id = nextChangeHandlerID_++;
    changeHandlers_->emplace(id, std::move(handler));
    return std::shared_ptr<void>(nullptr, [weakHandlers = std::weak_ptr(changeHandlers_), id](void*) {
        if (auto handlers = weakHandlers.lock()) {
            handlers->erase(id);
        }
    });
}

void HostUpdateController::updaterDidFindValidUpdate(const SoftwareUpdateItem& item) {
    setStatus(Status::updateAvailable(item.displayVersionString));
}

void HostUpdateController::updaterDidNotFindUpdate(const SoftwareUpdateError& error) {
    applyError(error);
}

void HostUpdateController::updaterDidAbortWithError(const SoftwareUpdateError& error) {
    applyError(error);
}

void HostUpdateController::updaterDidFinishUpdateCycle(SoftwareUpdateCheck check,
                                                       const std::optional<SoftwareUpdateError>& error) {
    if (error) {
        applyError(*error);
        return;
    }
    if (status_ == Status::checking()) {
        setStatus(Status::idle());
    }
}

void HostUpdateController::standardUserDriverWillHandleShowingUpdate(
    bool handleShowingUpdate, const SoftwareUpdateItem& item, const SoftwareUpdateUserDriverState& state) {
    if (handleShowingUpdate) {
        if (appActivationController_) {
            appActivationController_->present(WindowRole::softwareUpdate);
        }
        return;
    }
    setStatus(Status::updateAvailable(item.displayVersionString));
    if (scheduledUpdateDidBecomeAvailable) {
        scheduledUpdateDidBecomeAvailable(item.displayVersionString, item.versionString);
    }
}

void HostUpdateController::standardUserDriverWillFinishUpdateSession() {
    if (appActivationController_) {
        appActivationController_->dismiss(WindowRole::softwareUpdate);
    }
}

void HostUpdateController::applyError(const SoftwareUpdateError& error) {
    if (error.domain == softwareUpdateErrorDomain && error.code == SoftwareUpdateErrorCode::noUpdate) {
        setStatus(Status::upToDate());
        return;
    }
    if (error.domain == softwareUpdateErrorDomain &&
        error.code == SoftwareUpdateErrorCode::installationCanceled) {
        return;
    }
    setStatus(Status::failed(error.localizedDescription));
}

void HostUpdateController::setStatus(Status status) {
    if (status_ == status) {
        return;
    }
    status_ = std::move(status);
    announceChange();
}

void HostUpdateController::setCanCheckForUpdates(bool canCheck) {
    if (canCheckForUpdates_ == canCheck) {
        return;
    }
    canCheckForUpdates_ = canCheck;
    announceChange();
}

void HostUpdateController::announceChange() {
    // A handler may release its own token (or another's) while it runs: call a copy.
    const auto handlers = *changeHandlers_;
    for (const auto& [id, handler] : handlers) {
        if (changeHandlers_->contains(id)) {
            handler();
        }
    }
}

}  // namespace quillbridge
