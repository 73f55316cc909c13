#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <xkbcommon/xkbcommon.h>

#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

// One input event as a client window receives it.
struct ReceivedInputEvent {
    enum class Kind { keyPress, keyRelease, buttonPress, buttonRelease, motion };
    Kind kind = Kind::motion;
    std::uint32_t detail = 0;
    std::uint16_t state = 0;
    std::int16_t rootX = 0;
    std::int16_t rootY = 0;
};

// A client window covering the whole screen with the input focus, that records every key, button and
// motion event it receives. Its own connection, separate from the code under test.
class X11TestWindow {
public:
    // Nothing when no display can be reached.
    static std::unique_ptr<X11TestWindow> open();
    ~X11TestWindow();

    // Waits (at most `bound`) until the predicate holds for the events received so far.
    bool waitFor(const std::function<bool(const std::vector<ReceivedInputEvent>&)>& predicate,
                 std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Reads what is already queued after a round trip to the server.
    const std::vector<ReceivedInputEvent>& drain();
    void clear() { events_.clear(); }

    // The keysym of a key event, with the keyboard's mapping at the time of the call.
    xkb_keysym_t keysym(const ReceivedInputEvent& event);
    // The text typed by the key presses received (Return as a line feed).
    std::string typedText();

    XcbConnection& connection() { return *connection_; }

private:
    explicit X11TestWindow(std::unique_ptr<XcbConnection> connection);
    void readQueued();

    std::unique_ptr<XcbConnection> connection_;
    xcb_window_t window_ = 0;
    std::vector<ReceivedInputEvent> events_;
};

}  // namespace quillbridge
