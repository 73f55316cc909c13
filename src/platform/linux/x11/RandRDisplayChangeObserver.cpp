#include "platform/linux/x11/RandRDisplayChangeObserver.hpp"

#include <xcb/randr.h>

#include <cctype>

#include <asio/post.hpp>

namespace quillbridge {

RandRDisplayChangeObserver::~RandRDisplayChangeObserver() {
    stop();
}

bool RandRDisplayChangeObserver::isBuiltInConnectorName(std::string_view name) {
    for (std::string_view prefix : {"eDP", "LVDS", "DSI"}) {
        if (name.size() >= prefix.size()) {
            bool matches = true;
            for (std::size_t index = 0; index < prefix.size(); ++index) {
                if (std::toupper(static_cast<unsigned char>(name[index])) !=
                    std::toupper(static_cast<unsigned char>(prefix[index]))) {
                    matches = false;
                    break;
                }
            }
            if (matches) {
                return true;
            }
        }
    }
    return false;
}

bool RandRDisplayChangeObserver::isExternalDisplayOnline() {
    auto connection = XcbConnection::open(displayName_);
    if (!connection || !connection->hasExtension("RANDR")) {
        return false;
    }
    xcb_connection_t* xcb = connection->get();
    XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
        xcb_randr_get_screen_resources_current_reply(
            xcb, xcb_randr_get_screen_resources_current(xcb, connection->root()), nullptr));
    if (!resources) {
        return false;
    }
    const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_current_outputs(resources.get());
    int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    for (int index = 0; index < count; ++index) {
        XcbReply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
            xcb, xcb_randr_get_output_info(xcb, outputs[index], resources->config_timestamp), nullptr));
        if (!info || info->connection != XCB_RANDR_CONNECTION_CONNECTED) {
            continue;
        }
        std::string_view name(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
                              static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get())));
        if (!isBuiltInConnectorName(name)) {
            return true;
        }
    }
    return false;
}

bool RandRDisplayChangeObserver::start(std::function<void()> displayConfigurationChanged) {
    if (loop_) {
        return false;
    }
    auto connection = XcbConnection::open(displayName_);
    if (!connection) {
        logger_.error("Unable to observe display changes: no X display");
        return false;
    }
    xcb_connection_t* xcb = connection->get();
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(xcb, &xcb_randr_id);
    if (randr == nullptr || !randr->present) {
        logger_.error("Unable to observe display changes: RandR is missing");
        return false;
    }
    randrEvent_ = randr->first_event;
    // RandR 1.2 or later is needed for output and CRTC notifications.
    XcbReply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(xcb, xcb_randr_query_version(xcb, 1, 5), nullptr));
    if (!version) {
        logger_.error("Unable to observe display changes: RandR does not answer");
        return false;
    }
    xcb_randr_select_input(xcb, connection->root(),
                           XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                               XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    xcb_flush(xcb);

    handler_ = std::make_shared<std::function<void()>>(std::move(displayConfigurationChanged));
    loop_ = std::make_unique<XcbEventLoop>(std::move(connection), [this](xcb_generic_event_t* event) {
        std::uint8_t type = event->response_type & 0x7f;
        if (type == randrEvent_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randrEvent_ + XCB_RANDR_NOTIFY) {
            asio::post(executor_, [alive = alive_, handler = handler_] {
                if (alive->load()) {
                    (*handler)();
                }
            });
        }
    });
    alive_->store(true);
    if (!loop_->start()) {
        stop();
        return false;
    }
    return true;
}

void RandRDisplayChangeObserver::stop() {
    alive_->store(false);
    if (loop_) {
        loop_->stop();
    }
    loop_.reset();
}

}  // namespace quillbridge
