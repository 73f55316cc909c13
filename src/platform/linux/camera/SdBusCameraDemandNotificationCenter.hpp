#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/CameraDemandNotificationCenter.hpp"
#include "core/Logger.hpp"
#include "platform/linux/dbus/SdBusEventLoop.hpp"

namespace quillbridge {

// The camera program's notifications as signals on the session bus (see CameraDeviceIdentifiers.hpp), on a
// connection and thread of its own. Without a session bus posting and observing do nothing (logged once).
class SdBusCameraDemandNotificationCenter final : public CameraDemandNotificationCenter {
public:
    SdBusCameraDemandNotificationCenter();
    ~SdBusCameraDemandNotificationCenter() override;

    bool isConnected() const { return loop_ != nullptr && loop_->isRunning(); }

    void post(std::string_view name) override;
    void setObserver(Observer observer) override;

private:
    static int onSignal(sd_bus_message* message, void* data, sd_bus_error* error);

    Logger logger_{"PersonaCameraExtensionActivation"};
    std::unique_ptr<SdBusEventLoop> loop_;
    SdBusSlotPointer match_;
    std::mutex mutex_;
    Observer observer_;
};

}  // namespace quillbridge
