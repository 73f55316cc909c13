#include "session/RemoteInputControllers.hpp"

namespace quillbridge {

void RemoteInputControllers::handleMouseButton(MouseButton button, MouseButtonPhase phase) {
    mouse_.handleButton(button, phase);
}

void RemoteInputControllers::moveMouseBy(double deltaX, double deltaY) {
    mouse_.moveBy(deltaX, deltaY);
}

void RemoteInputControllers::moveMouseTo(double normalizedX, double normalizedY) {
    mouse_.moveTo(normalizedX, normalizedY);
}

void RemoteInputControllers::scroll(double deltaX, double deltaY, MouseScrollPhase phase,
                                    MouseScrollMomentumPhase momentumPhase) {
    mouse_.scroll(deltaX, deltaY, phase, momentumPhase);
}

void RemoteInputControllers::handleKey(RemoteKeyboardKey key, KeyboardEventPhase phase) {
    // Runs synchronously on the keyboard's event queue.
    keyboard_.handleKey(key, phase);
}

void RemoteInputControllers::setKeyboardTypePreference(KeyboardTypePreference preference) {
    keyboard_.setKeyboardTypePreference(preference);
}

void RemoteInputControllers::typeText(const std::string& text) {
    // The controller checks the text and types it on its event queue.
    keyboard_.typeText(text);
}

void RemoteInputControllers::performSystemAction(RemoteSystemAction action) {
    systemActions_.perform(action, keyboard_, mouse_);
}

void RemoteInputControllers::releaseAll() {
    if (auto button = mouse_.pressedMouseButton()) {
        mouse_.handleButton(*button, MouseButtonPhase::released);
    }
    keyboard_.releaseAllKeys();
}

}  // namespace quillbridge
