#include "platform/linux/video/VideoFrameConverter.hpp"

#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>

namespace quillbridge {
namespace {

bool fits(const CapturedPixelBuffer& pixels, const AVFrame& picture) {
    return pixels.planes.size() == 1 && pixels.planes[0].data != nullptr && pixels.width > 0 &&
           pixels.height > 0 && pixels.planes[0].bytesPerRow >= static_cast<std::size_t>(pixels.width) * 4 &&
           static_cast<int>(pixels.width) == picture.width &&
           static_cast<int>(pixels.height) == picture.height;
}

struct Rgb {
    float r;
    float g;
    float b;
};

// One 'l10r' pixel (blue in bits 0-9) as normalised R'G'B'.
Rgb readAr30(const std::uint8_t* pixel) {
    const std::uint32_t word =
        static_cast<std::uint32_t>(pixel[0]) | static_cast<std::uint32_t>(pixel[1]) << 8 |
        static_cast<std::uint32_t>(pixel[2]) << 16 | static_cast<std::uint32_t>(pixel[3]) << 24;
    constexpr float scale = 1.0f / 1023.0f;
    return {static_cast<float>((word >> 20) & 0x3FF) * scale,
            static_cast<float>((word >> 10) & 0x3FF) * scale, static_cast<float>(word & 0x3FF) * scale};
}

Rgb readBgra(const std::uint8_t* pixel) {
    constexpr float scale = 1.0f / 255.0f;
    return {pixel[2] * scale, pixel[1] * scale, pixel[0] * scale};
}

std::uint16_t clamp10(float value) {
    return static_cast<std::uint16_t>(std::clamp(value + 0.5f, 0.0f, 1023.0f));
}

// BT.2020 non-constant luminance, 10-bit limited range.
void convertTo10Bit(const CapturedPixelBuffer& pixels, AVFrame& picture) {
    constexpr float kr = 0.2627f;
    constexpr float kb = 0.0593f;
    constexpr float kg = 1.0f - kr - kb;
    const bool is10Bit = pixels.pixelFormat == pixelFormatARGB2101010;
    const auto read = is10Bit ? readAr30 : readBgra;
    const auto* source = pixels.planes[0].data;
    const auto sourceStride = pixels.planes[0].bytesPerRow;
    const int width = picture.width;
    const int height = picture.height;
    for (int y = 0; y < height; y += 2) {
        auto* luma0 = reinterpret_cast<std::uint16_t*>(picture.data[0] + y * picture.linesize[0]);
        auto* luma1 = reinterpret_cast<std::uint16_t*>(picture.data[0] +
                                                       std::min(y + 1, height - 1) * picture.linesize[0]);
        auto* cb = reinterpret_cast<std::uint16_t*>(picture.data[1] + (y / 2) * picture.linesize[1]);
        auto* cr = reinterpret_cast<std::uint16_t*>(picture.data[2] + (y / 2) * picture.linesize[2]);
        const std::uint8_t* rows[2] = {source + y * sourceStride,
                                       source + std::min(y + 1, height - 1) * sourceStride};
        std::uint16_t* lumaRows[2] = {luma0, luma1};
        for (int x = 0; x < width; x += 2) {
            float sumR = 0;
            float sumB = 0;
            float sumY = 0;
            for (int row = 0; row < 2; ++row) {
                for (int column = 0; column < 2; ++column) {
                    const int px = std::min(x + column, width - 1);
                    const Rgb rgb = read(rows[row] + px * 4);
                    const float luma = kr * rgb.r + kg * rgb.g + kb * rgb.b;
                    lumaRows[row][px] = clamp10(64.0f + 876.0f * luma);
                    sumR += rgb.r;
                    sumB += rgb.b;
                    sumY += luma;
                }
            }
            const float meanY = sumY / 4;
            cb[x / 2] = clamp10(512.0f + 896.0f * (sumB / 4 - meanY) / (2.0f * (1.0f - kb)));
            cr[x / 2] = clamp10(512.0f + 896.0f * (sumR / 4 - meanY) / (2.0f * (1.0f - kr)));
        }
    }
}

}  // namespace

bool VideoFrameConverter::convert(const CapturedPixelBuffer& pixels, AVFrame& picture) {
    if (!fits(pixels, picture))
        return false;
    if (pixels.pixelFormat != pixelFormatBGRA && pixels.pixelFormat != pixelFormatARGB2101010)
        return false;
    if (picture.format == AV_PIX_FMT_YUV420P10LE) {
        convertTo10Bit(pixels, picture);
        return true;
    }
    return convertTo8Bit(pixels, picture);
}

bool VideoFrameConverter::convertTo8Bit(const CapturedPixelBuffer& pixels, AVFrame& picture) {
    const std::uint8_t* argb = pixels.planes[0].data;
    int argbStride = static_cast<int>(pixels.planes[0].bytesPerRow);
    const int width = picture.width;
    const int height = picture.height;
    if (pixels.pixelFormat == pixelFormatARGB2101010) {
        scratch_.resize(static_cast<std::size_t>(width) * height * 4);
        libyuv::AR30ToARGB(argb, argbStride, scratch_.data(), width * 4, width, height);
        argb = scratch_.data();
        argbStride = width * 4;
    }
    switch (picture.format) {
        case AV_PIX_FMT_YUV420P:
            return libyuv::ARGBToI420(argb, argbStride, picture.data[0], picture.linesize[0], picture.data[1],
                                      picture.linesize[1], picture.data[2], picture.linesize[2], width,
                                      height) == 0;
        case AV_PIX_FMT_NV12:
            return libyuv::ARGBToNV12(argb, argbStride, picture.data[0], picture.linesize[0], picture.data[1],
                                      picture.linesize[1], width, height) == 0;
        default:
            return false;
    }
}

}  // namespace quillbridge
