#pragma once

#include <cstdint>
#include <memory>

#include <xcb/xcb.h>

namespace quillbridge {

// Draws straight onto the X screen's root window (over every other window), for measuring what the host
// captures: solid patches whose colour marks a change, and a full-screen scrolling texture for a desktop
// that changes every frame. Use it from one thread.
class GlassPainter {
public:
    // Nothing when the display ($DISPLAY) cannot be reached.
    static std::unique_ptr<GlassPainter> open();
    ~GlassPainter();
    GlassPainter(const GlassPainter&) = delete;
    GlassPainter& operator=(const GlassPainter&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // Fills the rectangle with the colour (0xRRGGBB) and waits until the server has drawn it.
    void fill(int x, int y, int w, int h, std::uint32_t colour);
    // Copies the texture onto the whole screen, scrolled by `offset` pixels, and waits until it is drawn.
    void drawTexture(int offset);

private:
    GlassPainter(xcb_connection_t* connection, xcb_screen_t* screen);
    void makeTexture();
    void sync();

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    xcb_gcontext_t gc_ = 0;
    xcb_pixmap_t texture_ = 0;
    int textureWidth_ = 0;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace quillbridge
