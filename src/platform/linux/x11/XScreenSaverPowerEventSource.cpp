#include "platform/linux/x11/XScreenSaverPowerEventSource.hpp"

#include <xcb/dpms.h>
#include <xcb/screensaver.h>

#include <asio/post.hpp>

namespace quillbridge {

XScreenSaverPowerEventSource::~XScreenSaverPowerEventSource() {
    stop();
}

bool XScreenSaverPowerEventSource::start(Handler handler) {
    if (loop_) {
        return false;
    }
    auto connection = XcbConnection::open(displayName_);
    if (!connection) {
        logger_.error("Unable to observe screen sleep: no X display");
        return false;
    }
    xcb_connection_t* xcb = connection->get();
    const xcb_query_extension_reply_t* saver = xcb_get_extension_data(xcb, &xcb_screensaver_id);
    if (saver != nullptr && saver->present) {
        screenSaverEvent_ = saver->first_event;
        xcb_screensaver_select_input(xcb, connection->root(), XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
        XcbReply<xcb_screensaver_query_info_reply_t> info(xcb_screensaver_query_info_reply(
            xcb, xcb_screensaver_query_info(xcb, connection->root()), nullptr));
        saverOn_ = info && info->state == XCB_SCREENSAVER_STATE_ON;
    } else {
        logger_.error("Unable to observe the screen saver: MIT-SCREEN-SAVER is missing");
    }
    const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(xcb, &xcb_dpms_id);
    hasDpms_ = dpms != nullptr && dpms->present;
    xcb_flush(xcb);

    handler_ = std::make_shared<Handler>(std::move(handler));
    loop_ = std::make_unique<XcbEventLoop>(
        std::move(connection),
        [this](xcb_generic_event_t* event) {
            if (screenSaverEvent_ != 0 &&
                (event->response_type & 0x7f) == screenSaverEvent_ + XCB_SCREENSAVER_NOTIFY) {
                auto* notify = reinterpret_cast<xcb_screensaver_notify_event_t*>(event);
                saverOn_ = notify->state == XCB_SCREENSAVER_STATE_ON;
                update();
            }
        },
        std::chrono::seconds(2), [this] { update(); });
    asleep_ = saverOn_ || monitorsOff();
    alive_->store(true);
    if (!loop_->start()) {
        stop();
        return false;
    }
    return true;
}

void XScreenSaverPowerEventSource::stop() {
    alive_->store(false);
    if (loop_) {
        loop_->stop();
    }
    loop_.reset();
}

bool XScreenSaverPowerEventSource::monitorsOff() {
    if (!hasDpms_) {
        return false;
    }
    xcb_connection_t* xcb = loop_->connection().get();
    XcbReply<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(xcb, xcb_dpms_info(xcb), nullptr));
    return info && info->state != 0 && info->power_level != XCB_DPMS_DPMS_MODE_ON;
}

void XScreenSaverPowerEventSource::update() {
    bool asleep = saverOn_ || monitorsOff();
    if (asleep == asleep_) {
        return;
    }
    asleep_ = asleep;
    HostPowerEvent event = asleep ? HostPowerEvent::screensDidSleep : HostPowerEvent::screensDidWake;
    asio::post(executor_, [alive = alive_, handler = handler_, event] {
        if (alive->load()) {
            (*handler)(event, SleepDelayRelease());
        }
    });
}

}  // namespace quillbridge
