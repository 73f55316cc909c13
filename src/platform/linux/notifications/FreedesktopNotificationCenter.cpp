#include "platform/linux/notifications/FreedesktopNotificationCenter.hpp"

#include <utility>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

namespace quillbridge {
namespace {

// How the host names itself to the service, and its icon (installed in the hicolor theme).
const QString applicationName = QStringLiteral("Quillbridge Host");
const QString applicationIcon = QStringLiteral("quillbridge-host");
const QString desktopEntry = QStringLiteral("com.mossharbor.quillbridgehost");

QDBusMessage methodCall(const char* method) {
    return QDBusMessage::createMethodCall(QString::fromUtf8(FreedesktopNotificationCenter::serviceName),
                                          QString::fromUtf8(FreedesktopNotificationCenter::objectPath),
                                          QString::fromUtf8(FreedesktopNotificationCenter::interfaceName),
                                          QString::fromUtf8(method));
}

}  // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected()) {
        reportUnavailable(QStringLiteral("no session bus"));
        return;
    }
    const QString service = QString::fromUtf8(serviceName);
    const QString path = QString::fromUtf8(objectPath);
    const QString interface = QString::fromUtf8(interfaceName);
    bus_.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(handleActionInvoked(uint, QString)));
    bus_.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(handleNotificationClosed(uint, uint)));
    // Whether the service reads markup in bodies, where a headset's name must not be taken for markup.
    auto* capabilities = new QDBusPendingCallWatcher(bus_.asyncCall(methodCall("GetCapabilities")), this);
    QObject::connect(capabilities, &QDBusPendingCallWatcher::finished, this,
                     [this](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const QDBusPendingReply<QStringList> reply = *call;
                         if (!reply.isError()) {
                             bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
                         }
                     });
}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter() {
    if (!bus_.isConnected()) {
        return;
    }
    const QString service = QString::fromUtf8(serviceName);
    const QString path = QString::fromUtf8(objectPath);
    const QString interface = QString::fromUtf8(interfaceName);
    bus_.disconnect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                    SLOT(handleActionInvoked(uint, QString)));
    bus_.disconnect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                    SLOT(handleNotificationClosed(uint, uint)));
}

void FreedesktopNotificationCenter::requestAuthorization(bool, bool, std::function<void(bool)> completion) {
    // The desktop shows every application's notifications unless the user turned them off there.
    if (completion) {
        completion(true);
    }
}

void FreedesktopNotificationCenter::add(HostNotificationRequest request) {
    const std::uint64_t generation = nextGeneration_++;
    const auto last = lastNotificationIDs_.find(request.identifier);
    const std::uint32_t replacesID = last == lastNotificationIDs_.end() ? 0 : last->second;
    if (auto earlier = posted_.find(request.identifier); earlier != posted_.end() &&
                                                         earlier->second.notificationID &&
                                                         *earlier->second.notificationID != replacesID) {
        close(*earlier->second.notificationID);
    }
    posted_[request.identifier] = Posted{generation, std::nullopt, replacesID, request.userInfo};
    if (!bus_.isConnected()) {
        notifyAnswered(request.identifier, generation, replacesID, std::nullopt,
                       QStringLiteral("no session bus"));
        return;
    }

    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    if (request.playsDefaultSound) {
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    } else {
        hints.insert(QStringLiteral("suppress-sound"), true);
    }
    auto message = methodCall("Notify");
    // The body is shown as it stands, also where the service reads markup in it.
    const QString body = QString::fromStdString(request.body);
    message << applicationName << static_cast<uint>(replacesID) << applicationIcon
            << QString::fromStdString(request.title) << (bodyMarkup_ ? body.toHtmlEscaped() : body)
            << QStringList{QString::fromUtf8(defaultActionKey), QStringLiteral("Open")} << hints
            << static_cast<int>(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, this,
        [this, identifier = request.identifier, generation, replacesID](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<uint> reply = *call;
            if (reply.isError()) {
                notifyAnswered(identifier, generation, replacesID, std::nullopt, reply.error().message());
            } else {
                notifyAnswered(identifier, generation, replacesID, reply.value(), QString());
            }
        });
}

void FreedesktopNotificationCenter::notifyAnswered(const std::string& identifier, std::uint64_t generation,
                                                   std::uint32_t replacesID,
                                                   std::optional<std::uint32_t> notificationID,
                                                   const QString& error) {
    auto current = posted_.find(identifier);
    const bool isCurrent = current != posted_.end() && current->second.generation == generation;
    if (!notificationID) {
        reportUnavailable(error);
        if (isCurrent) {
            posted_.erase(current);
        }
        return;
    }
    unavailableLogged_ = false;
    if (!isCurrent) {
        // Withdrawn, or posted again, while the service answered: the answer is no longer wanted, unless the
        // newer post replaces this very notification.
        const bool replacedByNewer =
            current != posted_.end() && current->second.replacesID == *notificationID;
        if (!replacedByNewer) {
            close(*notificationID);
        }
        if (current == posted_.end() && lastNotificationIDs_[identifier] == replacesID) {
            lastNotificationIDs_[identifier] = *notificationID;
        }
        return;
    }
    current->second.notificationID = notificationID;
    lastNotificationIDs_[identifier] = *notificationID;
}

void FreedesktopNotificationCenter::removeDeliveredNotifications(
    const std::vector<std::string>& identifiers) {
    for (const auto& identifier : identifiers) {
        withdraw(identifier, true);
    }
}

void FreedesktopNotificationCenter::removePendingNotificationRequests(
    const std::vector<std::string>& identifiers) {
    for (const auto& identifier : identifiers) {
        withdraw(identifier, false);
    }
}

void FreedesktopNotificationCenter::withdraw(const std::string& identifier, bool delivered) {
    auto found = posted_.find(identifier);
    if (found == posted_.end() || found->second.notificationID.has_value() != delivered) {
        return;
    }
    if (found->second.notificationID) {
        close(*found->second.notificationID);
    }
    // A post still waiting for its answer is closed once the answer comes.
    posted_.erase(found);
}

void FreedesktopNotificationCenter::getDeliveredNotifications(
    std::function<void(std::vector<std::string>)> completion) {
    std::vector<std::string> identifiers;
    for (const auto& [identifier, posted] : posted_) {
        if (posted.notificationID) {
            identifiers.push_back(identifier);
        }
    }
    completion(std::move(identifiers));
}

void FreedesktopNotificationCenter::getPendingNotificationRequests(
    std::function<void(std::vector<std::string>)> completion) {
    std::vector<std::string> identifiers;
    for (const auto& [identifier, posted] : posted_) {
        if (!posted.notificationID) {
            identifiers.push_back(identifier);
        }
    }
    completion(std::move(identifiers));
}

void FreedesktopNotificationCenter::close(std::uint32_t notificationID) {
    if (!bus_.isConnected()) {
        return;
    }
    auto message = methodCall("CloseNotification");
    message << static_cast<uint>(notificationID);
    // Closing one that is already gone is harmless; the answer is not needed.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
}

void FreedesktopNotificationCenter::handleActionInvoked(uint notificationID, const QString& actionKey) {
    if (actionKey != QString::fromUtf8(defaultActionKey) || delegate_ == nullptr) {
        return;
    }
    for (const auto& [identifier, posted] : posted_) {
        if (posted.notificationID == notificationID) {
            delegate_->didReceiveNotificationResponse(posted.userInfo, [] {});
            return;
        }
    }
}

void FreedesktopNotificationCenter::handleNotificationClosed(uint notificationID, uint) {
    // Dismissed, expired or closed on request: no longer shown.
    std::erase_if(posted_, [notificationID](const auto& entry) {
        return entry.second.notificationID == notificationID;
    });
}

void FreedesktopNotificationCenter::reportUnavailable(const QString& error) {
    if (unavailableLogged_) {
        return;
    }
    unavailableLogged_ = true;
    logger_.notice("No notification service answers on the session bus (", error.toStdString(),
                   "); the host's notifications are not shown");
}

}  // namespace quillbridge
