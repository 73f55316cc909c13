#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capture/DisplayProvider.hpp"
#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

// The X server's RandR outputs as capture displays: every connected output with a CRTC, its CRTC's
// rectangle, the refresh rate of its mode, built-in panels (eDP, LVDS, DSI connectors or a "Panel"
// connector type), its monitor name and a UUID from its EDID (or from its connector's name without one).
// A thread of its own watches RandR's change events and calls the change handler.
class RandRDisplayProvider final : public DisplayProvider {
public:
    // Nothing when the X server cannot be reached or has no RandR 1.3.
    static std::unique_ptr<RandRDisplayProvider> open(const std::string& displayName = {});
    ~RandRDisplayProvider() override;

    std::expected<std::vector<CaptureDisplay>, CaptureStreamFailure> availableDisplays() override;
    void setDisplaysChangedHandler(std::function<void()> handler) override;

private:
    RandRDisplayProvider(std::unique_ptr<XcbConnection> connection, std::uint8_t eventBase,
                         int wakeDescriptor);

    void watch();

    std::unique_ptr<XcbConnection> connection_;
    std::uint8_t eventBase_;
    int wakeDescriptor_;
    std::mutex queryMutex_;
    std::mutex handlerMutex_;
    std::function<void()> handler_;
    std::thread watcher_;
};

}  // namespace quillbridge
