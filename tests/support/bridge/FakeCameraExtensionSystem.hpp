#pragma once

// Stand-ins for what the camera controller asks of the system: the extension manager (requests are recorded;
// the test answers them by calling the controller's delegate operations), the device registry, the demand
// notifications and the restart alert. Used on the test's thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/CameraDemandNotificationCenter.hpp"
#include "bridge/CameraDeviceRegistry.hpp"
#include "bridge/CameraExtensionManager.hpp"
#include "bridge/CameraRestartAlertPresenter.hpp"

namespace quillbridge {

class FakeCameraExtensionManager final : public CameraExtensionManager {
public:
    enum class Kind { activation, properties };
    struct Request {
        CameraExtensionRequestID id = 0;
        Kind kind = Kind::activation;
    };

    CameraExtensionRequestID submitActivationRequest(std::weak_ptr<CameraExtensionRequestDelegate>) override {
        requests.push_back({++lastID, Kind::activation});
        return lastID;
    }
    CameraExtensionRequestID submitPropertiesRequest(std::weak_ptr<CameraExtensionRequestDelegate>) override {
        requests.push_back({++lastID, Kind::properties});
        return lastID;
    }

    int count(Kind kind) const {
        int total = 0;
        for (const auto& request : requests)
            total += request.kind == kind ? 1 : 0;
        return total;
    }
    CameraExtensionRequestID last(Kind kind) const {
        for (auto request = requests.rbegin(); request != requests.rend(); ++request) {
            if (request->kind == kind)
                return request->id;
        }
        return 0;
    }

    CameraExtensionRequestID lastID = 0;
    std::vector<Request> requests;
};

class FakeCameraDeviceRegistry final : public CameraDeviceRegistry {
public:
    asio::awaitable<bool> containsDevice(std::string deviceUID) override {
        lookedUp.push_back(std::move(deviceUID));
        co_return int(lookedUp.size()) >= foundFromLookup&& foundFromLookup > 0;
    }

    // The look-up (counted from 1) from which the device is found; 0 for never.
    int foundFromLookup = 1;
    std::vector<std::string> lookedUp;
};

class FakeCameraDemandNotificationCenter final : public CameraDemandNotificationCenter {
public:
    void post(std::string_view name) override { posted.emplace_back(name); }
    void setObserver(Observer newObserver) override { observer = std::move(newObserver); }

    std::vector<std::string> posted;
    Observer observer;
};

class FakeCameraRestartAlertPresenter final : public CameraRestartAlertPresenter {
public:
    void presentWarning(std::string_view message, std::string_view informativeText,
                        std::string_view buttonTitle) override {
        messages.emplace_back(message);
        lastInformativeText = informativeText;
        lastButtonTitle = buttonTitle;
    }

    std::vector<std::string> messages;
    std::string lastInformativeText;
    std::string lastButtonTitle;
};

}  // namespace quillbridge
