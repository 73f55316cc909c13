#include "platform/linux/x11/X11MandatoryPermissionProbe.hpp"

#include <xcb/xtest.h>

#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

bool X11MandatoryPermissionProbe::isScreenCaptureGranted() {
    auto connection = XcbConnection::open(displayName_);
    if (!connection) {
        return false;
    }
    xcb_get_image_cookie_t cookie =
        xcb_get_image(connection->get(), XCB_IMAGE_FORMAT_Z_PIXMAP, connection->root(), 0, 0, 1, 1, ~0u);
    XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(connection->get(), cookie, nullptr));
    return reply != nullptr;
}

bool X11MandatoryPermissionProbe::isSyntheticInputGranted() {
    auto connection = XcbConnection::open(displayName_);
    if (!connection || !connection->hasExtension("XTEST")) {
        return false;
    }
    xcb_test_get_version_cookie_t cookie = xcb_test_get_version(connection->get(), 2, 2);
    XcbReply<xcb_test_get_version_reply_t> reply(
        xcb_test_get_version_reply(connection->get(), cookie, nullptr));
    return reply != nullptr;
}

}  // namespace quillbridge
