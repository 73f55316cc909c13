#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "input/MacKeyboardInputSourceIdentity.hpp"
#include "wire/RemoteKeyboardKey.hpp"
#include "wire/RemoteKeyboardPhysicalLayout.hpp"

namespace quillbridge {

// What one key gives in one modifier state: the text shown for it (UTF-8; nothing when the translation
// failed) and whether it leaves a pending dead key.
struct KeyTranslation {
    std::optional<std::string> text;
    bool isDeadKey = false;
};

// The modifier state of one translation: bit 1 Shift, bit 2 Caps Lock, bit 3 Option.
namespace KeyTranslationModifiers {
inline constexpr std::uint32_t shift = 2;
inline constexpr std::uint32_t capsLock = 4;
inline constexpr std::uint32_t option = 8;
}  // namespace KeyTranslationModifiers

// The current keyboard layout, fixed when it was read.
class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;
    virtual KeyTranslation translate(RemoteKeyboardKey key, std::uint16_t virtualKeyCode,
                                     std::uint32_t modifierState, std::uint32_t keyboardType) = 0;
};

// Reads the desktop's current keyboard layout.
class KeyboardLayoutPort {
public:
    virtual ~KeyboardLayoutPort() = default;

    // Nothing when no layout can be read.
    virtual std::unique_ptr<KeyboardLayout> currentLayout() = 0;
    // The current layout source's identity (empty fields where the system gives none).
    virtual MacKeyboardInputSourceIdentity currentLayoutIdentity() = 0;
    // The attached keyboard's type, 0 when unknown.
    virtual std::uint32_t hardwareKeyboardType() = 0;
    virtual RemoteKeyboardPhysicalLayout physicalLayout(std::uint32_t keyboardType) = 0;
};

}  // namespace quillbridge
