#include "X11PatternWindow.hpp"

#include <bit>
#include <cstdlib>
#include <utility>

namespace quillbridge {

std::unique_ptr<X11PatternWindow> X11PatternWindow::open(std::vector<std::uint32_t> colours) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto iterator = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int index = 0; index < screenNumber && iterator.rem > 0; ++index) {
        xcb_screen_next(&iterator);
    }
    std::unique_ptr<X11PatternWindow> window(new X11PatternWindow(connection, iterator.data));
    window->paint(std::move(colours));
    return window;
}

X11PatternWindow::X11PatternWindow(xcb_connection_t* connection, xcb_screen_t* screen)
    : connection_(connection), screen_(screen) {
    width_ = screen_->width_in_pixels;
    height_ = screen_->height_in_pixels;
    window_ = xcb_generate_id(connection_);
    const std::uint32_t values[] = {screen_->black_pixel, 1};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen_->root, 0, 0,
                      static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(connection_, window_);
    gc_ = xcb_generate_id(connection_);
    xcb_create_gc(connection_, gc_, window_, 0, nullptr);
}

X11PatternWindow::~X11PatternWindow() {
    xcb_free_gc(connection_, gc_);
    xcb_destroy_window(connection_, window_);
    xcb_flush(connection_);
    xcb_disconnect(connection_);
}

std::uint32_t X11PatternWindow::pixel(std::uint32_t colour) const {
    // The 24-bit TrueColor visual of the test server: 0xRRGGBB is the pixel value.
    return colour & 0xFFFFFFu;
}

void X11PatternWindow::paint(std::vector<std::uint32_t> colours) {
    colours_ = std::move(colours);
    if (colours_.empty()) {
        return;
    }
    const int bandWidth = width_ / static_cast<int>(colours_.size());
    for (std::size_t index = 0; index < colours_.size(); ++index) {
        const std::uint32_t foreground = pixel(colours_[index]);
        xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &foreground);
        const int x = static_cast<int>(index) * bandWidth;
        const int w = index + 1 == colours_.size() ? width_ - x : bandWidth;
        const xcb_rectangle_t band{static_cast<std::int16_t>(x), 0, static_cast<std::uint16_t>(w),
                                   static_cast<std::uint16_t>(height_)};
        xcb_poly_fill_rectangle(connection_, window_, gc_, 1, &band);
    }
    // A round trip: the drawing requests before it have been carried out.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace quillbridge
