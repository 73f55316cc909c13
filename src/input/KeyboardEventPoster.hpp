#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "wire/RemoteKeyboardKey.hpp"

namespace quillbridge {

// One synthetic key press or release. `isFlagsChanged` marks a modifier key; `flags` is the full modifier
// state after this event (see RemoteKeyboardKeyCodes.hpp).
struct SyntheticKeyEvent {
    RemoteKeyboardKey key = RemoteKeyboardKey::a;
    std::uint16_t virtualKeyCode = 0;
    bool isDown = false;
    bool isRepeat = false;
    bool isFlagsChanged = false;
    std::uint64_t flags = 0;
    std::uint32_t keyboardType = 1;

    bool operator==(const SyntheticKeyEvent&) const = default;
};

// Posts synthetic keyboard events to the desktop.
class KeyboardEventPoster {
public:
    virtual ~KeyboardEventPoster() = default;

    // False when the event could not be made (nothing was posted).
    virtual bool postKeyEvent(const SyntheticKeyEvent& event) = 0;
    // Types one chunk of text (at most 20 UTF-16 units, never a split surrogate pair) as a key press and
    // release carrying the characters, whatever the layout. False when it could not be made.
    virtual bool postText(std::u16string_view chunk, std::uint32_t keyboardType) = 0;
    // One media, volume, brightness or launcher key (MediaKeyType.hpp) going down or up.
    virtual bool postMediaKey(std::int32_t keyType, bool isDown) = 0;
    // Whether the desktop has the key at all (a chord that needs a missing key is not pressed).
    virtual bool hasKey(RemoteKeyboardKey) { return true; }
    // Whether the desktop itself repeats held keys (then the controller must not repeat them again).
    virtual bool desktopRepeatsHeldKeys() = 0;
    // The attached keyboard's type, 0 when unknown.
    virtual std::uint32_t hardwareKeyboardType() = 0;
};

}  // namespace quillbridge
