#include "session/ScreenStreamBroadcaster.hpp"

// The headset's mouse, keyboard, text and system-action commands, handed to the remote-input controllers
// through the RemoteInputSink port. Without a sink the commands are noted in the log and dropped.

namespace quillbridge {

void ScreenStreamBroadcaster::handleMouseClick(const MouseClickMessage& message) {
    if (auto* input = dependencies_.remoteInput) {
        input->handleMouseButton(message.button, message.phase);
    } else {
        logger_.debug("Remote input is not available: mouse click dropped");
    }
}

void ScreenStreamBroadcaster::handleMouseMove(const MouseMoveMessage& message) {
    if (auto* input = dependencies_.remoteInput) {
        input->moveMouseBy(message.deltaX, message.deltaY);
    } else {
        logger_.debug("Remote input is not available: mouse move dropped");
    }
}

void ScreenStreamBroadcaster::handleMousePosition(const MousePositionMessage& message) {
    if (auto* input = dependencies_.remoteInput) {
        input->moveMouseTo(message.normalizedX, message.normalizedY);
    } else {
        logger_.debug("Remote input is not available: mouse position dropped");
    }
}

void ScreenStreamBroadcaster::handleKeyboardEvent(const KeyboardEventMessage& message) {
    if (auto* input = dependencies_.remoteInput) {
        input->handleKey(message.key, message.phase);
    } else {
        logger_.debug("Remote input is not available: key event dropped");
    }
}

void ScreenStreamBroadcaster::handleKeyboardTypePreference(const KeyboardTypePreferenceMessage& message) {
    if (auto* input = dependencies_.remoteInput) {
        input->setKeyboardTypePreference(message.preference);
    } else {
        logger_.debug("Keyboard type preference noted");
    }
}

void ScreenStreamBroadcaster::handleTextInput(const TextInputMessage& message) {
    if (auto* input = dependencies_.remoteInput) {
        input->typeText(message.text);
    } else {
        logger_.debug("Remote input is not available: text dropped");
    }
}

void ScreenStreamBroadcaster::handleSystemAction(const SystemActionMessage& message) {
    if (auto* input = dependencies_.remoteInput) {
        input->performSystemAction(message.action);
    } else {
        logger_.debug("Remote input is not available: system action dropped");
    }
}

void ScreenStreamBroadcaster::releaseRemoteInput() {
    if (auto* input = dependencies_.remoteInput) {
        input->releaseAll();
    }
}

}  // namespace quillbridge
