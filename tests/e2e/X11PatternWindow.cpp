#include "X11PatternWindow.hpp"

#include <algorithm>
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
    // The pixel values below are 0xRRGGBB, which holds on a 24-bit TrueColor screen only.
    if (iterator.rem == 0 || iterator.data->root_depth != 24) {
        xcb_disconnect(connection);
        return nullptr;
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
    // No exposure events for copies from the texture: nothing reads them.
    const std::uint32_t gcValues[] = {0};
    xcb_create_gc(connection_, gc_, window_, XCB_GC_GRAPHICS_EXPOSURES, gcValues);
}

X11PatternWindow::~X11PatternWindow() {
    if (texture_ != 0) {
        xcb_free_pixmap(connection_, texture_);
    }
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
    sync();
}

void X11PatternWindow::fill(int x, int y, int w, int h, std::uint32_t colour) {
    const std::uint32_t foreground = pixel(colour);
    xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &foreground);
    const xcb_rectangle_t rectangle{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                    static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
    xcb_poly_fill_rectangle(connection_, window_, gc_, 1, &rectangle);
    sync();
}

void X11PatternWindow::drawTexture(int offset) {
    if (texture_ == 0) {
        makeTexture();
    }
    const int span = textureWidth_ - width_;
    const int source = ((offset % span) + span) % span;
    xcb_copy_area(connection_, texture_, window_, gc_, static_cast<std::int16_t>(source), 0, 0, 0,
                  static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_));
    sync();
}

// A texture twice as wide as the screen, like a busy page: blocks of colour with fine detail inside, so
// that the encoder has real work on every scrolled frame.
void X11PatternWindow::makeTexture() {
    textureWidth_ = width_ * 2;
    texture_ = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, 24, texture_, screen_->root, static_cast<std::uint16_t>(textureWidth_),
                      static_cast<std::uint16_t>(height_));
    constexpr int rowsPerRequest = 16;
    std::vector<std::uint32_t> rows(static_cast<std::size_t>(textureWidth_) * rowsPerRequest);
    std::uint32_t seed = 0x2545F491u;
    std::vector<std::uint32_t> blockColours(
        static_cast<std::size_t>((textureWidth_ / 32 + 1) * (height_ / 32 + 1)));
    for (auto& colour : blockColours) {
        seed = seed * 1664525u + 1013904223u;
        colour = seed >> 8;
    }
    const int blocksPerRow = textureWidth_ / 32 + 1;
    for (int top = 0; top < height_; top += rowsPerRequest) {
        const int count = std::min(rowsPerRequest, height_ - top);
        for (int row = 0; row < count; ++row) {
            const int y = top + row;
            for (int x = 0; x < textureWidth_; ++x) {
                std::uint32_t colour =
                    blockColours[static_cast<std::size_t>((y / 32) * blocksPerRow + x / 32)];
                // Thin lines of "text" across each block.
                if ((y % 8) < 2 && ((x * 7 + y * 3) % 11) < 6) {
                    colour ^= 0xFFFFFFu;
                }
                rows[static_cast<std::size_t>(row * textureWidth_ + x)] = colour;
            }
        }
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, texture_, gc_,
                      static_cast<std::uint16_t>(textureWidth_), static_cast<std::uint16_t>(count), 0,
                      static_cast<std::int16_t>(top), 0, 24,
                      static_cast<std::uint32_t>(count * textureWidth_ * 4),
                      reinterpret_cast<const std::uint8_t*>(rows.data()));
    }
}

void X11PatternWindow::sync() {
    // A round trip: every request before it has been carried out when the reply arrives.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace quillbridge
