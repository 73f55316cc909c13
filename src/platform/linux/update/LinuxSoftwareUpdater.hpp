#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/SoftwareUpdater.hpp"
#include "core/Bytes.hpp"
#include "pairing/DefaultsStore.hpp"
#include "platform/linux/update/AppcastParser.hpp"
#include "platform/linux/update/SoftwareUpdateUserInterface.hpp"
#include "platform/linux/update/UpdateCommandRunner.hpp"

class QByteArray;
class QNetworkAccessManager;
class QNetworkReply;
class QObject;
class QTemporaryDir;
class QTimer;

namespace quillbridge {

// The host's updater: reads the update feed over HTTPS (QtNetwork on the GUI thread, so that every step and
// every callback stays on the main actor without hops), picks the newest release above the running build,
// shows its own window, downloads the Debian package into a private temporary folder, checks its length and
// Ed25519 signature, installs it with "pkexec apt-get install -y" and restarts the host. With automatic
// checks on it checks once a day (the last check's time is kept in the user's defaults) and leaves a found
// update to its delegate when the delegate prefers to announce it. Main actor only.
class LinuxSoftwareUpdater final : public SoftwareUpdaterController, public SoftwareUpdater {
public:
    struct Options {
        std::string feedURL;
        // The 32-byte Ed25519 public key that signs the packages.
        Bytes publicKey;
        // The running build's version (compared with the feed's versions) and the one people read.
        std::string currentVersion;
        std::string currentDisplayVersion;
        std::shared_ptr<DefaultsStore> defaults;
        std::shared_ptr<UpdateCommandRunner> commandRunner;
        std::function<std::unique_ptr<SoftwareUpdateUserInterface>()> makeUserInterface;
        // Called once an update is installed.
        std::function<void()> restartHost;
        std::function<std::chrono::system_clock::time_point()> now = [] {
            return std::chrono::system_clock::now();
        };
    };

    // The defaults the updater keeps.
    static constexpr std::string_view automaticallyChecksKey = "softwareUpdate.automaticallyChecks";
    static constexpr std::string_view lastCheckTimeKey = "softwareUpdate.lastCheckTime";
    static constexpr std::string_view skippedVersionKey = "softwareUpdate.skippedVersion";
    static constexpr std::chrono::hours checkInterval{24};

    LinuxSoftwareUpdater(Options options, SoftwareUpdaterDelegate& delegate);
    ~LinuxSoftwareUpdater() override;

    // SoftwareUpdaterController
    SoftwareUpdater& updater() override { return *this; }
    void startUpdater() override;

    // SoftwareUpdater
    bool canCheckForUpdates() const override { return started_ && !session_; }
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool automaticallyChecks) override;
    void checkForUpdates() override;
    void checkForUpdateInformation() override;
    std::shared_ptr<void> observeCanCheckForUpdates(std::function<void(bool)> handler) override;

    // When the next scheduled check is due; nothing while automatic checks are off or the updater has not
    // started.
    std::optional<std::chrono::system_clock::time_point> scheduledCheckTime() const {
        return scheduledCheck_;
    }

private:
    struct Session;

    void beginSession(SoftwareUpdateCheck check);
    void fetchFeed();
    void feedArrived(QNetworkReply* reply);
    void attachWindow();
    void userChose(SoftwareUpdateUserInterface::Choice choice);
    void userClosedWindow();
    void download();
    // Whether the chunk fitted within the announced length and was written.
    bool appendDownloaded(const QByteArray& chunk);
    void downloadFinished(QNetworkReply* reply);
    void install();
    void installFinished(std::optional<int> exitStatus);
    // Reports the error, shows it in the window when there is one, and ends the cycle (not the window).
    void fail(int code, const std::string& description);
    // Ends the update cycle with the error, if any; closes the window unless it stays to show a result.
    void finishCycle(const std::optional<SoftwareUpdateError>& error);
    void endSession();
    void scheduleNextCheck();
    void scheduledCheckDue();
    void announceCanCheck();

    Options options_;
    SoftwareUpdaterDelegate& delegate_;
    bool started_ = false;
    std::unique_ptr<QNetworkAccessManager> network_;
    std::unique_ptr<QTimer> scheduleTimer_;
    std::optional<std::chrono::system_clock::time_point> scheduledCheck_;
    std::shared_ptr<Session> session_;
    std::shared_ptr<std::map<std::uint64_t, std::function<void(bool)>>> canCheckObservers_;
    std::uint64_t nextObserverID_ = 0;
    bool lastAnnouncedCanCheck_ = false;
};

}  // namespace quillbridge
