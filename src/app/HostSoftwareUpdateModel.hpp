#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "app/HostUpdateController.hpp"
#include "app/SoftwareUpdateModel.hpp"

namespace quillbridge {

// The menu window's "Software Update" group over the host's update controller: its status, flags and quiet
// check, and, through the updater when updating is configured, the interactive "Update…" and the
// automatic-check setting. Main actor only.
class HostSoftwareUpdateModel final : public SoftwareUpdateModel {
public:
    explicit HostSoftwareUpdateModel(std::shared_ptr<HostUpdateController> controller);

    static Status statusOf(const HostUpdateController::Status& status);

    // Observers are heard for as long as this model lives.
    void addObserver(std::function<void()> observer) override;

    Status status() const override;
    bool automaticallyChecksForUpdates() const override;
    bool canCheckForUpdates() const override;
    bool hasUpdater() const override;

    void checkForUpdates() override;
    void checkForUpdatesInteractively() override;
    void setAutomaticallyChecksForUpdates(bool enabled) override;

private:
    std::shared_ptr<HostUpdateController> controller_;
    std::vector<std::shared_ptr<void>> observations_;
};

}  // namespace quillbridge
