#pragma once

#include <string>

#include "wire/KeyboardEventMessage.hpp"
#include "wire/KeyboardTypePreference.hpp"
#include "wire/MouseButton.hpp"
#include "wire/MouseButtonPhase.hpp"
#include "wire/MouseScrollMomentumPhase.hpp"
#include "wire/MouseScrollPhase.hpp"
#include "wire/RemoteSystemAction.hpp"

namespace quillbridge {

// Where the session sends the headset's mouse, keyboard, text and system-action commands: the host's
// remote-input controllers. Called on the session's strand; every call returns promptly (the controllers
// queue their own work).
class RemoteInputSink {
public:
    virtual ~RemoteInputSink() = default;

    virtual void handleMouseButton(MouseButton button, MouseButtonPhase phase) = 0;
    virtual void moveMouseBy(double deltaX, double deltaY) = 0;
    virtual void moveMouseTo(double normalizedX, double normalizedY) = 0;
    // One continuous (pixel) scroll-wheel event.
    virtual void scroll(double deltaX, double deltaY, MouseScrollPhase phase,
                        MouseScrollMomentumPhase momentumPhase) = 0;
    virtual void handleKey(RemoteKeyboardKey key, KeyboardEventPhase phase) = 0;
    // The keyboard type the headset asked for (the keyboard type of the posted key events).
    virtual void setKeyboardTypePreference(KeyboardTypePreference) {}
    virtual void typeText(const std::string& text) = 0;
    virtual void performSystemAction(RemoteSystemAction action) = 0;
    // The session ended: release a held mouse button and every held key.
    virtual void releaseAll() = 0;
};

}  // namespace quillbridge
