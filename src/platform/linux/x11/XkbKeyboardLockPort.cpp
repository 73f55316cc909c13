#include "platform/linux/x11/XkbKeyboardLockPort.hpp"

#include <xcb/xproto.h>

namespace quillbridge {

KeyboardLockPort::OpenResult XkbKeyboardLockPort::open() {
    connection_ = XcbConnection::open(displayName_);
    if (!connection_)
        return {false, OpenFailure::serviceUnavailable, 0};
    keyboard_ = XkbKeyboard::open(*connection_);
    if (!keyboard_) {
        connection_.reset();
        return {false, OpenFailure::openFailed, -1};
    }
    return {true, OpenFailure::serviceUnavailable, 0};
}

std::optional<bool> XkbKeyboardLockPort::readCapsLock() {
    if (!keyboard_)
        return std::nullopt;
    std::optional<XkbKeyboard::LockState> state = keyboard_->lockState();
    if (!state)
        return std::nullopt;
    return (state->lockedModifiers & XCB_MOD_MASK_LOCK) != 0;
}

int XkbKeyboardLockPort::setCapsLock(bool enabled) {
    if (!keyboard_)
        return -1;
    return keyboard_->lockModifiers(XCB_MOD_MASK_LOCK, enabled ? XCB_MOD_MASK_LOCK : 0);
}

}  // namespace quillbridge
