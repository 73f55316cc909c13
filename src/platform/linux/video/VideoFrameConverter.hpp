#pragma once

#include <cstdint>
#include <vector>

#include "session/CapturedVideoFrame.hpp"

struct AVFrame;

namespace quillbridge {

// Turns captured RGB pixels (BGRA, or 10-bit 'l10r') into an encoder's YUV 4:2:0 picture. 8-bit pictures
// (YUV420P, NV12) use libyuv's BT.601 limited-range conversion; 10-bit pictures (YUV420P10) use BT.2020
// non-constant-luminance coefficients, limited range. Used by one thread at a time.
class VideoFrameConverter {
public:
    // Fills `picture`, whose format, width and height are set and whose buffers are allocated and
    // writable. False when the pixels do not fit the picture or their format is not supported.
    bool convert(const CapturedPixelBuffer& pixels, AVFrame& picture);

private:
    bool convertTo8Bit(const CapturedPixelBuffer& pixels, AVFrame& picture);
    std::vector<std::uint8_t> scratch_;
};

}  // namespace quillbridge
