#include "support/headset/DecodedVideoFrame.hpp"

#include <algorithm>
#include <cmath>

namespace quillbridge {
namespace {

struct Coefficients {
    double redFromCr;
    double greenFromCb;
    double greenFromCr;
    double blueFromCb;
};

Coefficients coefficients(DecodedVideoFrame::Matrix matrix) {
    switch (matrix) {
        case DecodedVideoFrame::Matrix::bt709:
            return {1.5748, 0.187324, 0.468124, 1.8556};
        case DecodedVideoFrame::Matrix::bt2020:
            return {1.4746, 0.164553, 0.571353, 1.8814};
        case DecodedVideoFrame::Matrix::bt601:
            break;
    }
    return {1.402, 0.344136, 0.714136, 1.772};
}

int clampComponent(double value) {
    return static_cast<int>(std::clamp(std::lround(value), 0L, 255L));
}

}  // namespace

DecodedVideoFrame::Rgb DecodedVideoFrame::rgbAt(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height || luma.empty()) {
        return {};
    }
    const std::size_t chromaIndex =
        static_cast<std::size_t>(y / 2) * static_cast<std::size_t>(chromaWidth()) +
        static_cast<std::size_t>(x / 2);
    double luminance =
        luma[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    double blueDifference = chromaBlue[chromaIndex] - 128.0;
    double redDifference = chromaRed[chromaIndex] - 128.0;
    if (!isFullRange) {
        luminance = (luminance - 16.0) * 255.0 / 219.0;
        blueDifference *= 255.0 / 224.0;
        redDifference *= 255.0 / 224.0;
    }
    const auto c = coefficients(matrix);
    return {clampComponent(luminance + c.redFromCr * redDifference),
            clampComponent(luminance - c.greenFromCb * blueDifference - c.greenFromCr * redDifference),
            clampComponent(luminance + c.blueFromCb * blueDifference)};
}

DecodedVideoFrame::Rgb DecodedVideoFrame::averageRgb(int x, int y, int w, int h) const {
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = std::min(x + w, width);
    const int bottom = std::min(y + h, height);
    if (left >= right || top >= bottom) {
        return {};
    }
    double red = 0;
    double green = 0;
    double blue = 0;
    for (int row = top; row < bottom; ++row) {
        for (int column = left; column < right; ++column) {
            const auto pixel = rgbAt(column, row);
            red += pixel.red;
            green += pixel.green;
            blue += pixel.blue;
        }
    }
    const double count = static_cast<double>(right - left) * (bottom - top);
    return {static_cast<int>(std::lround(red / count)), static_cast<int>(std::lround(green / count)),
            static_cast<int>(std::lround(blue / count))};
}

}  // namespace quillbridge
