#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include "app/HostNotificationCenter.hpp"
#include "core/Logger.hpp"

namespace quillbridge {

// The host's notifications on the desktop's notification service (org.freedesktop.Notifications on the
// session bus). Every call is asynchronous on the GUI thread's event loop, where the replies and the
// service's signals arrive too; nothing waits on the bus.
//
// A request's identifier maps to the service's notification: posting an identifier again replaces the
// earlier notification in place (replaces_id); removing it closes it (CloseNotification). A click (the
// "default" action) reaches the delegate with the request's user info. The service has no authorisation
// step and no foreground presentation: authorisation is always granted and the delegate's presentation
// answer is never asked for. Notifications the service still shows from an earlier run of the host cannot be
// listed. Without a service on the bus the host logs once and carries on.
class FreedesktopNotificationCenter final : public QObject, public HostNotificationCenter {
    Q_OBJECT

public:
    static constexpr const char* serviceName = "org.freedesktop.Notifications";
    static constexpr const char* objectPath = "/org/freedesktop/Notifications";
    static constexpr const char* interfaceName = "org.freedesktop.Notifications";
    // The action the service invokes when the notification itself is clicked.
    static constexpr const char* defaultActionKey = "default";

    explicit FreedesktopNotificationCenter(QDBusConnection bus = QDBusConnection::sessionBus(),
                                           QObject* parent = nullptr);
    ~FreedesktopNotificationCenter() override;

    void setDelegate(HostNotificationCenterDelegate* delegate) override { delegate_ = delegate; }
    void requestAuthorization(bool alert, bool sound, std::function<void(bool granted)> completion) override;
    void add(HostNotificationRequest request) override;
    void removeDeliveredNotifications(const std::vector<std::string>& identifiers) override;
    void removePendingNotificationRequests(const std::vector<std::string>& identifiers) override;
    void getDeliveredNotifications(std::function<void(std::vector<std::string>)> completion) override;
    void getPendingNotificationRequests(std::function<void(std::vector<std::string>)> completion) override;

private Q_SLOTS:
    void handleActionInvoked(uint notificationID, const QString& actionKey);
    void handleNotificationClosed(uint notificationID, uint reason);

private:
    // One posted request: waiting for the service's answer (pending) or shown (delivered).
    struct Posted {
        std::uint64_t generation = 0;
        std::optional<std::uint32_t> notificationID;
        // The service's notification this one replaces.
        std::uint32_t replacesID = 0;
        HostNotificationUserInfo userInfo;
    };

    void notifyAnswered(const std::string& identifier, std::uint64_t generation, std::uint32_t replacesID,
                        std::optional<std::uint32_t> notificationID, const QString& error);
    void close(std::uint32_t notificationID);
    void withdraw(const std::string& identifier, bool delivered);
    void reportUnavailable(const QString& error);

    Logger logger_{"HostNotifications"};
    QDBusConnection bus_;
    HostNotificationCenterDelegate* delegate_ = nullptr;
    std::map<std::string, Posted> posted_;
    // The service's last notification of each identifier, which the next post of it replaces.
    std::map<std::string, std::uint32_t> lastNotificationIDs_;
    std::uint64_t nextGeneration_ = 1;
    bool unavailableLogged_ = false;
    // Until the service says otherwise, bodies are escaped as if it read markup.
    bool bodyMarkup_ = true;
};

}  // namespace quillbridge
