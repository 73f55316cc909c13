#include "app/QtHostWindow.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include <QGuiApplication>

namespace quillbridge {
namespace {

// Asks the window manager to activate the window as a direct user action (source indication 2 of
// _NET_ACTIVE_WINDOW): Qt asks as an application (1), which window managers with focus-stealing prevention
// refuse when the request follows no input to this program, as a reopen from a second launch does.
void requestActivationAsUserAction(QWidget& window) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr || !window.windowHandle()) {
        return;
    }
    static const xcb_atom_t activeWindow = [connection] {
        constexpr const char* name = "_NET_ACTIVE_WINDOW";
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_ATOM_NONE;
        std::free(reply);
        return atom;
    }();
    if (activeWindow == XCB_ATOM_NONE) {
        return;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window.winId());
    event.type = activeWindow;
    event.data.data32[0] = 2;
    event.data.data32[1] = XCB_CURRENT_TIME;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

// Holds a window's HostWindow as the window's child, so it goes with the window.
class HostWindowHolder final : public QObject {
public:
    HostWindowHolder(QWidget* window, std::shared_ptr<HostWindow> hostWindow)
        : QObject(window), hostWindow(std::move(hostWindow)) {}
    std::shared_ptr<HostWindow> hostWindow;
};

}  // namespace

std::shared_ptr<HostWindow> QtHostWindow::of(QWidget* window) {
    if (window == nullptr) {
        return nullptr;
    }
    for (QObject* child : window->children()) {
        if (auto* holder = dynamic_cast<HostWindowHolder*>(child)) {
            return holder->hostWindow;
        }
    }
    auto hostWindow = std::make_shared<QtHostWindow>(window);
    new HostWindowHolder(window, hostWindow);
    return hostWindow;
}

void QtHostWindow::deminiaturize() {
    if (window_) {
        window_->showNormal();
    }
}

void QtHostWindow::makeKeyAndOrderFront() {
    if (!window_) {
        return;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    requestActivationAsUserAction(*window_);
}

}  // namespace quillbridge
