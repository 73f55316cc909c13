#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <asio/any_io_executor.hpp>

#include "capture/DisplayConfigurationObserver.hpp"
#include "core/Logger.hpp"
#include "platform/linux/x11/XcbEventLoop.hpp"

namespace quillbridge {

// Display changes from RandR: every screen, output and CRTC change notification reports a change of the
// display configuration. An external display is a connected output whose connector is not a built-in panel.
class RandRDisplayChangeObserver final : public DisplayConfigurationObserver {
public:
    RandRDisplayChangeObserver(asio::any_io_executor executor, std::string displayName = {})
        : executor_(std::move(executor)), displayName_(std::move(displayName)) {}
    ~RandRDisplayChangeObserver() override;

    bool isExternalDisplayOnline() override;
    bool start(std::function<void()> displayConfigurationChanged) override;
    void stop() override;

    // Whether a connector name belongs to a panel built into the machine ("eDP-1", "LVDS1", "DSI-1").
    static bool isBuiltInConnectorName(std::string_view name);

private:
    asio::any_io_executor executor_;
    std::string displayName_;
    Logger logger_{"ScreenRecorder"};
    std::shared_ptr<std::function<void()>> handler_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(false);
    std::uint8_t randrEvent_ = 0;
    std::unique_ptr<XcbEventLoop> loop_;
};

}  // namespace quillbridge
