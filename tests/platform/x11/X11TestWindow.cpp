#include "X11TestWindow.hpp"

#include <poll.h>

#include <algorithm>

#include <xkbcommon/xkbcommon-x11.h>

#include "platform/linux/x11/XkbKeyboard.hpp"

namespace quillbridge {

std::unique_ptr<X11TestWindow> X11TestWindow::open() {
    auto connection = XcbConnection::open();
    if (!connection)
        return nullptr;
    return std::unique_ptr<X11TestWindow>(new X11TestWindow(std::move(connection)));
}

X11TestWindow::X11TestWindow(std::unique_ptr<XcbConnection> connection) : connection_(std::move(connection)) {
    xcb_connection_t* c = connection_->get();
    window_ = xcb_generate_id(c);
    std::uint32_t mask = XCB_CW_EVENT_MASK;
    std::uint32_t values[] = {XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                              XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                              XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, connection_->root(), 0, 0,
                      connection_->screen()->width_in_pixels, connection_->screen()->height_in_pixels, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, connection_->screen()->root_visual, mask, values);
    xcb_map_window(c, window_);
    xcb_flush(c);
    // Wait until it is mapped, then give it the focus.
    for (;;) {
        XcbReply<xcb_generic_event_t> event(xcb_wait_for_event(c));
        if (!event || (event->response_type & 0x7F) == XCB_MAP_NOTIFY)
            break;
    }
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
    drain();
    events_.clear();
}

X11TestWindow::~X11TestWindow() {
    xcb_destroy_window(connection_->get(), window_);
    xcb_flush(connection_->get());
}

void X11TestWindow::readQueued() {
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_->get())}) {
        ReceivedInputEvent received;
        switch (event->response_type & 0x7F) {
            case XCB_KEY_PRESS:
            case XCB_KEY_RELEASE: {
                auto* key = reinterpret_cast<xcb_key_press_event_t*>(event.get());
                received.kind = (event->response_type & 0x7F) == XCB_KEY_PRESS
                                    ? ReceivedInputEvent::Kind::keyPress
                                    : ReceivedInputEvent::Kind::keyRelease;
                received.detail = key->detail;
                received.state = key->state;
                break;
            }
            case XCB_BUTTON_PRESS:
            case XCB_BUTTON_RELEASE: {
                auto* button = reinterpret_cast<xcb_button_press_event_t*>(event.get());
                received.kind = (event->response_type & 0x7F) == XCB_BUTTON_PRESS
                                    ? ReceivedInputEvent::Kind::buttonPress
                                    : ReceivedInputEvent::Kind::buttonRelease;
                received.detail = button->detail;
                received.state = button->state;
                break;
            }
            case XCB_MOTION_NOTIFY: {
                auto* motion = reinterpret_cast<xcb_motion_notify_event_t*>(event.get());
                received.rootX = motion->root_x;
                received.rootY = motion->root_y;
                break;
            }
            default:
                continue;
        }
        events_.push_back(received);
    }
}

const std::vector<ReceivedInputEvent>& X11TestWindow::drain() {
    auto cookie = xcb_get_input_focus(connection_->get());
    XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection_->get(), cookie, nullptr));
    readQueued();
    return events_;
}

bool X11TestWindow::waitFor(const std::function<bool(const std::vector<ReceivedInputEvent>&)>& predicate,
                            std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        drain();
        if (predicate(events_))
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd descriptor{xcb_get_file_descriptor(connection_->get()), POLLIN, 0};
        ::poll(&descriptor, 1, static_cast<int>(std::min<long>(left.count(), 100)));
    }
}

xkb_keysym_t X11TestWindow::keysym(const ReceivedInputEvent& event) {
    std::unique_ptr<XkbKeyboard> keyboard = XkbKeyboard::open(*connection_);
    if (!keyboard)
        return XKB_KEY_NoSymbol;
    XkbKeymapPointer keymap = keyboard->fetchKeymap();
    if (!keymap)
        return XKB_KEY_NoSymbol;
    XkbStatePointer state(xkb_state_new(keymap.get()));
    xkb_state_update_mask(state.get(), event.state & 0xFF, 0, 0, 0, 0, (event.state >> 13) & 0x3);
    return xkb_state_key_get_one_sym(state.get(), event.detail);
}

std::string X11TestWindow::typedText() {
    std::unique_ptr<XkbKeyboard> keyboard = XkbKeyboard::open(*connection_);
    if (!keyboard)
        return {};
    XkbKeymapPointer keymap = keyboard->fetchKeymap();
    XkbStatePointer state(xkb_state_new(keymap.get()));
    std::string text;
    for (const ReceivedInputEvent& event : drain()) {
        if (event.kind != ReceivedInputEvent::Kind::keyPress)
            continue;
        xkb_state_update_mask(state.get(), event.state & 0xFF, 0, 0, 0, 0, (event.state >> 13) & 0x3);
        xkb_keysym_t symbol = xkb_state_key_get_one_sym(state.get(), event.detail);
        if (symbol == XKB_KEY_Return) {
            text += '\n';
            continue;
        }
        char buffer[16];
        int length = xkb_state_key_get_utf8(state.get(), event.detail, buffer, sizeof(buffer));
        if (length > 0)
            text.append(buffer, static_cast<std::size_t>(length));
    }
    return text;
}

}  // namespace quillbridge
