#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "core/Logger.hpp"
#include "core/SerialQueue.hpp"
#include "input/KeyboardLockPort.hpp"

namespace quillbridge {

// Reads and sets the desktop's Caps Lock state and keeps a cached copy. Every operation runs on its own
// state queue ("Quillbridge.MacKeyboardLockController"); callers on other threads wait for it. It calls out
// to nothing but its port and the logger, so those waits cannot deadlock.
class MacKeyboardLockController {
public:
    // Reads the initial state on the state queue.
    explicit MacKeyboardLockController(std::unique_ptr<KeyboardLockPort> port);
    ~MacKeyboardLockController();
    MacKeyboardLockController(const MacKeyboardLockController&) = delete;
    MacKeyboardLockController& operator=(const MacKeyboardLockController&) = delete;

    // The cached state. Written only on the state queue; read without a hop (every key event reads it), so it
    // never waits behind a Caps Lock call in progress.
    bool cachedCapsLockIsEnabled() const { return cachedCapsLockIsEnabled_.load(); }
    // The new state when it differs from the cache, else nothing.
    std::optional<bool> refreshCapsLockState();
    // The new state after a successful toggle, else nothing.
    std::optional<bool> toggleCapsLock();
    bool setCapsLock(bool enabled);

    SerialQueue& stateQueue() { return stateQueue_; }

private:
    bool ensureOpen();
    bool setOnQueue(bool enabled);

    Logger logger_{"MacKeyboardLockController"};
    std::unique_ptr<KeyboardLockPort> port_;
    bool isOpen_ = false;
    bool openDidFail_ = false;
    std::atomic<bool> cachedCapsLockIsEnabled_ = false;
    // Last, so that it stops before the fields its work touches go.
    SerialQueue stateQueue_{"Quillbridge.MacKeyboardLockController"};
};

}  // namespace quillbridge
