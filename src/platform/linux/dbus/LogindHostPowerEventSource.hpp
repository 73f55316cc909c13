#pragma once

#include <atomic>
#include <memory>
#include <string>

#include <asio/any_io_executor.hpp>

#include "capture/HostPowerEventSource.hpp"
#include "core/Logger.hpp"
#include "platform/linux/dbus/SdBusEventLoop.hpp"

namespace quillbridge {

// System sleep and wake and the user session's switches, from logind on the system bus. While it runs it
// holds a delay inhibitor for sleep: a will-sleep event carries it, and releasing the token lets the system
// go to sleep; on wake a new inhibitor is taken. The session is the one named (XDG_SESSION_ID when empty),
// else the caller's own.
class LogindHostPowerEventSource final : public HostPowerEventSource {
public:
    LogindHostPowerEventSource(asio::any_io_executor executor, std::string sessionID = {});
    ~LogindHostPowerEventSource() override;

    bool start(Handler handler) override;
    void stop() override;

    // Whether a delay inhibitor is held now.
    bool holdsSleepDelay() const { return inhibitorFd_->load() >= 0; }

private:
    void takeSleepDelay();
    void post(HostPowerEvent event, SleepDelayRelease sleepDelay);
    static int prepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int sessionPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);

    asio::any_io_executor executor_;
    std::string sessionID_;
    std::string sessionPath_;
    Logger logger_{"ScreenRecorder"};
    std::shared_ptr<Handler> handler_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<int>> inhibitorFd_ = std::make_shared<std::atomic<int>>(-1);
    bool sessionActive_ = true;
    SdBusSlotPointer sleepSlot_;
    SdBusSlotPointer sessionSlot_;
    std::unique_ptr<SdBusEventLoop> loop_;
};

}  // namespace quillbridge
