#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "camera_extension/CameraNotificationCenter.hpp"

namespace quillbridge {

// Records posted notification names; deliver() calls the observer of a name, as the bus would.
class FakeCameraNotificationCenter final : public CameraNotificationCenter {
public:
    void post(std::string_view name) override { posted.emplace_back(name); }
    void observe(std::string_view name, std::function<void()> handler) override {
        observers[std::string(name)] = std::move(handler);
    }
    void removeObserver(std::string_view name) override { observers.erase(std::string(name)); }

    void deliver(std::string_view name) {
        auto observer = observers.find(std::string(name));
        if (observer != observers.end())
            observer->second();
    }

    std::vector<std::string> posted;
    std::map<std::string, std::function<void()>> observers;
};

}  // namespace quillbridge
