#include "input/MacKeyboardLockController.hpp"

#include <utility>

namespace quillbridge {

MacKeyboardLockController::MacKeyboardLockController(std::unique_ptr<KeyboardLockPort> port)
    : port_(std::move(port)) {
    stateQueue_.sync([this] {
        if (!ensureOpen())
            return;
        cachedCapsLockIsEnabled_ = port_->readCapsLock().value_or(false);
    });
}

MacKeyboardLockController::~MacKeyboardLockController() {
    // Let queued work finish before the port goes.
    stateQueue_.sync([] {});
}

bool MacKeyboardLockController::ensureOpen() {
    if (isOpen_)
        return true;
    if (openDidFail_ || !port_)
        return false;
    KeyboardLockPort::OpenResult result = port_->open();
    if (result.opened) {
        isOpen_ = true;
        return true;
    }
    openDidFail_ = true;
    if (result.failure == KeyboardLockPort::OpenFailure::serviceUnavailable)
        logger_.error("IOHIDSystem service is unavailable; Caps Lock cannot be locked");
    else
        logger_.error("Failed to open IOHIDSystem: ", result.status);
    return false;
}

std::optional<bool> MacKeyboardLockController::refreshCapsLockState() {
    return stateQueue_.sync([this]() -> std::optional<bool> {
        if (!ensureOpen())
            return std::nullopt;
        std::optional<bool> state = port_->readCapsLock();
        if (!state || *state == cachedCapsLockIsEnabled_)
            return std::nullopt;
        cachedCapsLockIsEnabled_ = *state;
        return state;
    });
}

std::optional<bool> MacKeyboardLockController::toggleCapsLock() {
    return stateQueue_.sync([this]() -> std::optional<bool> {
        std::optional<bool> read;
        if (ensureOpen())
            read = port_->readCapsLock();
        bool newState = read ? !*read : !cachedCapsLockIsEnabled_;
        if (!setOnQueue(newState))
            return std::nullopt;
        cachedCapsLockIsEnabled_ = newState;
        return newState;
    });
}

bool MacKeyboardLockController::setCapsLock(bool enabled) {
    return stateQueue_.sync([this, enabled] { return setOnQueue(enabled); });
}

bool MacKeyboardLockController::setOnQueue(bool enabled) {
    if (!ensureOpen())
        return false;
    int status = port_->setCapsLock(enabled);
    if (status != 0) {
        logger_.error("Failed to set Caps Lock state: ", status);
        return false;
    }
    return true;
}

}  // namespace quillbridge
