#include "platform/linux/x11/XcbDisplayWaker.hpp"

#include <cstdlib>

#include <xcb/dpms.h>
#include <xcb/xcb.h>

#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

XcbDisplayWaker::XcbDisplayWaker(std::string displayName) : displayName_(std::move(displayName)) {}

XcbDisplayWaker::~XcbDisplayWaker() = default;

DisplayWaker::Outcome XcbDisplayWaker::wakeDisplay(std::string_view) {
    std::lock_guard lock(mutex_);
    if (connection_ && connection_->hasError()) {
        connection_.reset();
    }
    if (!connection_) {
        if (displayName_.empty() && std::getenv("DISPLAY") == nullptr) {
            return {Outcome::Kind::noDisplay, 0};
        }
        connection_ = XcbConnection::open(displayName_);
        if (!connection_) {
            return {Outcome::Kind::noDisplay, 0};
        }
    }
    xcb_connection_t* connection = connection_->get();
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(connection, xcb_force_screen_saver_checked(connection, XCB_SCREEN_SAVER_RESET)));
    if (error) {
        return {Outcome::Kind::failed, error->error_code};
    }
    if (connection_->hasExtension("DPMS")) {
        XcbReply<xcb_dpms_info_reply_t> info(
            xcb_dpms_info_reply(connection, xcb_dpms_info(connection), nullptr));
        if (info && info->state) {
            XcbReply<xcb_generic_error_t> forceError(xcb_request_check(
                connection, xcb_dpms_force_level_checked(connection, XCB_DPMS_DPMS_MODE_ON)));
            if (forceError) {
                return {Outcome::Kind::failed, forceError->error_code};
            }
        }
    }
    if (connection_->hasError()) {
        connection_.reset();
        return {Outcome::Kind::failed, -1};
    }
    return {Outcome::Kind::woken, 0};
}

}  // namespace quillbridge
