#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quillbridge {

// A notification's user info: text keys to text values.
using HostNotificationUserInfo = std::map<std::string, std::string>;

// One notification to show at once.
struct HostNotificationRequest {
    // Posting again with the same identifier replaces the earlier notification.
    std::string identifier;
    std::string title;
    std::string body;
    // The desktop's default notification sound, or none.
    bool playsDefaultSound = false;
    HostNotificationUserInfo userInfo;

    bool operator==(const HostNotificationRequest&) const = default;
};

// How a notification shows while the host is the frontmost application.
struct HostNotificationPresentationOptions {
    bool banner = false;
    bool sound = false;
    bool list = false;
    bool badge = false;

    bool operator==(const HostNotificationPresentationOptions&) const = default;
};

// What the notification centre asks of the host.
class HostNotificationCenterDelegate {
public:
    virtual ~HostNotificationCenterDelegate() = default;

    // A notification arrives while the host is frontmost: how to show it.
    virtual void willPresentNotification(
        const HostNotificationUserInfo& userInfo,
        std::function<void(HostNotificationPresentationOptions)> completion) = 0;
    // The user opened (clicked) a notification; call the completion once handled.
    virtual void didReceiveNotificationResponse(const HostNotificationUserInfo& userInfo,
                                                std::function<void()> completion) = 0;
};

// The desktop's user-notification service as the host uses it. Answers and delegate calls arrive on the main
// actor.
class HostNotificationCenter {
public:
    virtual ~HostNotificationCenter() = default;

    // The delegate is not owned; set nothing before it goes.
    virtual void setDelegate(HostNotificationCenterDelegate* delegate) = 0;
    // Asks to show alerts and play sounds; the answer and any error come to the completion.
    virtual void requestAuthorization(bool alert, bool sound,
                                      std::function<void(bool granted)> completion) = 0;
    // Shows the notification at once (no trigger); failures are not reported.
    virtual void add(HostNotificationRequest request) = 0;
    virtual void removeDeliveredNotifications(const std::vector<std::string>& identifiers) = 0;
    virtual void removePendingNotificationRequests(const std::vector<std::string>& identifiers) = 0;
    // The identifiers of the notifications on screen, and of those waiting to be shown.
    virtual void getDeliveredNotifications(std::function<void(std::vector<std::string>)> completion) = 0;
    virtual void getPendingNotificationRequests(std::function<void(std::vector<std::string>)> completion) = 0;
};

}  // namespace quillbridge
