#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <asio/any_io_executor.hpp>

#include "capture/HostPowerEventSource.hpp"
#include "core/Logger.hpp"
#include "platform/linux/x11/XcbEventLoop.hpp"

namespace quillbridge {

// Screen sleep and wake on X11: the screens sleep while the screen saver is on (MIT-SCREEN-SAVER, announced
// by the server) or display power management has turned the monitors off (DPMS, which announces nothing and
// is read every two seconds). Reports screensDidSleep and screensDidWake on each change of the two combined.
class XScreenSaverPowerEventSource final : public HostPowerEventSource {
public:
    XScreenSaverPowerEventSource(asio::any_io_executor executor, std::string displayName = {})
        : executor_(std::move(executor)), displayName_(std::move(displayName)) {}
    ~XScreenSaverPowerEventSource() override;

    bool start(Handler handler) override;
    void stop() override;

private:
    void update();
    bool monitorsOff();

    asio::any_io_executor executor_;
    std::string displayName_;
    Logger logger_{"ScreenRecorder"};
    std::shared_ptr<Handler> handler_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(false);
    // On the loop's thread only.
    std::uint8_t screenSaverEvent_ = 0;
    bool hasDpms_ = false;
    bool saverOn_ = false;
    bool asleep_ = false;
    std::unique_ptr<XcbEventLoop> loop_;
};

}  // namespace quillbridge
