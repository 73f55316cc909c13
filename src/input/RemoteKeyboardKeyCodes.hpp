#pragma once

#include <cstdint>

#include "wire/KeyboardTypePreference.hpp"
#include "wire/RemoteKeyboardKey.hpp"

namespace quillbridge {

// Device-independent modifier flags carried by synthetic key events.
inline constexpr std::uint64_t keyboardFlagAlphaShift = 0x10000;
inline constexpr std::uint64_t keyboardFlagShift = 0x20000;
inline constexpr std::uint64_t keyboardFlagControl = 0x40000;
inline constexpr std::uint64_t keyboardFlagAlternate = 0x80000;
inline constexpr std::uint64_t keyboardFlagCommand = 0x100000;
inline constexpr std::uint64_t keyboardFlagSecondaryFn = 0x800000;

// The key's virtual key code (every key has one).
std::uint16_t virtualKeyCode(RemoteKeyboardKey key);
// The nine modifier keys, `shift` to `fn`.
bool isModifierKey(RemoteKeyboardKey key);
// The flag a modifier key contributes (left and right give the same one); 0 for other keys.
std::uint64_t modifierFlag(RemoteKeyboardKey key);
// Whether the key repeats while held (letters, digits, punctuation, editing and navigation keys, the
// arrows and most of the numeric keypad).
bool isRepeatableKey(RemoteKeyboardKey key);
// The keyboard type stamped on events: automatic takes the hardware's type (1 when it reports 0), ansi 1,
// iso 4, jis 18.
std::uint32_t keyboardTypeFor(KeyboardTypePreference preference, std::uint32_t hardwareKeyboardType);

}  // namespace quillbridge
