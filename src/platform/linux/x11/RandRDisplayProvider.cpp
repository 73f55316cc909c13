#include "platform/linux/x11/RandRDisplayProvider.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/randr.h>

#include "platform/linux/x11/RandREdid.hpp"

namespace quillbridge {

namespace {

CaptureStreamFailure queryFailure(std::string message) {
    return CaptureStreamFailure{std::string(captureStreamErrorDomain), captureStreamErrorCode::startFailed,
                                std::move(message)};
}

std::optional<double> refreshRate(const xcb_randr_mode_info_t& mode) {
    double verticalTotal = mode.vtotal;
    if (mode.mode_flags & XCB_RANDR_MODE_FLAG_DOUBLE_SCAN) {
        verticalTotal *= 2;
    }
    if (mode.mode_flags & XCB_RANDR_MODE_FLAG_INTERLACE) {
        verticalTotal /= 2;
    }
    if (mode.dot_clock == 0 || mode.htotal == 0 || verticalTotal <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(mode.dot_clock) / (mode.htotal * verticalTotal);
}

bool hasBuiltInConnectorName(std::string_view name) {
    for (std::string_view prefix : {"eDP", "LVDS", "DSI"}) {
        if (name.size() >= prefix.size() &&
            std::equal(prefix.begin(), prefix.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            return true;
        }
    }
    return false;
}

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name) {
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.data()),
        nullptr));
    return reply ? reply->atom : XCB_NONE;
}

std::vector<std::uint8_t> outputProperty(xcb_connection_t* connection, xcb_randr_output_t output,
                                         xcb_atom_t property) {
    if (property == XCB_NONE) {
        return {};
    }
    XcbReply<xcb_randr_get_output_property_reply_t> reply(xcb_randr_get_output_property_reply(
        connection, xcb_randr_get_output_property(connection, output, property, XCB_ATOM_ANY, 0, 1024, 0, 0),
        nullptr));
    if (!reply) {
        return {};
    }
    const auto* data = xcb_randr_get_output_property_data(reply.get());
    const int length = xcb_randr_get_output_property_data_length(reply.get()) * (reply->format / 8);
    return std::vector<std::uint8_t>(data, data + std::max(0, length));
}

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom) {
    XcbReply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
    if (!reply) {
        return {};
    }
    return std::string(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
}

}  // namespace

std::unique_ptr<RandRDisplayProvider> RandRDisplayProvider::open(const std::string& displayName) {
    auto connection = XcbConnection::open(displayName);
    if (!connection || !connection->hasExtension("RANDR")) {
        return nullptr;
    }
    xcb_connection_t* c = connection->get();
    XcbReply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    if (!version || (version->major_version == 1 && version->minor_version < 3)) {
        return nullptr;
    }
    const std::uint8_t eventBase = xcb_get_extension_data(c, &xcb_randr_id)->first_event;
    xcb_randr_select_input(c, connection->root(),
                           XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                               XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_PROPERTY);
    xcb_flush(c);
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        return nullptr;
    }
    return std::unique_ptr<RandRDisplayProvider>(
        new RandRDisplayProvider(std::move(connection), eventBase, wake));
}

RandRDisplayProvider::RandRDisplayProvider(std::unique_ptr<XcbConnection> connection, std::uint8_t eventBase,
                                           int wakeDescriptor)
    : connection_(std::move(connection)), eventBase_(eventBase), wakeDescriptor_(wakeDescriptor) {
    watcher_ = std::thread([this] { watch(); });
}

RandRDisplayProvider::~RandRDisplayProvider() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(wakeDescriptor_, &one, sizeof one);
    watcher_.join();
    close(wakeDescriptor_);
}

void RandRDisplayProvider::setDisplaysChangedHandler(std::function<void()> handler) {
    std::lock_guard lock(handlerMutex_);
    handler_ = std::move(handler);
}

void RandRDisplayProvider::watch() {
    xcb_connection_t* c = connection_->get();
    pollfd descriptors[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {wakeDescriptor_, POLLIN, 0}};
    for (;;) {
        bool changed = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const std::uint8_t type = event->response_type & 0x7F;
            if (type == eventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                type == eventBase_ + XCB_RANDR_NOTIFY) {
                changed = true;
            }
            std::free(event);
        }
        if (changed) {
            std::function<void()> handler;
            {
                std::lock_guard lock(handlerMutex_);
                handler = handler_;
            }
            if (handler) {
                handler();
            }
        }
        if (connection_->hasError()) {
            return;
        }
        if (poll(descriptors, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (descriptors[1].revents != 0) {
            return;
        }
    }
}

std::expected<std::vector<CaptureDisplay>, CaptureStreamFailure> RandRDisplayProvider::availableDisplays() {
    std::lock_guard lock(queryMutex_);
    xcb_connection_t* c = connection_->get();
    if (connection_->hasError()) {
        return std::unexpected(queryFailure("The connection to the X server was lost"));
    }
    XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
        xcb_randr_get_screen_resources_current_reply(
            c, xcb_randr_get_screen_resources_current(c, connection_->root()), nullptr));
    if (!resources) {
        return std::unexpected(queryFailure("The X server did not describe its outputs"));
    }
    const xcb_atom_t edidAtom = internAtom(c, "EDID");
    const xcb_atom_t connectorTypeAtom = internAtom(c, "ConnectorType");
    std::span<const xcb_randr_mode_info_t> modes(
        xcb_randr_get_screen_resources_current_modes(resources.get()),
        xcb_randr_get_screen_resources_current_modes_length(resources.get()));
    std::span<const xcb_randr_output_t> outputs(
        xcb_randr_get_screen_resources_current_outputs(resources.get()),
        xcb_randr_get_screen_resources_current_outputs_length(resources.get()));

    std::vector<CaptureDisplay> displays;
    for (xcb_randr_output_t output : outputs) {
        XcbReply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
            c, xcb_randr_get_output_info(c, output, resources->config_timestamp), nullptr));
        if (!info || info->connection != XCB_RANDR_CONNECTION_CONNECTED || info->crtc == XCB_NONE) {
            continue;
        }
        XcbReply<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(
            c, xcb_randr_get_crtc_info(c, info->crtc, resources->config_timestamp), nullptr));
        if (!crtc || crtc->width == 0 || crtc->height == 0) {
            continue;
        }
        CaptureDisplay display;
        display.displayID = output;
        display.connectorName.assign(
            reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
            xcb_randr_get_output_info_name_length(info.get()));
        display.frame =
            CaptureRect{double(crtc->x), double(crtc->y), double(crtc->width), double(crtc->height)};
        display.pointSize = CaptureSize{double(crtc->width), double(crtc->height)};
        for (const auto& mode : modes) {
            if (mode.id == crtc->mode) {
                // A rotated CRTC shows the mode sideways; the pixel size is what the desktop shows.
                display.pixelWidth = crtc->width;
                display.pixelHeight = crtc->height;
                display.modeRefreshRate = refreshRate(mode);
            }
        }
        const auto edid = outputProperty(c, output, edidAtom);
        display.localizedName = randrEdid::monitorName(edid);
        display.uuid = randrEdid::displayUuid(edid, display.connectorName);
        display.isBuiltIn = hasBuiltInConnectorName(display.connectorName);
        if (!display.isBuiltIn) {
            const auto connectorType = outputProperty(c, output, connectorTypeAtom);
            if (connectorType.size() == 4) {
                xcb_atom_t atom;
                std::memcpy(&atom, connectorType.data(), sizeof atom);
                display.isBuiltIn = atomName(c, atom) == "Panel";
            }
        }
        displays.push_back(std::move(display));
    }
    return displays;
}

}  // namespace quillbridge
