#pragma once

#include <string>

#include "core/Logger.hpp"
#include "input/RemoteKeyboardController.hpp"
#include "input/RemoteMouseController.hpp"
#include "input/RemoteSystemActionController.hpp"
#include "session/RemoteInputSink.hpp"

namespace quillbridge {

// The session's remote input carried out by the host's controllers. Mouse calls and action clicks run on the
// caller (the session's strand); the keyboard controller enters its own event queue for key events, chords
// and text, so the caller waits there and never calls from that queue; media keys and the desktop services
// of system actions run on the system-action controller's queue without the caller waiting. The
// controllers are owned by the host and outlive the sink.
class RemoteInputControllers final : public RemoteInputSink {
public:
    RemoteInputControllers(RemoteMouseController& mouse, RemoteKeyboardController& keyboard,
                           RemoteSystemActionController& systemActions)
        : mouse_(mouse), keyboard_(keyboard), systemActions_(systemActions) {}

    void handleMouseButton(MouseButton button, MouseButtonPhase phase) override;
    void moveMouseBy(double deltaX, double deltaY) override;
    void moveMouseTo(double normalizedX, double normalizedY) override;
    void scroll(double deltaX, double deltaY, MouseScrollPhase phase,
                MouseScrollMomentumPhase momentumPhase) override;
    void handleKey(RemoteKeyboardKey key, KeyboardEventPhase phase) override;
    void setKeyboardTypePreference(KeyboardTypePreference preference) override;
    void typeText(const std::string& text) override;
    void performSystemAction(RemoteSystemAction action) override;
    void releaseAll() override;
    void setCapturedDisplayFrame(const DisplayRect& frame) override { mouse_.capturedDisplayFrame = frame; }

    RemoteMouseController& mouse() { return mouse_; }
    RemoteKeyboardController& keyboard() { return keyboard_; }

private:
    RemoteMouseController& mouse_;
    RemoteKeyboardController& keyboard_;
    RemoteSystemActionController& systemActions_;
};

}  // namespace quillbridge
