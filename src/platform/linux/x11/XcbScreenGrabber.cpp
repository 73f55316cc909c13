#include "platform/linux/x11/XcbScreenGrabber.hpp"

#include "platform/linux/x11/XcbSharedSegment.hpp"

#include <cstring>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

namespace quillbridge {

namespace {

// Bits per pixel of the server's Z-pixmap format of a depth; 0 when it has none.
int bitsPerPixel(xcb_connection_t* connection, std::uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0;
         xcb_format_next(&formats)) {
        if (formats.data->depth == depth) {
            return formats.data->bits_per_pixel;
        }
    }
    return 0;
}

}  // namespace

std::unique_ptr<XcbScreenGrabber> XcbScreenGrabber::create(XcbConnection& connection, bool allowSharedMemory,
                                                           std::string* error) {
    const std::uint8_t depth = connection.screen()->root_depth;
    if ((depth != 24 && depth != 32) || bitsPerPixel(connection.get(), depth) != 32 ||
        xcb_get_setup(connection.get())->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        if (error) {
            *error = "The X screen's pixel format is not 32-bit BGRA (depth " + std::to_string(depth) + ")";
        }
        return nullptr;
    }
    std::unique_ptr<XcbScreenGrabber> grabber(new XcbScreenGrabber(connection));
    grabber->setRootSize(connection.screen()->width_in_pixels, connection.screen()->height_in_pixels);
    if (allowSharedMemory && connection.hasExtension("MIT-SHM")) {
        XcbReply<xcb_shm_query_version_reply_t> version(
            xcb_shm_query_version_reply(connection.get(), xcb_shm_query_version(connection.get()), nullptr));
        const auto* screen = connection.screen();
        if (version &&
            grabber->attachSegment(std::size_t{screen->width_in_pixels} * screen->height_in_pixels * 4)) {
            grabber->method_ = Method::sharedMemory;
        }
    }
    return grabber;
}

XcbScreenGrabber::~XcbScreenGrabber() {
    detachSegment();
}

bool XcbScreenGrabber::attachSegment(std::size_t size) {
    detachSegment();
    const auto attached = XcbSharedSegment::attach(connection_, size);
    if (!attached) {
        return false;
    }
    segment_ = attached->segment;
    segmentID_ = attached->id;
    segmentData_ = attached->data;
    segmentSize_ = size;
    return true;
}

void XcbScreenGrabber::detachSegment() {
    if (segmentData_ == nullptr) {
        return;
    }
    if (!connection_.hasError()) {
        xcb_shm_detach(connection_.get(), segment_);
        xcb_flush(connection_.get());
    }
    shmdt(segmentData_);
    segmentData_ = nullptr;
    segmentSize_ = 0;
    segmentID_ = -1;
}

bool XcbScreenGrabber::fits(int x, int y, int width, int height) const {
    return width > 0 && height > 0 && x >= 0 && y >= 0 && x + width <= rootWidth_ &&
           y + height <= rootHeight_ && !connection_.hasError();
}

std::optional<XcbScreenGrabber::Image> XcbScreenGrabber::grab(int x, int y, int width, int height) {
    if (!fits(x, y, width, height)) {
        return std::nullopt;
    }
    if (method_ == Method::coreGetImage) {
        return grabCore(x, y, width, height);
    }
    const std::size_t size = std::size_t(width) * height * 4;
    if (size > segmentSize_ && !attachSegment(size)) {
        return std::nullopt;
    }
    return grabShared(x, y, width, height, segment_, segmentData_);
}

std::optional<XcbScreenGrabber::Image> XcbScreenGrabber::grabInto(int x, int y, int width, int height,
                                                                  std::uint32_t segment, std::uint8_t* data) {
    if (method_ != Method::sharedMemory || data == nullptr || !fits(x, y, width, height)) {
        return std::nullopt;
    }
    return grabShared(x, y, width, height, segment, data);
}

std::optional<XcbScreenGrabber::Image> XcbScreenGrabber::grabShared(int x, int y, int width, int height,
                                                                    std::uint32_t segment,
                                                                    std::uint8_t* data) {
    auto cookie =
        xcb_shm_get_image(connection_.get(), connection_.root(), static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0);
    XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(connection_.get(), cookie, nullptr));
    if (!reply) {
        return std::nullopt;
    }
    return Image{data, std::size_t(width) * 4, width, height};
}

std::optional<XcbScreenGrabber::Image> XcbScreenGrabber::grabCore(int x, int y, int width, int height) {
    auto cookie = xcb_get_image(connection_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, connection_.root(),
                                static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), ~0u);
    XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(connection_.get(), cookie, nullptr));
    if (!reply) {
        return std::nullopt;
    }
    const std::size_t size = std::size_t(width) * height * 4;
    if (static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) < size) {
        return std::nullopt;
    }
    coreImage_.resize(size);
    std::memcpy(coreImage_.data(), xcb_get_image_data(reply.get()), size);
    return Image{coreImage_.data(), std::size_t(width) * 4, width, height};
}

}  // namespace quillbridge
