#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <xkbcommon/xkbcommon.h>

#include "core/Logger.hpp"
#include "input/KeyboardEventPoster.hpp"
#include "input/MouseEventPoster.hpp"
#include "input/SyntheticInputPermission.hpp"
#include "platform/linux/x11/XcbConnection.hpp"
#include "platform/linux/x11/XkbKeyboard.hpp"

namespace quillbridge {

// Synthetic mouse, wheel, key and text input on an X server through the XTEST extension.
// - Buttons: primary 1, middle 2, secondary 3, back 8, forward 9. Pixel scrolling becomes wheel clicks
//   (buttons 4 to 7), one per `scrollDetentPixels` accumulated within a gesture.
// - Keys are pressed on the keycodes of a standard keyboard (X11KeyCodes.hpp); keys that share a keycode
//   (command and control both hold Control) are released only when the last of them is. The X server
//   repeats held keys itself. Right option presses the key that gives ISO_Level3_Shift (AltGr).
// - Text is typed with the keys of the current layout where one gives the character without or with Shift,
//   else on spare keycodes remapped to the character. A spare keycode keeps its character until it is the
//   least recently used one and another character needs it (all are cleared when the poster goes), so a
//   repeated character needs no new mapping and a client that reads a keysym late still sees the right one.
// - Media keys are the XF86 keys (volume, brightness, play, previous, next, LaunchA, LaunchB) and Super.
// Thread-safe: one lock around the connection's requests.
class XTestInputPoster final : public MouseEventPoster,
                               public KeyboardEventPoster,
                               public SyntheticInputPermission {
public:
    static constexpr double scrollDetentPixels = 30;
    static constexpr std::size_t spareKeycodeCount = 16;

    // Nothing when the display cannot be reached.
    static std::unique_ptr<XTestInputPoster> open(const std::string& displayName = {});
    ~XTestInputPoster() override;

    bool isSyntheticInputAllowed() override { return hasXTest_; }
    void requestSyntheticInputAccess() override {}

    std::optional<DisplayPoint> cursorLocation() override;
    double doubleClickIntervalSeconds() override { return 0.4; }
    bool postMouseEvent(const SyntheticMouseEvent& event) override;
    bool postScrollEvent(const SyntheticScrollEvent& event) override;

    bool postKeyEvent(const SyntheticKeyEvent& event) override;
    bool postText(std::u16string_view chunk, std::uint32_t keyboardType) override;
    bool postMediaKey(std::int32_t keyType, bool isDown) override;
    bool hasKey(RemoteKeyboardKey key) override { return key != RemoteKeyboardKey::fn; }
    bool desktopRepeatsHeldKeys() override { return true; }
    std::uint32_t hardwareKeyboardType() override { return 0; }

    XcbConnection& connection() { return *connection_; }

private:
    explicit XTestInputPoster(std::unique_ptr<XcbConnection> connection);

    void fakeInput(std::uint8_t type, std::uint8_t detail, std::int16_t x = 0, std::int16_t y = 0);
    bool flush();
    void refreshKeymapIfStale();
    std::optional<xkb_keycode_t> keycodeForKeysym(xkb_keysym_t keysym);
    // A spare keycode that gives the keysym: one that already does, else the least recently used one,
    // remapped.
    xkb_keycode_t spareKeycodeFor(xkb_keysym_t keysym);
    void typeKeysym(xkb_keysym_t keysym, xkb_mod_mask_t lockedModifiers, std::uint32_t group);
    void tapKeycode(xkb_keycode_t keycode);

    std::unique_ptr<XcbConnection> connection_;
    std::unique_ptr<XkbKeyboard> keyboard_;
    bool hasXTest_ = false;
    Logger logger_{"XTestInputPoster"};
    std::mutex mutex_;
    std::map<std::uint32_t, std::set<RemoteKeyboardKey>> holders_;
    double scrollAccumulatorX_ = 0;
    double scrollAccumulatorY_ = 0;
    XkbKeymapPointer keymap_;
    XkbStatePointer probeState_;
    std::chrono::steady_clock::time_point keymapFetched_{};
    std::uint32_t keymapGroup_ = 0;
    std::optional<XkbKeyboard::RulesNames> keymapRules_;
    std::unordered_map<xkb_keysym_t, std::vector<xkb_keycode_t>> keysymIndex_;
    struct SpareKeycode {
        xkb_keycode_t keycode = 0;
        xkb_keysym_t keysym = XKB_KEY_NoSymbol;
        std::uint64_t lastUse = 0;
    };
    std::vector<SpareKeycode> spareKeycodes_;
    std::uint64_t spareUses_ = 0;
    std::map<std::int32_t, xkb_keycode_t> heldMediaKeys_;
    bool loggedMissingFn_ = false;
};

}  // namespace quillbridge
