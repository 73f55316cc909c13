#include "capture/CursorCompositor.hpp"

#include <algorithm>

namespace quillbridge {

void compositeCursor(std::uint8_t* frame, std::size_t frameBytesPerRow, int frameWidth, int frameHeight,
                     const std::uint32_t* cursor, int cursorWidth, int cursorHeight, int left, int top) {
    if (frame == nullptr || cursor == nullptr || cursorWidth <= 0 || cursorHeight <= 0) {
        return;
    }
    const int firstRow = std::max(0, -top);
    const int lastRow = std::min(cursorHeight, frameHeight - top);
    const int firstColumn = std::max(0, -left);
    const int lastColumn = std::min(cursorWidth, frameWidth - left);
    for (int row = firstRow; row < lastRow; ++row) {
        std::uint8_t* target = frame + static_cast<std::size_t>(top + row) * frameBytesPerRow;
        const std::uint32_t* source = cursor + static_cast<std::size_t>(row) * cursorWidth;
        for (int column = firstColumn; column < lastColumn; ++column) {
            const std::uint32_t argb = source[column];
            const std::uint32_t alpha = argb >> 24;
            if (alpha == 0) {
                continue;
            }
            std::uint8_t* pixel = target + static_cast<std::size_t>(left + column) * 4;
            const std::uint32_t inverse = 255 - alpha;
            for (int channel = 0; channel < 3; ++channel) {
                const std::uint32_t cursorValue = (argb >> (8 * channel)) & 0xFF;
                const std::uint32_t blended = cursorValue + (pixel[channel] * inverse + 127) / 255;
                pixel[channel] = static_cast<std::uint8_t>(std::min<std::uint32_t>(blended, 255));
            }
        }
    }
}

}  // namespace quillbridge
