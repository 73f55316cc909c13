#include "platform/linux/video/AnnexBAccessUnit.hpp"

#include <gtest/gtest.h>

#include "platform/linux/video/VideoColorMapping.hpp"
#include "session/VideoColorAttachmentKeys.hpp"

namespace quillbridge {
namespace {

TEST(AnnexBAccessUnitTest, SplitsOnBothStartCodesAndDropsPadding) {
    const Bytes stream{0,    0, 0, 1, 0x67, 0xAA, 0, 0, 1, 0x68, 0xBB, 0x00,
                       0x00, 0, 0, 0, 1,    0x65, 1, 2, 3, 0,    0,    1};
    const auto units = AnnexBAccessUnit::splitNalUnits(stream);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(Bytes(units[0].begin(), units[0].end()), (Bytes{0x67, 0xAA}));
    EXPECT_EQ(Bytes(units[1].begin(), units[1].end()), (Bytes{0x68, 0xBB}));
    EXPECT_EQ(Bytes(units[2].begin(), units[2].end()), (Bytes{0x65, 1, 2, 3}));

    EXPECT_TRUE(AnnexBAccessUnit::splitNalUnits(Bytes{}).empty());
    EXPECT_TRUE(AnnexBAccessUnit::splitNalUnits(Bytes{1, 2, 3}).empty());
    EXPECT_TRUE(AnnexBAccessUnit::splitNalUnits(Bytes{0, 0, 1, 0, 0, 1}).empty());
}

TEST(AnnexBAccessUnitTest, MovesParameterSetsOutAndDropsDelimiters) {
    struct Case {
        const char* name;
        StreamCodec codec;
        Bytes stream;
        Bytes payload;
        std::vector<Bytes> parameterSets;
    };
    const Case cases[] = {
        {"H.264",
         StreamCodec::h264,
         {0, 0,    0,    1, 0x09, 0xF0, 0,    0,    0, 1, 0x68, 0xCE, 0,    0,   0,
          1, 0x67, 0x64, 0, 0,    1,    0x06, 0x05, 0, 0, 1,    0x65, 0x88, 0x84},
         {0, 0, 0, 2, 0x06, 0x05, 0, 0, 0, 3, 0x65, 0x88, 0x84},
         {{0x67, 0x64}, {0x68, 0xCE}}},
        {"HEVC",
         StreamCodec::hevc,
         {0, 0,    0,    1, 0x46, 0x01, 0x50, 0,    0,    0, 1, 0x42, 0x01, 0,    0,   0,
          1, 0x40, 0x01, 0, 0,    0,    1,    0x44, 0x01, 0, 0, 1,    0x26, 0x01, 0xAF},
         {0, 0, 0, 3, 0x26, 0x01, 0xAF},
         {{0x40, 0x01}, {0x42, 0x01}, {0x44, 0x01}}},
        {"HEVC without parameter sets",
         StreamCodec::hevc,
         {0, 0, 1, 0x02, 0x01, 0xD0},
         {0, 0, 0, 3, 0x02, 0x01, 0xD0},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto unit = AnnexBAccessUnit::fromAnnexB(c.stream, c.codec);
        EXPECT_EQ(unit.payload, c.payload);
        EXPECT_EQ(unit.parameterSets, c.parameterSets);
    }
}

TEST(VideoColorMappingTest, MapsTheHeadsetNamesBothWays) {
    EXPECT_EQ(VideoColorMapping::primaries(videoColorPrimaries::itu2020), AVCOL_PRI_BT2020);
    EXPECT_EQ(VideoColorMapping::primaries(videoColorPrimaries::p3D65), AVCOL_PRI_SMPTE432);
    EXPECT_EQ(VideoColorMapping::transfer(videoTransferFunction::pq), AVCOL_TRC_SMPTE2084);
    EXPECT_EQ(VideoColorMapping::transfer(videoTransferFunction::hlg), AVCOL_TRC_ARIB_STD_B67);
    EXPECT_EQ(VideoColorMapping::transfer(videoTransferFunction::sRGB), AVCOL_TRC_IEC61966_2_1);
    EXPECT_EQ(VideoColorMapping::matrix(videoYCbCrMatrix::itu601), AVCOL_SPC_SMPTE170M);
    EXPECT_FALSE(VideoColorMapping::primaries("Unknown"));
    EXPECT_FALSE(VideoColorMapping::primariesName(AVCOL_PRI_FILM));
    EXPECT_EQ(VideoColorMapping::transferName(AVCOL_TRC_BT2020_12),
              std::string(videoTransferFunction::itu2020));
    EXPECT_EQ(VideoColorMapping::matrixName(AVCOL_SPC_BT470BG), std::string(videoYCbCrMatrix::itu601));

    // Every name reads back as itself.
    for (auto name : {videoColorPrimaries::itu709, videoColorPrimaries::ebu3213, videoColorPrimaries::smpteC,
                      videoColorPrimaries::p3D65, videoColorPrimaries::dciP3, videoColorPrimaries::itu2020})
        EXPECT_EQ(VideoColorMapping::primariesName(*VideoColorMapping::primaries(name)), std::string(name));
    for (auto name : {videoTransferFunction::itu709, videoTransferFunction::smpte240M,
                      videoTransferFunction::sRGB, videoTransferFunction::linear,
                      videoTransferFunction::itu2020, videoTransferFunction::pq, videoTransferFunction::hlg})
        EXPECT_EQ(VideoColorMapping::transferName(*VideoColorMapping::transfer(name)), std::string(name));
    for (auto name : {videoYCbCrMatrix::itu709, videoYCbCrMatrix::itu601, videoYCbCrMatrix::smpte240M,
                      videoYCbCrMatrix::itu2020})
        EXPECT_EQ(VideoColorMapping::matrixName(*VideoColorMapping::matrix(name)), std::string(name));
}

}  // namespace
}  // namespace quillbridge
