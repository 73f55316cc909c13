#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

#include "camera_extension/CameraImage.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;

struct BlockCase {
    const char* name;
    std::size_t byteCount;
    std::size_t strideBytes;
    bool fits;
};

void PrintTo(const BlockCase& testCase, std::ostream* out) {
    *out << testCase.name;
}

class CameraImageBlockTest : public testing::TestWithParam<BlockCase> {};

TEST_P(CameraImageBlockTest, FrameFitsItsBlockOnlyWhenEveryRowDoes) {
    const BlockCase& block = GetParam();
    std::vector<std::uint8_t> memory(std::max<std::size_t>(block.byteCount, 1));
    auto image = cameraImageInBlock<const std::uint8_t>(memory.data(), block.byteCount, block.strideBytes);
    ASSERT_EQ(image.has_value(), block.fits);
    if (image) {
        EXPECT_EQ(image->chroma, memory.data() + block.strideBytes * 1080);
        EXPECT_EQ(image->lumaStrideBytes, block.strideBytes);
        EXPECT_EQ(image->chromaStrideBytes, block.strideBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CameraImageBlockTest,
    testing::Values(BlockCase{"Packed", Ids::frameByteCount, 1920, true},
                    BlockCase{"PackedOneByteShort", Ids::frameByteCount - 1, 1920, false},
                    BlockCase{"PaddedRows", 2048 * 1619 + 1920, 2048, true},
                    BlockCase{"PaddedRowsOneByteShort", 2048 * 1619 + 1919, 2048, false},
                    BlockCase{"StrideShorterThanARow", Ids::frameByteCount, 1919, false},
                    BlockCase{"NoStride", Ids::frameByteCount, 0, false}, BlockCase{"Empty", 0, 1920, false},
                    BlockCase{"HugeStride", Ids::frameByteCount, std::size_t(1) << 62, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CameraImageTest, PlanesMustEachFitTheirOwnBlock) {
    std::vector<std::uint8_t> lumaMemory(Ids::lumaByteCount);
    std::vector<std::uint8_t> chromaMemory(Ids::chromaByteCount);
    const std::uint8_t* luma = lumaMemory.data();
    const std::uint8_t* chroma = chromaMemory.data();
    EXPECT_TRUE(cameraImageInPlanes<const std::uint8_t>(luma, Ids::lumaByteCount, 1920, chroma,
                                                        Ids::chromaByteCount, 1920));
    EXPECT_FALSE(cameraImageInPlanes<const std::uint8_t>(luma, Ids::lumaByteCount, 1920, chroma,
                                                         Ids::chromaByteCount - 1, 1920));
    EXPECT_FALSE(cameraImageInPlanes<const std::uint8_t>(luma, Ids::lumaByteCount - 1, 1920, chroma,
                                                         Ids::chromaByteCount, 1920));
    EXPECT_FALSE(cameraImageInPlanes<const std::uint8_t>(nullptr, Ids::lumaByteCount, 1920, chroma,
                                                         Ids::chromaByteCount, 1920));
}

TEST(CameraImageTest, CopyMovesEveryRowBetweenDifferentStrides) {
    constexpr std::size_t sourceStride = 2000;
    std::vector<std::uint8_t> source(sourceStride * 1620);
    for (std::size_t index = 0; index < source.size(); ++index)
        source[index] = std::uint8_t(index * 7 + index / sourceStride);
    auto from = cameraImageInBlock<const std::uint8_t>(source.data(), source.size(), sourceStride);
    std::vector<std::uint8_t> packed(Ids::frameByteCount, 0xEE);
    auto to = cameraImageInBlock(packed.data(), packed.size(), Ids::lumaRowByteCount);
    ASSERT_TRUE(from && to);

    copyCameraImage(*from, *to);

    for (std::size_t row = 0; row < 1620; ++row) {
        for (std::size_t column : {std::size_t(0), std::size_t(1919)}) {
            ASSERT_EQ(packed[row * 1920 + column], source[row * sourceStride + column])
                << row << " " << column;
        }
    }
}

TEST(ScheduledOutputMessageTest, EncodesBigEndianAndDecodesOnlyExactlyOneMessage) {
    ScheduledOutputMessage message{0x0102030405060708, 0x1112131415161718};
    auto bytes = message.encoded();

    EXPECT_EQ(bytes, (std::array<std::uint8_t, 16>{1, 2, 3, 4, 5, 6, 7, 8, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16,
                                                   0x17, 0x18}));
    EXPECT_EQ(ScheduledOutputMessage::decode(bytes), message);
    EXPECT_FALSE(ScheduledOutputMessage::decode(std::span(bytes).first(15)));
    std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
    longer.push_back(0);
    EXPECT_FALSE(ScheduledOutputMessage::decode(longer));
}

}  // namespace
}  // namespace quillbridge
