#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <xkbcommon/xkbcommon.h>

#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

struct XkbKeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
using XkbKeymapPointer = std::unique_ptr<xkb_keymap, XkbKeymapDeleter>;
using XkbStatePointer = std::unique_ptr<xkb_state, XkbKeymapDeleter>;
using XkbContextPointer = std::unique_ptr<xkb_context, XkbKeymapDeleter>;

// The core keyboard of an X server through the XKB extension: its keymap (with xkbcommon), its lock state,
// and the rules names (model, layouts, variants, options) it was configured with. Safe to use from several
// threads as far as xcb is; the keymap objects it hands out belong to the caller.
class XkbKeyboard {
public:
    struct LockState {
        std::uint8_t lockedModifiers = 0;
        std::uint32_t lockedGroup = 0;
        std::uint32_t effectiveGroup = 0;
    };
    struct RulesNames {
        std::string rules;
        std::string model;
        std::vector<std::string> layouts;
        std::vector<std::string> variants;
        std::vector<std::string> options;

        bool operator==(const RulesNames&) const = default;
    };

    // Nothing when the server has no usable XKB extension.
    static std::unique_ptr<XkbKeyboard> open(XcbConnection& connection);

    XcbConnection& connection() const { return connection_; }
    std::int32_t deviceID() const { return deviceID_; }
    // The keyboard's current keymap, fetched from the server.
    XkbKeymapPointer fetchKeymap();
    std::optional<LockState> lockState();
    // Locks or unlocks the modifiers in `mask` (values from `locked`); 0 on success, else the X error code.
    int lockModifiers(std::uint8_t mask, std::uint8_t locked);
    // Locks the keyboard group; 0 on success, else the X error code.
    int lockGroup(std::uint32_t group);
    // The names in the root window's _XKB_RULES_NAMES property; nothing when it is missing.
    std::optional<RulesNames> rulesNames();

private:
    XkbKeyboard(XcbConnection& connection, std::int32_t deviceID, XkbContextPointer context)
        : connection_(connection), deviceID_(deviceID), context_(std::move(context)) {}

    XcbConnection& connection_;
    std::int32_t deviceID_;
    XkbContextPointer context_;
};

}  // namespace quillbridge
