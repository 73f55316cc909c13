#include "platform/linux/video/VideoFrameConverter.hpp"

#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
extern "C" {
#include <libavutil/frame.h>
}

namespace quillbridge {
namespace {

// A 4x2 frame of one colour, given as 10-bit R, G, B.
std::shared_ptr<CapturedPixelBuffer> flatFrame(std::uint32_t pixelFormat, std::uint32_t red,
                                               std::uint32_t green, std::uint32_t blue) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(4 * 2 * 4);
    for (std::size_t pixel = 0; pixel < 8; ++pixel) {
        auto* p = bytes->data() + pixel * 4;
        if (pixelFormat == pixelFormatARGB2101010) {
            const std::uint32_t word = 3u << 30 | red << 20 | green << 10 | blue;
            p[0] = word & 0xFF;
            p[1] = (word >> 8) & 0xFF;
            p[2] = (word >> 16) & 0xFF;
            p[3] = word >> 24;
        } else {
            p[0] = static_cast<std::uint8_t>(blue >> 2);
            p[1] = static_cast<std::uint8_t>(green >> 2);
            p[2] = static_cast<std::uint8_t>(red >> 2);
            p[3] = 255;
        }
    }
    auto buffer = std::make_shared<CapturedPixelBuffer>();
    buffer->width = 4;
    buffer->height = 2;
    buffer->pixelFormat = pixelFormat;
    buffer->planes = {{bytes->data(), 16}};
    buffer->storage = bytes;
    return buffer;
}

struct Picture {
    AVFrame* frame = av_frame_alloc();
    Picture(AVPixelFormat format, int width, int height) {
        frame->format = format;
        frame->width = width;
        frame->height = height;
        av_frame_get_buffer(frame, 0);
    }
    ~Picture() { av_frame_free(&frame); }
    int sample(int plane, int x, int y) const {
        if (frame->format == AV_PIX_FMT_YUV420P10LE)
            return reinterpret_cast<const std::uint16_t*>(frame->data[plane] + y * frame->linesize[plane])[x];
        return frame->data[plane][y * frame->linesize[plane] + x];
    }
};

TEST(VideoFrameConverterTest, ConvertsToLimitedRangeYuv) {
    struct Case {
        const char* name;
        std::uint32_t pixelFormat;
        AVPixelFormat target;
        std::uint32_t red, green, blue;
        int y, cb, cr;
    };
    const Case cases[] = {
        // BT.2020 in 10 bits.
        {"10-bit white", pixelFormatARGB2101010, AV_PIX_FMT_YUV420P10LE, 1023, 1023, 1023, 940, 512, 512},
        {"10-bit black", pixelFormatARGB2101010, AV_PIX_FMT_YUV420P10LE, 0, 0, 0, 64, 512, 512},
        {"10-bit red", pixelFormatARGB2101010, AV_PIX_FMT_YUV420P10LE, 1023, 0, 0, 294, 387, 960},
        {"10-bit blue", pixelFormatARGB2101010, AV_PIX_FMT_YUV420P10LE, 0, 0, 1023, 116, 960, 476},
        {"8-bit white in 10 bits", pixelFormatBGRA, AV_PIX_FMT_YUV420P10LE, 1020, 1020, 1020, 940, 512, 512},
        // libyuv's BT.601 in 8 bits, from both inputs.
        {"8-bit white", pixelFormatBGRA, AV_PIX_FMT_YUV420P, 1020, 1020, 1020, 235, 128, 128},
        {"8-bit black", pixelFormatBGRA, AV_PIX_FMT_YUV420P, 0, 0, 0, 16, 128, 128},
        {"10-bit red in 8 bits", pixelFormatARGB2101010, AV_PIX_FMT_YUV420P, 1023, 0, 0, 82, 90, 240},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Picture picture(c.target, 4, 2);
        VideoFrameConverter converter;
        ASSERT_TRUE(converter.convert(*flatFrame(c.pixelFormat, c.red, c.green, c.blue), *picture.frame));
        EXPECT_NEAR(picture.sample(0, 3, 1), c.y, 1);
        EXPECT_NEAR(picture.sample(1, 1, 0), c.cb, 1);
        EXPECT_NEAR(picture.sample(2, 1, 0), c.cr, 1);
    }
}

TEST(VideoFrameConverterTest, RefusesPixelsThatDoNotFit) {
    VideoFrameConverter converter;
    Picture picture(AV_PIX_FMT_YUV420P, 4, 2);
    Picture larger(AV_PIX_FMT_YUV420P, 8, 2);
    EXPECT_FALSE(converter.convert(*flatFrame(pixelFormatBGRA, 0, 0, 0), *larger.frame));
    auto shortRows = flatFrame(pixelFormatBGRA, 0, 0, 0);
    shortRows->planes[0].bytesPerRow = 8;
    EXPECT_FALSE(converter.convert(*shortRows, *picture.frame));
    auto other = flatFrame(pixelFormatBGRA, 0, 0, 0);
    other->pixelFormat = fourCharacterCode('y', 'u', 'v', 's');
    EXPECT_FALSE(converter.convert(*other, *picture.frame));
    auto noPlanes = flatFrame(pixelFormatBGRA, 0, 0, 0);
    noPlanes->planes.clear();
    EXPECT_FALSE(converter.convert(*noPlanes, *picture.frame));
}

}  // namespace
}  // namespace quillbridge
