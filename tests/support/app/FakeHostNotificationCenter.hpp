#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/HostNotificationCenter.hpp"

namespace quillbridge {

// An in-memory notification centre: what is on screen and waiting, every call in order, and answers to the
// identifier queries given at once (or held back until the test answers them).
class FakeHostNotificationCenter final : public HostNotificationCenter {
public:
    void setDelegate(HostNotificationCenterDelegate* newDelegate) override { delegate = newDelegate; }

    void requestAuthorization(bool alert, bool sound, std::function<void(bool)> completion) override {
        authorizationRequests.push_back({alert, sound});
        completion(grantsAuthorization);
    }

    void add(HostNotificationRequest request) override {
        calls.push_back("add " + request.identifier);
        added.push_back(request);
        std::erase_if(delivered, [&](const auto& shown) { return shown.identifier == request.identifier; });
        delivered.push_back(std::move(request));
    }

    void removeDeliveredNotifications(const std::vector<std::string>& identifiers) override {
        for (const auto& identifier : identifiers) {
            calls.push_back("removeDelivered " + identifier);
            std::erase_if(delivered, [&](const auto& shown) { return shown.identifier == identifier; });
        }
    }

    void removePendingNotificationRequests(const std::vector<std::string>& identifiers) override {
        for (const auto& identifier : identifiers) {
            calls.push_back("removePending " + identifier);
            std::erase(pending, identifier);
        }
    }

    void getDeliveredNotifications(std::function<void(std::vector<std::string>)> completion) override {
        std::vector<std::string> identifiers;
        for (const auto& shown : delivered) {
            identifiers.push_back(shown.identifier);
        }
        completion(std::move(identifiers));
    }

    void getPendingNotificationRequests(std::function<void(std::vector<std::string>)> completion) override {
        completion(pending);
    }

    std::vector<std::string> deliveredIdentifiers() const {
        std::vector<std::string> identifiers;
        for (const auto& shown : delivered) {
            identifiers.push_back(shown.identifier);
        }
        return identifiers;
    }

    // What the desktop would do on a click: ask the delegate.
    void click(
        const HostNotificationUserInfo& userInfo, std::function<void()> completion = [] {}) {
        delegate->didReceiveNotificationResponse(userInfo, std::move(completion));
    }

    HostNotificationCenterDelegate* delegate = nullptr;
    bool grantsAuthorization = true;
    std::vector<std::pair<bool, bool>> authorizationRequests;
    std::vector<HostNotificationRequest> added;
    std::vector<HostNotificationRequest> delivered;
    std::vector<std::string> pending;
    std::vector<std::string> calls;
};

}  // namespace quillbridge
