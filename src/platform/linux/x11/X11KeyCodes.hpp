#pragma once

#include <cstdint>
#include <optional>

#include "wire/RemoteKeyboardKey.hpp"

namespace quillbridge {

// The Linux input event code of the key on a standard keyboard: `command` and `rightCommand` are the
// Control keys (so command+V pastes), `control` the left Control key, `option` the left Alt key,
// `rightOption` the right Alt key (where layouts put AltGr). `fn` has none.
std::optional<std::uint32_t> evdevKeyCode(RemoteKeyboardKey key);
// The X keycode of the key with the evdev keycodes every X server uses (event code + 8).
std::optional<std::uint32_t> x11KeyCode(RemoteKeyboardKey key);

}  // namespace quillbridge
