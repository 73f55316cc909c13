#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/HostAppActivationController.hpp"
#include "app/SoftwareUpdater.hpp"

namespace quillbridge {

// Decides whether updating is configured, owns the updater when it is, turns the updater's callbacks into one
// observable status for the menu window, hands a scheduled update to the notification controller, and holds
// the software-update window role while the updater shows its own window. Main actor only.
class HostUpdateController final : public SoftwareUpdaterDelegate {
public:
    class Status {
    public:
        enum class Kind { updateAvailable, failed, notConfigured, idle, checking, upToDate };

        static Status updateAvailable(std::string version) {
            return {Kind::updateAvailable, std::move(version)};
        }
        static Status failed(std::string message) { return {Kind::failed, std::move(message)}; }
        static Status notConfigured() { return {Kind::notConfigured, {}}; }
        static Status idle() { return {Kind::idle, {}}; }
        static Status checking() { return {Kind::checking, {}}; }
        static Status upToDate() { return {Kind::upToDate, {}}; }

        Kind kind() const { return kind_; }
        // The version of updateAvailable; empty for every other case.
        const std::string& version() const { return kind_ == Kind::updateAvailable ? text_ : empty(); }
        // The message of failed; empty for every other case.
        const std::string& message() const { return kind_ == Kind::failed ? text_ : empty(); }

        bool operator==(const Status&) const = default;

    private:
        Status(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
        static const std::string& empty();

        Kind kind_;
        std::string text_;
    };

    // The release configuration: the feed's address ("SUFeedURL") and the Base64 Ed25519 public key that
    // signs its files ("SUPublicEDKey"); each nothing when the build has none.
    struct ReleaseConfiguration {
        std::optional<std::string> feedURL;
        std::optional<std::string> publicEDKey;
    };

    // Updating is configured only when the feed is an https address with a host and the key decodes as
    // standard Base64 to exactly 32 bytes.
    static bool isUpdateFeedConfigured(const ReleaseConfiguration& configuration);

    // Creates the updater through the factory (and starts it) only when updating is configured.
    HostUpdateController(const ReleaseConfiguration& configuration,
                         const SoftwareUpdaterControllerFactory& makeUpdaterController,
                         std::shared_ptr<HostAppActivationController> appActivationController);
    ~HostUpdateController() override;
    HostUpdateController(const HostUpdateController&) = delete;
    HostUpdateController& operator=(const HostUpdateController&) = delete;

    // The quiet check: no window; status moves to checking and on to the result.
    void checkForUpdates();

    const Status& status() const { return status_; }
    bool automaticallyChecksForUpdates() const { return automaticallyChecksForUpdates_; }
    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    // Stores what the updater reports after its setting was changed (the menu's toggle writes the updater's
    // setting, then copies the updater's value back here).
    void setAutomaticallyChecksForUpdates(bool automaticallyChecks);

    // Present only when updating is configured; its updater runs the interactive check.
    SoftwareUpdaterController* updaterController() const { return updaterController_.get(); }

    // Called with the update's display version and its version when a scheduled check found an update the
    // host announces itself.
    std::function<void(const std::string& displayVersion, const std::string& version)>
        scheduledUpdateDidBecomeAvailable;

    // Calls the handler after each change of status, automaticallyChecksForUpdates or canCheckForUpdates,
    // until the returned token is released.
    [[nodiscard]] std::shared_ptr<void> observeChanges(std::function<void()> handler);

    // SoftwareUpdaterDelegate
    void updaterDidFindValidUpdate(const SoftwareUpdateItem& item) override;
    void updaterDidNotFindUpdate(const SoftwareUpdateError& error) override;
    void updaterDidAbortWithError(const SoftwareUpdateError& error) override;
    void updaterDidFinishUpdateCycle(SoftwareUpdateCheck check,
                                     const std::optional<SoftwareUpdateError>& error) override;
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    bool standardUserDriverShouldHandleShowingScheduledUpdate(const SoftwareUpdateItem& item,
                                                              bool immediateFocus) override {
        return false;
    }
    void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const SoftwareUpdateItem& item,
                                                   const SoftwareUpdateUserDriverState& state) override;
    void standardUserDriverWillFinishUpdateSession() override;

private:
    void applyError(const SoftwareUpdateError& error);
    void setStatus(Status status);
    void setCanCheckForUpdates(bool canCheck);
    void announceChange();

    Status status_ = Status::notConfigured();
    bool automaticallyChecksForUpdates_ = false;
    bool canCheckForUpdates_ = false;
    std::shared_ptr<HostAppActivationController> appActivationController_;
    std::shared_ptr<std::map<std::uint64_t, std::function<void()>>> changeHandlers_;
    std::uint64_t nextChangeHandlerID_ = 0;
    // Lets the observation's handler see whether this controller still exists.
    std::shared_ptr<HostUpdateController*> lifetime_;
    std::unique_ptr<SoftwareUpdaterController> updaterController_;
    std::shared_ptr<void> canCheckForUpdatesObservation_;
};

}  // namespace quillbridge
