#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include <asio/any_io_executor.hpp>

#include "capture/LidStateObserver.hpp"
#include "core/Logger.hpp"
#include "platform/linux/dbus/SdBusEventLoop.hpp"

namespace quillbridge {

// The lid from UPower's LidIsClosed on the system bus; open when UPower or the property is missing.
class UPowerLidStateObserver final : public LidStateObserver {
public:
    explicit UPowerLidStateObserver(asio::any_io_executor executor) : executor_(std::move(executor)) {}
    ~UPowerLidStateObserver() override;

    // While started, the state last reported; otherwise UPower is asked.
    bool isLidClosed() override;
    bool start(std::function<void()> lidStateChanged) override;
    void stop() override;

private:
    static std::optional<bool> readLidIsClosed(sd_bus* bus);
    static int propertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);

    asio::any_io_executor executor_;
    Logger logger_{"ScreenRecorder"};
    std::shared_ptr<std::function<void()>> handler_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> lidClosed_{false};
    SdBusSlotPointer slot_;
    std::unique_ptr<SdBusEventLoop> loop_;
};

}  // namespace quillbridge
