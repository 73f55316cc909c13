#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include <spa/param/video/raw-utils.h>

#include "camera_extension/linux/PipeWireCameraFormat.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;

// A buffer as another process hands it over: mapped blocks with chunks the other side wrote.
struct TestBuffer {
    struct Block {
        std::uint32_t maxsize = 0;
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
        std::int32_t stride = 0;
        std::int32_t flags = 0;
    };

    explicit TestBuffer(std::vector<Block> blocks) {
        memory.resize(blocks.size());
        chunks.resize(blocks.size());
        datas.resize(blocks.size());
        for (std::size_t index = 0; index < blocks.size(); ++index) {
            memory[index].resize(blocks[index].maxsize);
            chunks[index] = spa_chunk{blocks[index].offset, blocks[index].size, blocks[index].stride,
                                      blocks[index].flags};
            datas[index].type = SPA_DATA_MemPtr;
            datas[index].maxsize = blocks[index].maxsize;
            datas[index].data = memory[index].data();
            datas[index].chunk = &chunks[index];
        }
        metas[0] = spa_meta{SPA_META_Header, sizeof(spa_meta_header), &header};
        buffer.n_metas = 1;
        buffer.metas = metas;
        buffer.n_datas = std::uint32_t(datas.size());
        buffer.datas = datas.data();
    }

    std::vector<std::vector<std::uint8_t>> memory;
    std::vector<spa_chunk> chunks;
    std::vector<spa_data> datas;
    spa_meta_header header{};
    spa_meta metas[1]{};
    spa_buffer buffer{};
};

constexpr std::uint32_t frame = std::uint32_t(Ids::frameByteCount);

struct ReceivedCase {
    const char* name;
    std::vector<TestBuffer::Block> blocks;
    bool readable;
};

void PrintTo(const ReceivedCase& testCase, std::ostream* out) {
    *out << testCase.name;
}

class PipeWireReceivedImageTest : public testing::TestWithParam<ReceivedCase> {};

// Whatever the producer wrote into its chunks, a frame is read only from inside the mapped memory.
TEST_P(PipeWireReceivedImageTest, ReadsOnlyFramesInsideTheMappedMemory) {
    TestBuffer received(GetParam().blocks);
    auto image = PipeWireCameraFormat::imageIn(received.buffer);
    ASSERT_EQ(image.has_value(), GetParam().readable);
    if (!image)
        return;
    const std::uint8_t* first = received.memory[0].data();
    const std::uint8_t* last = received.memory.back().data() + received.memory.back().size();
    EXPECT_GE(image->luma, first);
    EXPECT_LE(image->chroma + image->chromaStrideBytes * 539 + 1920, last);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, PipeWireReceivedImageTest,
    testing::Values(
        ReceivedCase{"PackedFrame", {{frame, 0, frame, 1920}}, true},
        ReceivedCase{"NoStrideMeansPacked", {{frame, 0, frame, 0}}, true},
        ReceivedCase{"OffsetWrapsAtTheMapping", {{frame + 64, frame + 64 + 64, frame, 1920}}, true},
        ReceivedCase{"SizeBeyondTheMapping", {{frame, 64, frame, 1920}}, false},
        ReceivedCase{"ShortChunk", {{frame, 0, frame - 1, 1920}}, false},
        ReceivedCase{"NegativeStride", {{frame, 0, frame, -1920}}, false},
        ReceivedCase{"Corrupted", {{frame, 0, frame, 1920, SPA_CHUNK_FLAG_CORRUPTED}}, false},
        ReceivedCase{"TwoPlanes",
                     {{std::uint32_t(Ids::lumaByteCount), 0, std::uint32_t(Ids::lumaByteCount), 1920},
                      {std::uint32_t(Ids::chromaByteCount), 0, std::uint32_t(Ids::chromaByteCount), 1920}},
                     true},
        ReceivedCase{
            "TwoPlanesShortChroma",
            {{std::uint32_t(Ids::lumaByteCount), 0, std::uint32_t(Ids::lumaByteCount), 1920},
             {std::uint32_t(Ids::chromaByteCount), 0, std::uint32_t(Ids::chromaByteCount) - 1, 1920}},
            false},
        ReceivedCase{"NoMemory", {{0, 0, 0, 0}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PipeWireCameraFormatTest, WrittenFrameIsReadBackWhole) {
    TestBuffer filled({{frame, 0, 0, 0}});
    auto destination = PipeWireCameraFormat::writableImageIn(filled.buffer);
    ASSERT_TRUE(destination);
    destination->luma[0] = 1;
    destination->chroma[1920 * 539 + 1919] = 2;

    PipeWireCameraFormat::markImageWritten(filled.buffer);
    auto image = PipeWireCameraFormat::imageIn(filled.buffer);

    ASSERT_TRUE(image);
    EXPECT_EQ(image->luma[0], 1);
    EXPECT_EQ(image->chroma[1920 * 539 + 1919], 2);
    PipeWireCameraFormat::markImageMissing(filled.buffer);
    EXPECT_FALSE(PipeWireCameraFormat::imageIn(filled.buffer));
    EXPECT_EQ(PipeWireCameraFormat::header(filled.buffer), &filled.header);
}

TEST(PipeWireCameraFormatTest, BufferTooSmallForAFrameCannotBeWritten) {
    TestBuffer small({{frame - 1, 0, 0, 0}});
    EXPECT_FALSE(PipeWireCameraFormat::writableImageIn(small.buffer));
}

TEST(PipeWireCameraFormatTest, FormatIsTheCamerasOneFormat) {
    alignas(8) std::uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    const spa_pod* format = PipeWireCameraFormat::buildFormat(builder);
    ASSERT_NE(format, nullptr);

    spa_video_info_raw info{};
    ASSERT_GE(spa_format_video_raw_parse(format, &info), 0);
    EXPECT_EQ(info.format, SPA_VIDEO_FORMAT_NV12);
    EXPECT_EQ(info.size.width, 1920u);
    EXPECT_EQ(info.size.height, 1080u);
    EXPECT_EQ(info.framerate.num, 30u);
    EXPECT_EQ(info.framerate.denom, 1u);
    EXPECT_EQ(info.color_range, SPA_VIDEO_COLOR_RANGE_16_235);

    spa_pod_builder tiny = SPA_POD_BUILDER_INIT(storage, 16);
    EXPECT_EQ(PipeWireCameraFormat::buildFormat(tiny), nullptr);
}

}  // namespace
}  // namespace quillbridge
