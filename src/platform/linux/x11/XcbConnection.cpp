#include "platform/linux/x11/XcbConnection.hpp"

#include <cstdlib>
#include <cstring>

namespace quillbridge {

std::unique_ptr<XcbConnection> XcbConnection::open(const std::string& displayName) {
    int screenNumber = 0;
    xcb_connection_t* connection =
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
    if (connection == nullptr) {
        return nullptr;
    }
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int index = 0; index < screenNumber && screens.rem > 0; ++index) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0 || screens.data == nullptr) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<XcbConnection>(new XcbConnection(connection, screens.data, screenNumber));
}

XcbConnection::~XcbConnection() {
    xcb_disconnect(connection_);
}

bool XcbConnection::hasExtension(const char* name) const {
    auto cookie = xcb_query_extension(connection_, static_cast<std::uint16_t>(std::strlen(name)), name);
    XcbReply<xcb_query_extension_reply_t> reply(xcb_query_extension_reply(connection_, cookie, nullptr));
    return reply && reply->present != 0;
}

void XcbFree::operator()(void* pointer) const {
    std::free(pointer);
}

}  // namespace quillbridge
