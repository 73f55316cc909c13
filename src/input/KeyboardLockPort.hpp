#pragma once

#include <optional>

namespace quillbridge {

// Reads and sets the desktop's Caps Lock state. Called only from the Caps Lock controller's state queue.
class KeyboardLockPort {
public:
    enum class OpenFailure { serviceUnavailable, openFailed };
    struct OpenResult {
        bool opened = false;
        OpenFailure failure = OpenFailure::serviceUnavailable;
        int status = 0;
    };

    virtual ~KeyboardLockPort() = default;

    // Opens the connection to the keyboard lock state; called at most until it fails once.
    virtual OpenResult open() = 0;
    // The current Caps Lock state; nothing when it cannot be read.
    virtual std::optional<bool> readCapsLock() = 0;
    // Sets Caps Lock; 0 on success, else a status code.
    virtual int setCapsLock(bool enabled) = 0;
};

}  // namespace quillbridge
