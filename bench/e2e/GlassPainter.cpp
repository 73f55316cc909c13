#include "GlassPainter.hpp"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace quillbridge {

std::unique_ptr<GlassPainter> GlassPainter::open() {
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
    if (iterator.rem == 0 || iterator.data->root_depth != 24) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<GlassPainter>(new GlassPainter(connection, iterator.data));
}

GlassPainter::GlassPainter(xcb_connection_t* connection, xcb_screen_t* screen)
    : connection_(connection),
      screen_(screen),
      width_(screen->width_in_pixels),
      height_(screen->height_in_pixels) {
    gc_ = xcb_generate_id(connection_);
    // Draw over the root window's children too: whatever windows exist, the patch is on the glass.
    const std::uint32_t values[] = {XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    xcb_create_gc(connection_, gc_, screen_->root, XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, values);
    makeTexture();
    sync();
}

GlassPainter::~GlassPainter() {
    if (texture_ != 0) {
        xcb_free_pixmap(connection_, texture_);
    }
    xcb_free_gc(connection_, gc_);
    xcb_flush(connection_);
    xcb_disconnect(connection_);
}

void GlassPainter::fill(int x, int y, int w, int h, std::uint32_t colour) {
    // A 24-bit TrueColor screen: the pixel value is the colour itself.
    xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &colour);
    const xcb_rectangle_t rectangle{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                    static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
    xcb_poly_fill_rectangle(connection_, screen_->root, gc_, 1, &rectangle);
    sync();
}

void GlassPainter::drawTexture(int offset) {
    const int source =
        ((offset % (textureWidth_ - width_)) + (textureWidth_ - width_)) % (textureWidth_ - width_);
    xcb_copy_area(connection_, texture_, screen_->root, gc_, static_cast<std::int16_t>(source), 0, 0, 0,
                  static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_));
    sync();
}

// A texture twice as wide as the screen, like a busy page: blocks of colour with fine detail inside, so
// that the encoder has real work on every scrolled frame.
void GlassPainter::makeTexture() {
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

void GlassPainter::sync() {
    // A round trip: every request before it has been carried out when the reply arrives.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace quillbridge
