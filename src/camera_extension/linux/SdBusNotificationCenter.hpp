#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <pipewire/loop.h>
#include <systemd/sd-bus.h>

#include "camera_extension/CameraExtensionLogger.hpp"
#include "camera_extension/CameraNotificationCenter.hpp"

namespace quillbridge {

// The camera's notifications as signals on the session bus (the names and the signal in
// virtual_devices/CameraDeviceIdentifiers.hpp), dispatched on the program's PipeWire loop: no thread of its
// own. When the bus cannot be reached, or the connection fails later (logged), posting and observing do
// nothing.
class SdBusNotificationCenter final : public CameraNotificationCenter {
public:
    SdBusNotificationCenter(pw_loop& loop, CameraExtensionLogger logger);
    ~SdBusNotificationCenter() override;
    SdBusNotificationCenter(const SdBusNotificationCenter&) = delete;
    SdBusNotificationCenter& operator=(const SdBusNotificationCenter&) = delete;

    // Why the session bus could not be reached, when it could not.
    const std::optional<std::string>& connectionFailure() const { return connectionFailure_; }

    void post(std::string_view name) override;
    void observe(std::string_view name, std::function<void()> handler) override;
    void removeObserver(std::string_view name) override;

private:
    struct Observer {
        std::function<void()> handler;
        sd_bus_slot* match = nullptr;
    };

    static int onSignal(sd_bus_message* message, void* data, sd_bus_error* error);
    static void onReadyToProcess(void* data, int fd, std::uint32_t mask);
    static void onTimeout(void* data, std::uint64_t expirations);
    void process();
    void updateWatch();
    void fail(std::string_view operation, int result);
    void close();

    pw_loop& loop_;
    CameraExtensionLogger logger_;
    sd_bus* bus_ = nullptr;
    spa_source* io_ = nullptr;
    spa_source* timer_ = nullptr;
    std::optional<std::string> connectionFailure_;
    std::map<std::string, Observer, std::less<>> observers_;
};

}  // namespace quillbridge
