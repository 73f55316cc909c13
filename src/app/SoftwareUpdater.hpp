#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillbridge {

// One release offered by the update feed.
struct SoftwareUpdateItem {
    // The version people read ("1.2.3").
    std::string displayVersionString;
    // The build version the updater compares ("412").
    std::string versionString;

    bool operator==(const SoftwareUpdateItem&) const = default;
};

// Why an update check or installation ended early.
struct SoftwareUpdateError {
    std::string domain;
    int code = 0;
    std::string localizedDescription;

    bool operator==(const SoftwareUpdateError&) const = default;
};

// The updater's error domain and the codes its clients tell apart.
inline constexpr std::string_view softwareUpdateErrorDomain = "SUSparkleErrorDomain";
struct SoftwareUpdateErrorCode {
    // The feed could not be read or made no sense.
    static constexpr int appcastError = 1000;
    // The feed offers nothing newer than the running build.
    static constexpr int noUpdate = 1001;
    // The update could not be downloaded.
    static constexpr int downloadError = 2001;
    // The downloaded file is not the one the feed signed.
    static constexpr int signatureError = 3001;
    // The package manager did not install the update.
    static constexpr int installationError = 4005;
    // The user cancelled the installation (the password prompt, say).
    static constexpr int installationCanceled = 4007;
};

// What kind of check an update cycle was.
enum class SoftwareUpdateCheck { updates, updatesInBackground, updateInformation };

// Where the user-facing side of the updater stands when it shows an update.
struct SoftwareUpdateUserDriverState {
    // Whether the user asked for this check (rather than a scheduled one).
    bool userInitiated = false;
};

// The updater's delegate and its user driver's delegate in one: what the updater tells its owner and asks
// of it. Called on the main actor.
class SoftwareUpdaterDelegate {
public:
    virtual ~SoftwareUpdaterDelegate() = default;

    virtual void updaterDidFindValidUpdate(const SoftwareUpdateItem& item) = 0;
    virtual void updaterDidNotFindUpdate(const SoftwareUpdateError& error) = 0;
    virtual void updaterDidAbortWithError(const SoftwareUpdateError& error) = 0;
    virtual void updaterDidFinishUpdateCycle(SoftwareUpdateCheck check,
                                             const std::optional<SoftwareUpdateError>& error) = 0;

    // Whether a scheduled update may be announced gently (by the owner) instead of with the updater's window.
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    // Whether the updater shows a scheduled update in its own window.
    virtual bool standardUserDriverShouldHandleShowingScheduledUpdate(const SoftwareUpdateItem& item,
                                                                      bool immediateFocus) = 0;
    // The updater is about to show the update in its window (handleShowingUpdate) or leaves it to the owner.
    virtual void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate,
                                                           const SoftwareUpdateItem& item,
                                                           const SoftwareUpdateUserDriverState& state) = 0;
    // The updater's window is about to close for good.
    virtual void standardUserDriverWillFinishUpdateSession() = 0;
};

// The updater itself. Main actor only.
class SoftwareUpdater {
public:
    virtual ~SoftwareUpdater() = default;

    // False while a check or an installation runs, and before the updater has started.
    virtual bool canCheckForUpdates() const = 0;
    // Whether the updater checks once a day on its own (kept in the user's defaults).
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool automaticallyChecks) = 0;
    // The interactive check: the updater's own window shows the progress and the result.
    virtual void checkForUpdates() = 0;
    // The quiet check: no window; the outcome goes to the delegate only.
    virtual void checkForUpdateInformation() = 0;
    // Calls the handler with the current value of canCheckForUpdates at once, then with every new value,
    // until the returned token is released.
    [[nodiscard]] virtual std::shared_ptr<void> observeCanCheckForUpdates(
        std::function<void(bool)> handler) = 0;
};

// Owns the updater and starts it.
class SoftwareUpdaterController {
public:
    virtual ~SoftwareUpdaterController() = default;

    virtual SoftwareUpdater& updater() = 0;
    // Lets the updater run: it may check from now on (and schedules its daily check).
    virtual void startUpdater() = 0;
};

// Creates the updater controller, not yet started, with the given delegate for the updater and its user
// driver (the delegate outlives the controller).
using SoftwareUpdaterControllerFactory =
    std::function<std::unique_ptr<SoftwareUpdaterController>(SoftwareUpdaterDelegate& delegate)>;

}  // namespace quillbridge
