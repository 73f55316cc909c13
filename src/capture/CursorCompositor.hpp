#pragma once

#include <cstddef>
#include <cstdint>

namespace quillbridge {

// Draws a cursor image over a BGRA frame. The cursor's pixels are premultiplied ARGB words (alpha in the
// high byte, as X11's XFixes hands them out); `left` and `top` place the cursor's top-left corner in frame
// pixels and may lie partly or wholly outside the frame (the visible part is drawn, nothing else is touched).
void compositeCursor(std::uint8_t* frame, std::size_t frameBytesPerRow, int frameWidth, int frameHeight,
                     const std::uint32_t* cursor, int cursorWidth, int cursorHeight, int left, int top);

}  // namespace quillbridge
