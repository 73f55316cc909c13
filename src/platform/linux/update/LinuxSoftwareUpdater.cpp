#include "platform/linux/update/LinuxSoftwareUpdater.hpp"

#include <algorithm>
#include <compare>
#include <limits>
#include <utility>

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include "core/Logger.hpp"
#include "platform/linux/update/UpdateArchiveVerifier.hpp"
#include "platform/linux/update/UpdateVersionComparator.hpp"

namespace quillbridge {
namespace {

Logger& updaterLog() {
    static Logger logger("SoftwareUpdate");
    return logger;
}

constexpr const char* feedFailedText =
    "An error occurred in retrieving update information. Please try again later.";
constexpr const char* feedMalformedText = "An error occurred while parsing the update feed.";
constexpr const char* noUpdateText = "You’re up to date!";
constexpr const char* downloadFailedText =
    "An error occurred while downloading the update. Please try again later.";
constexpr const char* signatureFailedText =
    "The update is improperly signed and could not be validated. Please try again later.";
constexpr const char* installFailedText =
    "An error occurred while installing the update. Please try again later.";
constexpr const char* installCanceledText = "The installation was cancelled.";

// pkexec's exit status when the user dismissed the authentication dialog.
constexpr int pkexecDismissedStatus = 126;

SoftwareUpdateError updateError(int code, std::string description) {
    return {std::string(softwareUpdateErrorDomain), code, std::move(description)};
}

SoftwareUpdateItem itemOf(const AppcastItem& item) {
    return {item.displayVersionString, item.versionString};
}

}  // namespace

struct LinuxSoftwareUpdater::Session {
    SoftwareUpdateCheck check = SoftwareUpdateCheck::updates;
    // Parent of the session's replies and receiver of their signals: deleting it ends them.
    QObject* context = nullptr;
    QNetworkReply* reply = nullptr;
    std::unique_ptr<SoftwareUpdateUserInterface> window;
    bool windowShowsUpdate = false;
    std::optional<AppcastItem> item;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<QFile> file;
    bool downloadExceededLength = false;
    bool downloadWriteFailed = false;
    bool installing = false;
    bool cycleFinished = false;
};

LinuxSoftwareUpdater::LinuxSoftwareUpdater(Options options, SoftwareUpdaterDelegate& delegate)
    : options_(std::move(options)),
      delegate_(delegate),
      network_(std::make_unique<QNetworkAccessManager>()),
      scheduleTimer_(std::make_unique<QTimer>()),
      canCheckObservers_(std::make_shared<std::map<std::uint64_t, std::function<void(bool)>>>()) {
    network_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    scheduleTimer_->setSingleShot(true);
    QObject::connect(scheduleTimer_.get(), &QTimer::timeout, scheduleTimer_.get(),
                     [this] { scheduledCheckDue(); });
}

LinuxSoftwareUpdater::~LinuxSoftwareUpdater() {
    scheduleTimer_->stop();
    if (session_) {
        if (session_->reply) {
            session_->reply->abort();
        }
        delete session_->context;
        session_->context = nullptr;
        if (session_->window) {
            session_->window->close();
        }
        session_.reset();
    }
}

void LinuxSoftwareUpdater::startUpdater() {
    if (started_) {
        return;
    }
    started_ = true;
    announceCanCheck();
    scheduleNextCheck();
}

bool LinuxSoftwareUpdater::automaticallyChecksForUpdates() const {
    return options_.defaults && options_.defaults->boolean(automaticallyChecksKey).value_or(false);
}

void LinuxSoftwareUpdater::setAutomaticallyChecksForUpdates(bool automaticallyChecks) {
    if (!options_.defaults || !options_.defaults->setBoolean(automaticallyChecksKey, automaticallyChecks)) {
        updaterLog().error("Unable to store the automatic update check setting");
    }
    scheduleNextCheck();
}

std::shared_ptr<void> LinuxSoftwareUpdater::observeCanCheckForUpdates(std::function<void(bool)> handler) {
    const auto id = nextObserverID_++;
    auto& stored = canCheckObservers_->emplace(id, std::move(handler)).first->second;
    stored(canCheckForUpdates());
    return std::shared_ptr<void>(nullptr, [weakObservers = std::weak_ptr(canCheckObservers_), id](void*) {
        if (auto observers = weakObservers.lock()) {
            observers->erase(id);
        }
    });
}

void LinuxSoftwareUpdater::announceCanCheck() {
    const bool canCheck = canCheckForUpdates();
    if (canCheck == lastAnnouncedCanCheck_) {
        return;
    }
    lastAnnouncedCanCheck_ = canCheck;
    const auto observers = *canCheckObservers_;
    for (const auto& [id, handler] : observers) {
        if (canCheckObservers_->contains(id)) {
            handler(canCheck);
        }
    }
}

void LinuxSoftwareUpdater::checkForUpdates() {
    if (!canCheckForUpdates()) {
        return;
    }
    beginSession(SoftwareUpdateCheck::updates);
    if (options_.makeUserInterface) {
        session_->window = options_.makeUserInterface();
    }
    if (session_->window) {
        attachWindow();
        session_->window->showChecking();
    }
    fetchFeed();
}

void LinuxSoftwareUpdater::checkForUpdateInformation() {
    if (!canCheckForUpdates()) {
        return;
    }
    beginSession(SoftwareUpdateCheck::updateInformation);
    fetchFeed();
}

void LinuxSoftwareUpdater::beginSession(SoftwareUpdateCheck check) {
    session_ = std::make_shared<Session>();
    session_->check = check;
    session_->context = new QObject();
    announceCanCheck();
}

void LinuxSoftwareUpdater::fetchFeed() {
    QNetworkRequest request(QUrl(QString::fromStdString(options_.feedURL)));
    request.setHeader(
        QNetworkRequest::UserAgentHeader,
        QStringLiteral("Quillbridge Host/%1").arg(QString::fromStdString(options_.currentDisplayVersion)));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    auto* reply = network_->get(request);
    reply->setParent(session_->context);
    session_->reply = reply;
    std::weak_ptr<Session> weak = session_;
    QObject::connect(reply, &QNetworkReply::downloadProgress, session_->context,
                     [reply](qint64 received, qint64) {
                         if (received > static_cast<qint64>(AppcastParser::maximumFeedLength)) {
                             reply->abort();
                         }
                     });
    QObject::connect(reply, &QNetworkReply::finished, session_->context, [this, weak, reply] {
        if (auto session = weak.lock(); session && session == session_) {
            session_->reply = nullptr;
            feedArrived(reply);
        }
        reply->deleteLater();
    });
}

void LinuxSoftwareUpdater::feedArrived(QNetworkReply* reply) {
    if (reply->error() != QNetworkReply::NoError) {
        updaterLog().error("The update feed could not be read: ", reply->errorString().toStdString());
        fail(SoftwareUpdateErrorCode::appcastError, feedFailedText);
        return;
    }
    const auto body = reply->readAll();
    const auto items =
        AppcastParser::parse(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
    if (!items) {
        updaterLog().error("The update feed is not a valid feed");
        fail(SoftwareUpdateErrorCode::appcastError, feedMalformedText);
        return;
    }
    const AppcastItem* newest = nullptr;
    for (const auto& item : *items) {
        if (UpdateVersionComparator::compare(item.versionString, options_.currentVersion) !=
            std::strong_ordering::greater) {
            continue;
        }
        if (!newest || UpdateVersionComparator::compare(item.versionString, newest->versionString) ==
                           std::strong_ordering::greater) {
            newest = &item;
        }
    }
    const bool scheduled = session_->check == SoftwareUpdateCheck::updatesInBackground;
    if (newest && scheduled && options_.defaults &&
        options_.defaults->string(skippedVersionKey) == newest->versionString) {
        newest = nullptr;
    }
    if (!newest) {
        const auto error = updateError(SoftwareUpdateErrorCode::noUpdate, noUpdateText);
        if (session_->window) {
            session_->window->showUpToDate(options_.currentDisplayVersion);
        }
        delegate_.updaterDidNotFindUpdate(error);
        finishCycle(error);
        return;
    }
    session_->item = *newest;
    const auto item = itemOf(*newest);
    delegate_.updaterDidFindValidUpdate(item);
    if (session_->check == SoftwareUpdateCheck::updateInformation) {
        finishCycle(std::nullopt);
        return;
    }
    if (scheduled) {
        // Without gentle reminders the delegate cannot announce it: the window shows it.
        const bool windowShows = !delegate_.supportsGentleScheduledUpdateReminders() ||
                                 delegate_.standardUserDriverShouldHandleShowingScheduledUpdate(item, false);
        if (!windowShows || !options_.makeUserInterface) {
            delegate_.standardUserDriverWillHandleShowingUpdate(false, item, {.userInitiated = false});
            finishCycle(std::nullopt);
            return;
        }
        session_->window = options_.makeUserInterface();
    }
    if (!session_->window) {
        finishCycle(std::nullopt);
        return;
    }
    delegate_.standardUserDriverWillHandleShowingUpdate(true, item, {.userInitiated = !scheduled});
    session_->windowShowsUpdate = true;
    if (scheduled) {
        attachWindow();
    }
    session_->window->showUpdate(*newest, options_.currentDisplayVersion);
}

void LinuxSoftwareUpdater::attachWindow() {
    std::weak_ptr<Session> weak = session_;
    session_->window->setHandlers(
        [this, weak](SoftwareUpdateUserInterface::Choice choice) {
            if (auto session = weak.lock(); session && session == session_) {
                userChose(choice);
            }
        },
        [this, weak] {
            if (auto session = weak.lock(); session && session == session_) {
                userClosedWindow();
            }
        });
}

void LinuxSoftwareUpdater::userChose(SoftwareUpdateUserInterface::Choice choice) {
    if (!session_->item || session_->cycleFinished || session_->reply || session_->installing) {
        return;
    }
    switch (choice) {
        case SoftwareUpdateUserInterface::Choice::install:
            download();
            return;
        case SoftwareUpdateUserInterface::Choice::skipThisVersion:
            if (!options_.defaults ||
                !options_.defaults->setString(skippedVersionKey, session_->item->versionString)) {
                updaterLog().error("Unable to store the skipped version");
            }
            break;
        case SoftwareUpdateUserInterface::Choice::remindMeLater:
            break;
    }
    if (session_->window) {
        session_->window->close();
        session_->window.reset();
    }
    finishCycle(std::nullopt);
}

void LinuxSoftwareUpdater::userClosedWindow() {
    if (session_->installing) {
        // The package manager runs on; its outcome is still reported.
        return;
    }
    if (session_->reply) {
        auto* reply = session_->reply;
        session_->reply = nullptr;
        reply->disconnect(session_->context);
        reply->abort();
        reply->deleteLater();
    }
    // The window is gone: drop it later, its own close event is still on the stack.
    if (auto window = std::shared_ptr<SoftwareUpdateUserInterface>(std::move(session_->window))) {
        QTimer::singleShot(0, [window] {});
    }
    if (!session_->cycleFinished) {
        finishCycle(std::nullopt);
    } else {
        endSession();
    }
}

void LinuxSoftwareUpdater::download() {
    auto& item = *session_->item;
    session_->folder =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quillbridge-update-XXXXXX"));
    if (!session_->folder->isValid()) {
        updaterLog().error("No private folder for the download");
        fail(SoftwareUpdateErrorCode::downloadError, downloadFailedText);
        return;
    }
    session_->file = std::make_unique<QFile>(session_->folder->filePath(QStringLiteral("update.deb")));
    if (!session_->file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        updaterLog().error("The download cannot be written");
        fail(SoftwareUpdateErrorCode::downloadError, downloadFailedText);
        return;
    }
    if (session_->window) {
        session_->window->showDownloadProgress(0, item.length);
    }
    QNetworkRequest request(QUrl(QString::fromStdString(item.downloadURL)));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    auto* reply = network_->get(request);
    reply->setParent(session_->context);
    session_->reply = reply;
    std::weak_ptr<Session> weak = session_;
    QObject::connect(reply, &QNetworkReply::readyRead, session_->context, [this, weak, reply] {
        if (auto session = weak.lock(); session && session == session_) {
            if (!appendDownloaded(reply->readAll())) {
                reply->abort();
            }
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, session_->context, [this, weak, reply] {
        if (auto session = weak.lock(); session && session == session_) {
            session_->reply = nullptr;
            downloadFinished(reply);
        }
        reply->deleteLater();
    });
}

bool LinuxSoftwareUpdater::appendDownloaded(const QByteArray& chunk) {
    const auto expected = session_->item->length;
    const auto written = static_cast<std::uint64_t>(session_->file->size());
    // Never more than the feed announced: a longer answer is refused.
    if (written + static_cast<std::uint64_t>(chunk.size()) > expected) {
        session_->downloadExceededLength = true;
        return false;
    }
    if (session_->file->write(chunk) != chunk.size()) {
        session_->downloadWriteFailed = true;
        return false;
    }
    if (session_->window) {
        session_->window->showDownloadProgress(written + static_cast<std::uint64_t>(chunk.size()), expected);
    }
    return true;
}

void LinuxSoftwareUpdater::downloadFinished(QNetworkReply* reply) {
    const auto& item = *session_->item;
    if (reply->error() == QNetworkReply::NoError) {
        appendDownloaded(reply->readAll());
    }
    const bool flushed = session_->file->flush();
    session_->file->close();
    if (session_->downloadExceededLength) {
        updaterLog().error("The update is longer than the feed announced");
        fail(SoftwareUpdateErrorCode::signatureError, signatureFailedText);
        return;
    }
    if (session_->downloadWriteFailed || !flushed) {
        updaterLog().error("The download could not be written");
        fail(SoftwareUpdateErrorCode::downloadError, downloadFailedText);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        updaterLog().error("The update could not be downloaded: ", reply->errorString().toStdString());
        fail(SoftwareUpdateErrorCode::downloadError, downloadFailedText);
        return;
    }
    const auto verified = UpdateArchiveVerifier::verify(session_->file->fileName().toStdString(), item.length,
                                                        item.edSignature, options_.publicKey);
    if (!verified) {
        updaterLog().error("The downloaded update failed its length or signature check");
        fail(SoftwareUpdateErrorCode::signatureError, signatureFailedText);
        return;
    }
    install();
}

void LinuxSoftwareUpdater::install() {
    if (!options_.commandRunner) {
        fail(SoftwareUpdateErrorCode::installationError, installFailedText);
        return;
    }
    session_->installing = true;
    if (session_->window) {
        session_->window->showInstalling();
    }
    std::weak_ptr<Session> weak = session_;
    updaterLog().notice("Installing update ", session_->item->displayVersionString);
    options_.commandRunner->run("pkexec",
                                {"apt-get", "install", "-y", session_->file->fileName().toStdString()},
                                [this, weak](std::optional<int> exitStatus) {
                                    if (auto session = weak.lock(); session && session == session_) {
                                        installFinished(exitStatus);
                                    }
                                });
}

void LinuxSoftwareUpdater::installFinished(std::optional<int> exitStatus) {
    session_->installing = false;
    if (exitStatus == 0) {
        updaterLog().notice("The update was installed; restarting");
        if (session_->window) {
            session_->window->showInstalled();
        }
        session_->folder.reset();
        finishCycle(std::nullopt);
        if (options_.restartHost) {
            options_.restartHost();
        }
        return;
    }
    if (exitStatus == pkexecDismissedStatus) {
        updaterLog().notice("The installation was cancelled");
        fail(SoftwareUpdateErrorCode::installationCanceled, installCanceledText);
        return;
    }
    if (exitStatus) {
        updaterLog().error("The package manager ended with status ", *exitStatus);
    } else {
        updaterLog().error("The package manager could not be run");
    }
    fail(SoftwareUpdateErrorCode::installationError, installFailedText);
}

void LinuxSoftwareUpdater::fail(int code, const std::string& description) {
    const auto error = updateError(code, description);
    if (session_->file) {
        session_->file->close();
    }
    session_->folder.reset();
    if (session_->window) {
        session_->window->showError(description);
    }
    delegate_.updaterDidAbortWithError(error);
    finishCycle(error);
}

void LinuxSoftwareUpdater::finishCycle(const std::optional<SoftwareUpdateError>& error) {
    session_->cycleFinished = true;
    const auto check = session_->check;
    auto session = session_;
    delegate_.updaterDidFinishUpdateCycle(check, error);
    if (session != session_) {
        return;
    }
    if (!session_->window) {
        endSession();
    }
}

void LinuxSoftwareUpdater::endSession() {
    auto session = std::move(session_);
    if (session->context) {
        session->context->deleteLater();
        session->context = nullptr;
    }
    if (session->windowShowsUpdate) {
        delegate_.standardUserDriverWillFinishUpdateSession();
    }
    announceCanCheck();
}

void LinuxSoftwareUpdater::scheduleNextCheck() {
    scheduleTimer_->stop();
    scheduledCheck_.reset();
    if (!started_ || !automaticallyChecksForUpdates()) {
        return;
    }
    const auto now = options_.now();
    auto due = now;
    if (options_.defaults) {
        if (const auto last = options_.defaults->integer(lastCheckTimeKey)) {
            const auto lastCheck = std::chrono::system_clock::time_point(std::chrono::seconds(*last));
            // A last check in the future (a clock set back) counts as now.
            due = std::min(lastCheck, now) + checkInterval;
        }
    }
    scheduledCheck_ = std::max(due, now);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*scheduledCheck_ - now);
    scheduleTimer_->start(std::chrono::milliseconds(
        std::min<std::chrono::milliseconds::rep>(wait.count(), std::numeric_limits<int>::max())));
}

void LinuxSoftwareUpdater::scheduledCheckDue() {
    if (!scheduledCheck_) {
        return;
    }
    if (options_.now() < *scheduledCheck_) {
        // The timer's range is shorter than the wait: wait again.
        scheduleNextCheck();
        return;
    }
    if (options_.defaults) {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(options_.now().time_since_epoch()).count();
        if (!options_.defaults->setInteger(lastCheckTimeKey, seconds)) {
            updaterLog().error("Unable to store the time of the update check");
        }
    }
    if (canCheckForUpdates()) {
        beginSession(SoftwareUpdateCheck::updatesInBackground);
        fetchFeed();
    }
    scheduleNextCheck();
}

}  // namespace quillbridge
