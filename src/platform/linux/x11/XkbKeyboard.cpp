#include "platform/linux/x11/XkbKeyboard.hpp"

#include <cstring>
#include <string_view>

#include <xkbcommon/xkbcommon-x11.h>

// xcb/xkb.h names a structure field `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace quillbridge {

namespace {

std::vector<std::string> splitList(std::string_view text) {
    std::vector<std::string> items;
    if (text.empty())
        return items;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = text.find(',', start);
        items.emplace_back(
            text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return items;
}

}  // namespace

std::unique_ptr<XkbKeyboard> XkbKeyboard::open(XcbConnection& connection) {
    if (xkb_x11_setup_xkb_extension(connection.get(), XKB_X11_MIN_MAJOR_XKB_VERSION,
                                    XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                    nullptr, nullptr, nullptr, nullptr) != 1)
        return nullptr;
    std::int32_t deviceID = xkb_x11_get_core_keyboard_device_id(connection.get());
    if (deviceID < 0)
        return nullptr;
    XkbContextPointer context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context)
        return nullptr;
    return std::unique_ptr<XkbKeyboard>(new XkbKeyboard(connection, deviceID, std::move(context)));
}

XkbKeymapPointer XkbKeyboard::fetchKeymap() {
    return XkbKeymapPointer(xkb_x11_keymap_new_from_device(context_.get(), connection_.get(), deviceID_,
                                                           XKB_KEYMAP_COMPILE_NO_FLAGS));
}

std::optional<XkbKeyboard::LockState> XkbKeyboard::lockState() {
    auto cookie = xcb_xkb_get_state(connection_.get(), static_cast<xcb_xkb_device_spec_t>(deviceID_));
    XcbReply<xcb_xkb_get_state_reply_t> reply(xcb_xkb_get_state_reply(connection_.get(), cookie, nullptr));
    if (!reply)
        return std::nullopt;
    return LockState{reply->lockedMods, reply->lockedGroup, reply->group};
}

int XkbKeyboard::lockModifiers(std::uint8_t mask, std::uint8_t locked) {
    auto cookie = xcb_xkb_latch_lock_state_checked(
        connection_.get(), static_cast<xcb_xkb_device_spec_t>(deviceID_), mask, locked, 0, 0, 0, 0, 0);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(connection_.get(), cookie));
    if (error)
        return error->error_code != 0 ? error->error_code : -1;
    return connection_.hasError() ? -1 : 0;
}

int XkbKeyboard::lockGroup(std::uint32_t group) {
    auto cookie =
        xcb_xkb_latch_lock_state_checked(connection_.get(), static_cast<xcb_xkb_device_spec_t>(deviceID_), 0,
                                         0, 1, static_cast<std::uint8_t>(group), 0, 0, 0);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(connection_.get(), cookie));
    if (error)
        return error->error_code != 0 ? error->error_code : -1;
    return connection_.hasError() ? -1 : 0;
}

std::optional<XkbKeyboard::RulesNames> XkbKeyboard::rulesNames() {
    static constexpr char atomName[] = "_XKB_RULES_NAMES";
    auto atomCookie = xcb_intern_atom(connection_.get(), 1, sizeof(atomName) - 1, atomName);
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(connection_.get(), atomCookie, nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return std::nullopt;
    auto cookie =
        xcb_get_property(connection_.get(), 0, connection_.root(), atom->atom, XCB_ATOM_STRING, 0, 4096);
    XcbReply<xcb_get_property_reply_t> property(xcb_get_property_reply(connection_.get(), cookie, nullptr));
    if (!property || property->format != 8)
        return std::nullopt;
    const char* data = static_cast<const char*>(xcb_get_property_value(property.get()));
    int length = xcb_get_property_value_length(property.get());
    std::vector<std::string> fields;
    std::string_view all(data, static_cast<std::size_t>(length));
    std::size_t start = 0;
    while (start <= all.size() && fields.size() < 5) {
        std::size_t end = all.find('\0', start);
        if (end == std::string_view::npos)
            end = all.size();
        fields.emplace_back(all.substr(start, end - start));
        start = end + 1;
    }
    fields.resize(5);
    RulesNames names;
    names.rules = fields[0];
    names.model = fields[1];
    names.layouts = splitList(fields[2]);
    names.variants = splitList(fields[3]);
    names.options = splitList(fields[4]);
    names.variants.resize(names.layouts.size());
    return names;
}

}  // namespace quillbridge
