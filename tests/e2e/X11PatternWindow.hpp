#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <xcb/xcb.h>

namespace quillbridge {

// A borderless window over the whole X screen showing coloured bands side by side, for checking what the
// host captures. It can also draw solid patches and a full-screen scrolling texture, for a desktop that
// changes every frame. Colours are 0xRRGGBB. Use it from one thread.
class X11PatternWindow {
public:
    // Nothing when the display cannot be reached or its screen is not 24-bit.
    static std::unique_ptr<X11PatternWindow> open(std::vector<std::uint32_t> colours);
    ~X11PatternWindow();
    X11PatternWindow(const X11PatternWindow&) = delete;
    X11PatternWindow& operator=(const X11PatternWindow&) = delete;

    // Paints the bands again, with new colours, and waits until the server has drawn them.
    void paint(std::vector<std::uint32_t> colours);
    // Fills the rectangle with the colour and waits until the server has drawn it.
    void fill(int x, int y, int w, int h, std::uint32_t colour);
    // Copies a busy texture onto the whole window, scrolled by `offset` pixels, and waits until it is drawn.
    void drawTexture(int offset);
    const std::vector<std::uint32_t>& colours() const { return colours_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    X11PatternWindow(xcb_connection_t* connection, xcb_screen_t* screen);
    std::uint32_t pixel(std::uint32_t colour) const;
    void makeTexture();
    void sync();

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    xcb_window_t window_ = 0;
    xcb_gcontext_t gc_ = 0;
    xcb_pixmap_t texture_ = 0;
    int textureWidth_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint32_t> colours_;
};

}  // namespace quillbridge
