#include "platform/linux/x11/XkbKeyboardLayoutChangeObserver.hpp"

#include <cstring>

// xcb/xkb.h names a structure field `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace quillbridge {

namespace {

constexpr char rulesNamesProperty[] = "_XKB_RULES_NAMES";

}  // namespace

XkbKeyboardLayoutChangeObserver::~XkbKeyboardLayoutChangeObserver() {
    stop();
}

bool XkbKeyboardLayoutChangeObserver::start(std::function<void()> changed) {
    if (loop_ || !changed) {
        return false;
    }
    changed_ = std::move(changed);
    loop_ = std::make_unique<XcbEventLoop>([this] { return connect(); },
                                           [this](xcb_generic_event_t* event) { handle(event); });
    if (!loop_->start()) {
        loop_.reset();
        return false;
    }
    return true;
}

void XkbKeyboardLayoutChangeObserver::stop() {
    if (!loop_) {
        return;
    }
    loop_->stop();
    // The keyboard refers to the loop's connection: let it go first.
    keyboard_.reset();
    loop_.reset();
}

std::unique_ptr<XcbConnection> XkbKeyboardLayoutChangeObserver::connect() {
    auto connection = XcbConnection::open(displayName_);
    if (!connection) {
        logger_.error("Unable to observe keyboard layout changes: no X display");
        return nullptr;
    }
    keyboard_ = XkbKeyboard::open(*connection);
    if (!keyboard_) {
        logger_.error("Unable to observe keyboard layout changes: XKB is missing");
        return nullptr;
    }
    xcb_connection_t* xcb = connection->get();
    xkbEvent_ = xcb_get_extension_data(xcb, &xcb_xkb_id)->first_event;
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        xcb, xcb_intern_atom(xcb, 0, sizeof(rulesNamesProperty) - 1, rulesNamesProperty), nullptr));
    rulesNamesAtom_ = atom ? atom->atom : XCB_ATOM_NONE;

    const std::uint32_t rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(xcb, connection->root(), XCB_CW_EVENT_MASK, &rootEvents);
    constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                     XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr std::uint16_t newKeyboard =
        XCB_XKB_NKN_DETAIL_KEYCODES | XCB_XKB_NKN_DETAIL_GEOMETRY | XCB_XKB_NKN_DETAIL_DEVICE_ID;
    constexpr std::uint16_t mapParts = 0xff;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = newKeyboard;
    details.newKeyboardDetails = newKeyboard;
    details.affectState = XCB_XKB_STATE_PART_GROUP_STATE;
    details.stateDetails = XCB_XKB_STATE_PART_GROUP_STATE;
    xcb_xkb_select_events_aux(xcb, XCB_XKB_ID_USE_CORE_KBD, events, 0, 0, mapParts, mapParts, &details);
    // What is selected from here on is measured against the layout as it is now.
    layout_ = currentLayout();
    return connection;
}

void XkbKeyboardLayoutChangeObserver::handle(xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7f;
    const bool rulesNamesChanged =
        type == XCB_PROPERTY_NOTIFY &&
        reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == rulesNamesAtom_;
    if (type != xkbEvent_ && !rulesNamesChanged) {
        return;
    }
    Layout layout = currentLayout();
    if (layout == layout_) {
        return;
    }
    layout_ = std::move(layout);
    changed_();
}

XkbKeyboardLayoutChangeObserver::Layout XkbKeyboardLayoutChangeObserver::currentLayout() {
    Layout layout;
    layout.names = keyboard_->rulesNames();
    if (auto state = keyboard_->lockState()) {
        layout.group = state->effectiveGroup;
    }
    return layout;
}

}  // namespace quillbridge
