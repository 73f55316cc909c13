#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "session/DisplayWaker.hpp"

namespace quillbridge {

class XcbConnection;

// Wakes the X display as user input would: resets the screen saver and, where the server has DPMS, forces
// the monitors on. Without a reachable X display it does nothing and says so (noDisplay). Connects on first
// use and again after the connection broke. Thread-safe.
class XcbDisplayWaker final : public DisplayWaker {
public:
    // The display to wake (":1"); empty: $DISPLAY.
    explicit XcbDisplayWaker(std::string displayName = {});
    ~XcbDisplayWaker() override;

    Outcome wakeDisplay(std::string_view activityName) override;

private:
    std::string displayName_;
    std::mutex mutex_;
    std::unique_ptr<XcbConnection> connection_;
};

}  // namespace quillbridge
