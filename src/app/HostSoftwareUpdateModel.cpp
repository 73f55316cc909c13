#include "app/HostSoftwareUpdateModel.hpp"

#include <utility>

namespace quillbridge {

HostSoftwareUpdateModel::HostSoftwareUpdateModel(std::shared_ptr<HostUpdateController> controller)
    : controller_(std::move(controller)) {}

SoftwareUpdateModel::Status HostSoftwareUpdateModel::statusOf(const HostUpdateController::Status& status) {
    using Kind = HostUpdateController::Status::Kind;
    switch (status.kind()) {
        case Kind::updateAvailable:
            return UpdateAvailable{status.version()};
        case Kind::failed:
            return Failed{status.message()};
        case Kind::notConfigured:
            return NotConfigured{};
        case Kind::idle:
            return Idle{};
        case Kind::checking:
            return Checking{};
        case Kind::upToDate:
            return UpToDate{};
    }
    return NotConfigured{};
}

void HostSoftwareUpdateModel::addObserver(std::function<void()> observer) {
    observations_.push_back(controller_->observeChanges(std::move(observer)));
}

SoftwareUpdateModel::Status HostSoftwareUpdateModel::status() const {
    return statusOf(controller_->status());
}

bool HostSoftwareUpdateModel::automaticallyChecksForUpdates() const {
    return controller_->automaticallyChecksForUpdates();
}

bool HostSoftwareUpdateModel::canCheckForUpdates() const {
    return controller_->canCheckForUpdates();
}

bool HostSoftwareUpdateModel::hasUpdater() const {
    return controller_->updaterController() != nullptr;
}

void HostSoftwareUpdateModel::checkForUpdates() {
    controller_->checkForUpdates();
}

void HostSoftwareUpdateModel::checkForUpdatesInteractively() {
    if (auto* updaterController = controller_->updaterController()) {
        updaterController->updater().checkForUpdates();
    }
}

void HostSoftwareUpdateModel::setAutomaticallyChecksForUpdates(bool enabled) {
    auto* updaterController = controller_->updaterController();
    if (updaterController == nullptr) {
        return;
    }
    SoftwareUpdater& updater = updaterController->updater();
    updater.setAutomaticallyChecksForUpdates(enabled);
    // The updater may keep a different value (a setting fixed by the administrator): it has the last word.
    controller_->setAutomaticallyChecksForUpdates(updater.automaticallyChecksForUpdates());
}

}  // namespace quillbridge
