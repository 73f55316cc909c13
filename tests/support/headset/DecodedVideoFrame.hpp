#pragma once

#include <cstdint>
#include <vector>

namespace quillbridge {

// One picture the headset decoded from the host's video stream, as 8-bit planar Y'CbCr 4:2:0 (10-bit
// pictures are scaled down to 8 bits), with what is needed to turn it into RGB.
struct DecodedVideoFrame {
    enum class Matrix { bt601, bt709, bt2020 };

    struct Rgb {
        int red = 0;
        int green = 0;
        int blue = 0;
    };

    std::uint64_t frameID = 0;
    std::uint64_t presentationTimeNanoseconds = 0;
    bool isKeyFrame = false;
    int width = 0;
    int height = 0;
    // width × height luma samples, then two planes of ((width + 1) / 2) × ((height + 1) / 2) samples.
    std::vector<std::uint8_t> luma;
    std::vector<std::uint8_t> chromaBlue;
    std::vector<std::uint8_t> chromaRed;
    Matrix matrix = Matrix::bt601;
    bool isFullRange = false;

    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return (height + 1) / 2; }

    // The colour of one pixel (0 to 255 per component, clamped), by the stream's matrix and range.
    Rgb rgbAt(int x, int y) const;
    // The mean colour of the rectangle [x, x + w) × [y, y + h), clipped to the picture.
    Rgb averageRgb(int x, int y, int w, int h) const;
    Rgb averageRgb() const { return averageRgb(0, 0, width, height); }
};

}  // namespace quillbridge
