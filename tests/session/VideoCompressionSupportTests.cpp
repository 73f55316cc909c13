#include "session/VideoCompressionSupport.hpp"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "session/VideoColorAttachmentKeys.hpp"

namespace quillbridge {
namespace {

struct BitrateCase {
    std::int64_t width;
    std::int64_t height;
    std::int64_t frameRate;
    std::int64_t bitsPerSecond;
};

TEST(RecommendedBitrateTest, FollowsTheRateCurveBetweenFloorAndCeiling) {
    const BitrateCase cases[] = {
        {1920, 1080, 60, 15'693'145},
        {1920, 1080, 30, 9'331'200},
        {3840, 2160, 60, 62'772'581},
        {1280, 720, 30, 4'147'200},
        // Rates that are no multiple of 30 need floating division.
        {1920, 1080, 50, 13'687'497},
        {1920, 1080, 90, 21'270'536},
        {1920, 1080, 120, 26'392'619},
        {640, 360, 30, 1'036'800},
        // Floor and ceiling.
        {320, 240, 30, 1'000'000},
        {7680, 4320, 120, 150'000'000},
        {0, 0, 60, 1'000'000},
        {1920, 1080, 0, 1'000'000},
        {-1920, 1080, 60, 1'000'000},
        {1920, 1080, -60, 1'000'000},
        {std::numeric_limits<std::int64_t>::max(), 2, 60, 150'000'000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recommendedBitrate(c.width, c.height, c.frameRate), c.bitsPerSecond)
            << c.width << "x" << c.height << "@" << c.frameRate;
    }
}

TEST(RoundedPointSizeTest, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(roundedPointSize(1439.5, 899.49), (std::pair<std::int64_t, std::int64_t>{1440, 899}));
    EXPECT_EQ(roundedPointSize(2.5, 0.5), (std::pair<std::int64_t, std::int64_t>{3, 1}));
    EXPECT_EQ(roundedPointSize(std::numeric_limits<double>::quiet_NaN(), 10),
              (std::pair<std::int64_t, std::int64_t>{0, 10}));
}

VideoEncoderOutputFormat hevcFormat() {
    VideoEncoderOutputFormat format;
    format.codec = StreamCodec::hevc;
    format.width = 1920;
    format.height = 1080;
    format.parameterSets = {{0x40, 0x01, 0x0C}, {0x42, 0x01, 0x01}, {0x44, 0x01, 0xC1}};
    return format;
}

TEST(VideoFormatDescriptionMessageTest, DescribesTheEncoderOutput) {
    EXPECT_FALSE(makeVideoFormatDescriptionMessage(nullptr, std::nullopt, 1920, 1080));

    const auto format = hevcFormat();
    const auto message = makeVideoFormatDescriptionMessage(&format, std::nullopt, 1511.5, 944.4);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->codec, StreamCodec::hevc);
    EXPECT_EQ(message->width, 1920);
    EXPECT_EQ(message->height, 1080);
    EXPECT_EQ(message->pointWidth, 1512);
    EXPECT_EQ(message->pointHeight, 944);
    EXPECT_EQ(message->nalUnitHeaderLength, 4);
    EXPECT_EQ(message->parameterSets, format.parameterSets);
    EXPECT_FALSE(message->colorProperties);
}

TEST(VideoFormatDescriptionMessageTest, AnEmptyParameterSetLeavesNone) {
    auto format = hevcFormat();
    format.parameterSets[1].clear();
    const auto message = makeVideoFormatDescriptionMessage(&format, std::nullopt, 0, 0);
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->parameterSets.empty());
}

TEST(VideoFormatDescriptionMessageTest, OutputColoursAreCompletedFromThoseOfTheInput) {
    VideoColorProperties input;
    input.colorPrimaries = std::string(videoColorPrimaries::p3D65);
    input.transferFunction = std::string(videoTransferFunction::sRGB);
    input.masteringDisplayColorVolume = Bytes(24, 7);

    auto format = hevcFormat();
    // Without colours of its own, the output takes the input's.
    auto message = makeVideoFormatDescriptionMessage(&format, input, 0, 0);
    ASSERT_TRUE(message && message->colorProperties);
    EXPECT_EQ(*message->colorProperties, input.message());

    VideoColorProperties output;
    output.yCbCrMatrix = std::string(videoYCbCrMatrix::itu601);
    output.transferFunction = std::string(videoTransferFunction::itu709);
    format.colorProperties = output;
    message = makeVideoFormatDescriptionMessage(&format, input, 0, 0);
    ASSERT_TRUE(message && message->colorProperties);
    EXPECT_EQ(message->colorProperties->colorPrimaries, std::string(videoColorPrimaries::p3D65));
    EXPECT_EQ(message->colorProperties->transferFunction, std::string(videoTransferFunction::itu709));
    EXPECT_EQ(message->colorProperties->yCbCrMatrix, std::string(videoYCbCrMatrix::itu601));
    EXPECT_EQ(message->colorProperties->masteringDisplayColorVolume, Bytes(24, 7));

    // Output colours alone are sent as they are.
    message = makeVideoFormatDescriptionMessage(&format, std::nullopt, 0, 0);
    ASSERT_TRUE(message && message->colorProperties);
    EXPECT_EQ(*message->colorProperties, output.message());
}

}  // namespace
}  // namespace quillbridge
