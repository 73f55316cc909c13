#pragma once

#include <memory>
#include <optional>
#include <string>

#include "input/KeyboardLockPort.hpp"
#include "platform/linux/x11/XcbConnection.hpp"
#include "platform/linux/x11/XkbKeyboard.hpp"

namespace quillbridge {

// Caps Lock of an X server's core keyboard, read and locked through XKB (the Lock modifier).
class XkbKeyboardLockPort final : public KeyboardLockPort {
public:
    // Connects to the display (empty: $DISPLAY) when opened.
    explicit XkbKeyboardLockPort(std::string displayName = {}) : displayName_(std::move(displayName)) {}

    OpenResult open() override;
    std::optional<bool> readCapsLock() override;
    int setCapsLock(bool enabled) override;

private:
    std::string displayName_;
    std::unique_ptr<XcbConnection> connection_;
    std::unique_ptr<XkbKeyboard> keyboard_;
};

}  // namespace quillbridge
