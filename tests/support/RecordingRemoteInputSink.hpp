#pragma once

#include <string>
#include <vector>

#include "session/RemoteInputSink.hpp"

namespace quillbridge {

// Records what the session hands to the remote-input controllers, in order, as short text events
// ("click primary pressed", "scroll 0 0 none end", ...), and scrolls with their values.
class RecordingRemoteInputSink final : public RemoteInputSink {
public:
    struct Scroll {
        double deltaX = 0;
        double deltaY = 0;
        MouseScrollPhase phase = MouseScrollPhase::none;
        MouseScrollMomentumPhase momentumPhase = MouseScrollMomentumPhase::none;
        bool operator==(const Scroll&) const = default;
    };

    void handleMouseButton(MouseButton, MouseButtonPhase) override { events.push_back("mouseButton"); }
    void moveMouseBy(double, double) override { events.push_back("moveBy"); }
    void moveMouseTo(double, double) override { events.push_back("moveTo"); }
    void scroll(double deltaX, double deltaY, MouseScrollPhase phase,
                MouseScrollMomentumPhase momentumPhase) override {
        events.push_back("scroll");
        scrolls.push_back({deltaX, deltaY, phase, momentumPhase});
    }
    void handleKey(RemoteKeyboardKey, KeyboardEventPhase) override { events.push_back("key"); }
    void setKeyboardTypePreference(KeyboardTypePreference) override { events.push_back("keyboardType"); }
    void typeText(const std::string& text) override { events.push_back("text:" + text); }
    void performSystemAction(RemoteSystemAction) override { events.push_back("systemAction"); }
    void releaseAll() override { events.push_back("releaseAll"); }

    std::vector<std::string> events;
    std::vector<Scroll> scrolls;
};

}  // namespace quillbridge
