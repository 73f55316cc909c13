#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <xcb/xproto.h>

#include "core/Logger.hpp"
#include "platform/linux/x11/XcbEventLoop.hpp"
#include "platform/linux/x11/XkbKeyboard.hpp"
#include "session/KeyboardLayoutChangeObserver.hpp"

namespace quillbridge {

// Keyboard layout changes on X11, read on an X event thread of their own: a change of the keyboard's
// effective group (XKB state notify) selects another layout; a new keymap (XKB new-keyboard and map notify)
// and a change of the root window's _XKB_RULES_NAMES property (what setxkbmap writes) replace the layouts.
// A notice goes out only when the layout the host reports (the rules names and the group) differs from the
// last one seen: the keycodes that remote text entry remaps for a moment also send map notifies, and those
// change no layout.
class XkbKeyboardLayoutChangeObserver final : public KeyboardLayoutChangeObserver {
public:
    explicit XkbKeyboardLayoutChangeObserver(std::string displayName = {})
        : displayName_(std::move(displayName)) {}
    ~XkbKeyboardLayoutChangeObserver() override;

    bool start(std::function<void()> changed) override;
    void stop() override;

private:
    struct Layout {
        std::optional<XkbKeyboard::RulesNames> names;
        std::uint32_t group = 0;

        bool operator==(const Layout&) const = default;
    };

    // On the loop's thread.
    std::unique_ptr<XcbConnection> connect();
    void handle(xcb_generic_event_t* event);
    Layout currentLayout();

    std::string displayName_;
    Logger logger_{"ScreenStreamBroadcaster"};
    std::function<void()> changed_;
    // On the loop's thread only.
    std::unique_ptr<XkbKeyboard> keyboard_;
    std::uint8_t xkbEvent_ = 0;
    xcb_atom_t rulesNamesAtom_ = XCB_ATOM_NONE;
    Layout layout_;
    std::unique_ptr<XcbEventLoop> loop_;
};

}  // namespace quillbridge
