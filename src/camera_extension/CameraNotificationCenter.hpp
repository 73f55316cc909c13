#pragma once

#include <functional>
#include <string_view>

namespace quillbridge {

// System-wide notifications by name, without payload, delivered at once (the camera's demand notifications;
// names in virtual_devices/CameraDeviceIdentifiers.hpp). Used on the program's main thread; handlers are
// called there too.
class CameraNotificationCenter {
public:
    virtual ~CameraNotificationCenter() = default;

    virtual void post(std::string_view name) = 0;
    // Calls the handler for every notification of that name until removeObserver(name); replaces an earlier
    // handler of the same name.
    virtual void observe(std::string_view name, std::function<void()> handler) = 0;
    virtual void removeObserver(std::string_view name) = 0;
};

}  // namespace quillbridge
