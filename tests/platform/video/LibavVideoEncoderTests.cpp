#include "platform/linux/video/LibavVideoEncoder.hpp"

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <asio/io_context.hpp>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/rational.h>
}
#include <libyuv/convert_from_argb.h>

#include "platform/linux/video/AnnexBAccessUnit.hpp"
#include "platform/linux/video/LibavVideoEncoderFactory.hpp"
#include "session/VideoColorAttachmentKeys.hpp"
#include "session/VideoCompressionSupport.hpp"

namespace quillbridge {
namespace {

// A frame of a moving pattern: a diagonal gradient that scrolls and a bright square that travels across.
std::shared_ptr<const CapturedPixelBuffer> patternFrame(std::uint32_t width, std::uint32_t height, int index,
                                                        std::uint32_t pixelFormat = pixelFormatBGRA) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(width) * height * 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            auto* pixel = bytes->data() + (static_cast<std::size_t>(y) * width + x) * 4;
            const bool inSquare = x - (index * 4) % width < 48 && y - (index * 2) % height < 48;
            std::uint32_t red = inSquare ? 240 : (x + index * 3) % 256;
            std::uint32_t green = inSquare ? 230 : (y + index) % 256;
            std::uint32_t blue = inSquare ? 40 : (x + y) / 4 % 256;
            if (pixelFormat == pixelFormatARGB2101010) {
                const std::uint32_t word = 3u << 30 | (red * 4) << 20 | (green * 4) << 10 | blue * 4;
                pixel[0] = word & 0xFF;
                pixel[1] = (word >> 8) & 0xFF;
                pixel[2] = (word >> 16) & 0xFF;
                pixel[3] = word >> 24;
            } else {
                pixel[0] = static_cast<std::uint8_t>(blue);
                pixel[1] = static_cast<std::uint8_t>(green);
                pixel[2] = static_cast<std::uint8_t>(red);
                pixel[3] = 255;
            }
        }
    }
    auto buffer = std::make_shared<CapturedPixelBuffer>();
    buffer->width = width;
    buffer->height = height;
    buffer->pixelFormat = pixelFormat;
    buffer->planes = {{bytes->data(), static_cast<std::size_t>(width) * 4}};
    buffer->storage = bytes;
    return buffer;
}

// The luma plane the encoder is fed for a BGRA frame: what the decoded picture is compared with.
std::vector<std::uint8_t> referenceLuma(const CapturedPixelBuffer& frame) {
    const int width = static_cast<int>(frame.width);
    const int height = static_cast<int>(frame.height);
    std::vector<std::uint8_t> y(static_cast<std::size_t>(width) * height);
    std::vector<std::uint8_t> u(static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2));
    std::vector<std::uint8_t> v(u.size());
    libyuv::ARGBToI420(frame.planes[0].data, static_cast<int>(frame.planes[0].bytesPerRow), y.data(), width,
                       u.data(), (width + 1) / 2, v.data(), (width + 1) / 2, width, height);
    return y;
}

double lumaPsnr(const std::vector<std::uint8_t>& reference, const AVFrame& decoded) {
    double squaredError = 0;
    for (int row = 0; row < decoded.height; ++row) {
        for (int column = 0; column < decoded.width; ++column) {
            const double difference = static_cast<double>(reference[row * decoded.width + column]) -
                                      decoded.data[0][row * decoded.linesize[0] + column];
            squaredError += difference * difference;
        }
    }
    const double meanSquaredError = squaredError / (decoded.width * decoded.height);
    return meanSquaredError == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / meanSquaredError);
}

// Decodes what the headset receives: the parameter sets of the format message, then length-prefixed payloads.
class HeadsetDecoder {
public:
    explicit HeadsetDecoder(StreamCodec codec) {
        const AVCodec* decoder =
            avcodec_find_decoder(codec == StreamCodec::hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
        context_ = avcodec_alloc_context3(decoder);
        context_->thread_count = 1;
        EXPECT_EQ(avcodec_open2(context_, decoder, nullptr), 0);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
    }
    ~HeadsetDecoder() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }

    // The decoded picture of one frame (nullptr when the decoder refused it).
    const AVFrame* decode(const EncodedVideoSample& sample, bool withParameterSets) {
        Bytes annexB;
        const Bytes startCode{0, 0, 0, 1};
        if (withParameterSets) {
            for (const auto& set : sample.format->parameterSets) {
                annexB.insert(annexB.end(), startCode.begin(), startCode.end());
                annexB.insert(annexB.end(), set.begin(), set.end());
            }
        }
        std::size_t offset = 0;
        const auto& payload = sample.payload;
        while (offset + 4 <= payload.size()) {
            const std::size_t length = static_cast<std::size_t>(payload[offset]) << 24 |
                                       payload[offset + 1] << 16 | payload[offset + 2] << 8 |
                                       payload[offset + 3];
            offset += 4;
            if (length > payload.size() - offset) {
                ADD_FAILURE() << "a length prefix runs past the payload";
                return nullptr;
            }
            annexB.insert(annexB.end(), startCode.begin(), startCode.end());
            annexB.insert(annexB.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                          payload.begin() + static_cast<std::ptrdiff_t>(offset + length));
            offset += length;
        }
        EXPECT_EQ(offset, payload.size());
        av_new_packet(packet_, static_cast<int>(annexB.size()));
        std::copy(annexB.begin(), annexB.end(), packet_->data);
        const int sent = avcodec_send_packet(context_, packet_);
        av_packet_unref(packet_);
        if (sent < 0 || avcodec_receive_frame(context_, frame_) < 0)
            return nullptr;
        return frame_;
    }

    const AVCodecContext& context() const { return *context_; }

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};

// NAL unit types of a length-prefixed payload.
std::vector<int> nalTypes(const Bytes& payload, StreamCodec codec) {
    std::vector<int> types;
    std::size_t offset = 0;
    while (offset + 5 <= payload.size()) {
        const std::size_t length = static_cast<std::size_t>(payload[offset]) << 24 |
                                   payload[offset + 1] << 16 | payload[offset + 2] << 8 | payload[offset + 3];
        const std::uint8_t header = payload[offset + 4];
        types.push_back(codec == StreamCodec::hevc ? (header >> 1) & 0x3F : header & 0x1F);
        offset += 4 + length;
    }
    return types;
}

bool isIdr(const Bytes& payload, StreamCodec codec) {
    for (int type : nalTypes(payload, codec)) {
        if (codec == StreamCodec::h264 ? type == 5 : (type == 19 || type == 20))
            return true;
    }
    return false;
}

// Runs an encoder and gathers its outputs on an io_context the test drives.
struct EncoderHarness {
    asio::io_context outputs;
    std::vector<VideoEncoderOutput> received;
    std::unique_ptr<LibavVideoEncoder> encoder;

    explicit EncoderHarness(const VideoEncoderConfiguration& configuration) {
        LibavVideoEncoder::Options options;
        options.threadCount = 2;
        auto opened = LibavVideoEncoder::open(
            configuration, options, outputs.get_executor(),
            [this](VideoEncoderOutput output) { received.push_back(std::move(output)); });
        if (!opened) {
            ADD_FAILURE() << "the encoder did not open: " << opened.error().status;
            return;
        }
        encoder = std::move(*opened);
    }

    // Waits for the frames submitted so far and collects their outputs.
    void drain() {
        encoder->flush();
        outputs.restart();
        outputs.run();
    }
};

VideoEncoderConfiguration configurationFor(StreamCodec codec, std::uint32_t width, std::uint32_t height) {
    VideoEncoderConfiguration configuration;
    configuration.codec = codec;
    configuration.width = width;
    configuration.height = height;
    configuration.frameRate = 30;
    configuration.averageBitRate = recommendedBitrate(width, height, 30);
    return configuration;
}

class LibavVideoEncoderTest : public testing::TestWithParam<StreamCodec> {};

// A moving pattern encoded at the session's bitrate and decoded from what the headset receives. At 320x240
// the bitrate floor gives this pattern 52 to 58 dB of luma PSNR with both encoders; 40 dB leaves room for
// other encoder versions and still fails any broken stream (a wrong plane, stride or lost length prefix
// decodes to under 15 dB, or not at all).
TEST_P(LibavVideoEncoderTest, MovingPatternDecodesFromPayloadsAndParameterSets) {
    const StreamCodec codec = GetParam();
    constexpr std::uint32_t width = 320;
    constexpr std::uint32_t height = 240;
    constexpr int frameCount = 20;
    EncoderHarness harness(configurationFor(codec, width, height));
    ASSERT_TRUE(harness.encoder);

    std::vector<std::shared_ptr<const CapturedPixelBuffer>> frames;
    for (int index = 0; index < frameCount; ++index) {
        frames.push_back(patternFrame(width, height, index));
        ASSERT_TRUE(harness.encoder->encode(
            {frames.back(), 1'000'000'000ull + index * 33'333'333ull, 33'333'333, index == 0, 7}));
        // Keep the queue short, as the session does.
        if (index % 4 == 3)
            harness.drain();
    }
    harness.drain();

    ASSERT_EQ(harness.received.size(), static_cast<std::size_t>(frameCount));
    HeadsetDecoder decoder(codec);
    for (int index = 0; index < frameCount; ++index) {
        SCOPED_TRACE(index);
        const auto& output = harness.received[index];
        EXPECT_EQ(output.generation, 7u);
        ASSERT_TRUE(output.succeeded && output.sample);
        const auto& sample = *output.sample;
        EXPECT_EQ(sample.presentationTimeNanoseconds, 1'000'000'000ull + index * 33'333'333ull);
        // Only the first frame is a key frame: the encoder makes none of its own.
        EXPECT_EQ(sample.isKeyFrame, index == 0);
        EXPECT_EQ(isIdr(sample.payload, codec), index == 0);
        // No parameter sets or delimiters in the payload.
        for (int type : nalTypes(sample.payload, codec)) {
            if (codec == StreamCodec::h264)
                EXPECT_TRUE(type != 7 && type != 8 && type != 9) << type;
            else
                EXPECT_TRUE(type < 32 || type > 35) << type;
        }
        ASSERT_TRUE(sample.format);
        EXPECT_EQ(sample.format, harness.received[0].sample->format) << "the format object changed";
        const AVFrame* picture = decoder.decode(sample, index == 0);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->width, static_cast<int>(width));
        EXPECT_EQ(picture->height, static_cast<int>(height));
        EXPECT_GT(lumaPsnr(referenceLuma(*frames[index]), *picture), 40.0);
    }
    const auto& format = *harness.received[0].sample->format;
    EXPECT_EQ(format.codec, codec);
    EXPECT_EQ(format.nalUnitHeaderLength, 4);
    EXPECT_EQ(format.parameterSets.size(), codec == StreamCodec::hevc ? 3u : 2u);
    if (codec == StreamCodec::h264)
        EXPECT_EQ(decoder.context().profile, FF_PROFILE_H264_HIGH);
    else
        EXPECT_EQ(decoder.context().profile, FF_PROFILE_HEVC_MAIN);
}

TEST_P(LibavVideoEncoderTest, ForcedKeyFrameIsAnIdrADecoderCanStartFrom) {
    const StreamCodec codec = GetParam();
    EncoderHarness harness(configurationFor(codec, 256, 144));
    ASSERT_TRUE(harness.encoder);
    for (int index = 0; index < 8; ++index)
        ASSERT_TRUE(
            harness.encoder->encode({patternFrame(256, 144, index), 0, 0, index == 0 || index == 5, 1}));
    harness.drain();
    ASSERT_EQ(harness.received.size(), 8u);
    for (int index = 0; index < 8; ++index) {
        ASSERT_TRUE(harness.received[index].sample);
        EXPECT_EQ(harness.received[index].sample->isKeyFrame, index == 0 || index == 5) << index;
        EXPECT_EQ(isIdr(harness.received[index].sample->payload, codec), index == 0 || index == 5) << index;
    }
    // A headset that joins at the forced key frame decodes from there.
    HeadsetDecoder lateDecoder(codec);
    for (int index = 5; index < 8; ++index)
        EXPECT_NE(lateDecoder.decode(*harness.received[index].sample, index == 5), nullptr) << index;
}

TEST_P(LibavVideoEncoderTest, ASizeChangeNeedsANewEncoder) {
    const StreamCodec codec = GetParam();
    EncoderHarness first(configurationFor(codec, 320, 240));
    ASSERT_TRUE(first.encoder);
    ASSERT_TRUE(first.encoder->encode({patternFrame(320, 240, 0), 0, 0, true, 1}));
    // Frames of another size or pixel format are refused, with no output.
    EXPECT_FALSE(first.encoder->encode({patternFrame(352, 288, 1), 0, 0, false, 1}));
    EXPECT_FALSE(first.encoder->encode({patternFrame(320, 240, 1, pixelFormatARGB2101010), 0, 0, false, 1}));
    EXPECT_FALSE(first.encoder->encode({nullptr, 0, 0, false, 1}));
    first.drain();
    ASSERT_EQ(first.received.size(), 1u);

    EncoderHarness second(configurationFor(codec, 352, 288));
    ASSERT_TRUE(second.encoder);
    ASSERT_TRUE(second.encoder->encode({patternFrame(352, 288, 1), 0, 0, true, 2}));
    second.drain();
    ASSERT_EQ(second.received.size(), 1u);
    const auto& format = *second.received[0].sample->format;
    EXPECT_EQ(format.width, 352u);
    EXPECT_EQ(format.height, 288u);
    EXPECT_NE(format.parameterSets, first.received[0].sample->format->parameterSets);
    HeadsetDecoder decoder(codec);
    const AVFrame* picture = decoder.decode(*second.received[0].sample, true);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width, 352);
    EXPECT_EQ(picture->height, 288);
}

TEST_P(LibavVideoEncoderTest, ColourDescriptionReachesTheBitstream) {
    const StreamCodec codec = GetParam();
    auto configuration = configurationFor(codec, 256, 144);
    VideoColorProperties colors;
    colors.colorPrimaries = std::string(videoColorPrimaries::p3D65);
    colors.transferFunction = std::string(videoTransferFunction::sRGB);
    colors.yCbCrMatrix = std::string(videoYCbCrMatrix::itu709);
    configuration.colorProperties = colors;
    EncoderHarness harness(configuration);
    ASSERT_TRUE(harness.encoder);
    ASSERT_TRUE(harness.encoder->encode({patternFrame(256, 144, 0), 0, 0, true, 1}));
    harness.drain();
    ASSERT_EQ(harness.received.size(), 1u);
    HeadsetDecoder decoder(codec);
    const AVFrame* picture = decoder.decode(*harness.received[0].sample, true);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->color_primaries, AVCOL_PRI_SMPTE432);
    EXPECT_EQ(picture->color_trc, AVCOL_TRC_IEC61966_2_1);
    // The matrix is the one the conversion used, whatever the frame said.
    EXPECT_EQ(picture->colorspace, AVCOL_SPC_SMPTE170M);
    EXPECT_EQ(picture->color_range, AVCOL_RANGE_MPEG);
    const auto& written = harness.received[0].sample->format->colorProperties;
    ASSERT_TRUE(written);
    EXPECT_EQ(written->colorPrimaries, std::string(videoColorPrimaries::p3D65));
    EXPECT_EQ(written->yCbCrMatrix, std::string(videoYCbCrMatrix::itu601));
    EXPECT_EQ(written->fullRangeVideo, false);
}

INSTANTIATE_TEST_SUITE_P(Codecs, LibavVideoEncoderTest, testing::Values(StreamCodec::h264, StreamCodec::hevc),
                         [](const auto& info) { return info.param == StreamCodec::h264 ? "H264" : "HEVC"; });

TEST(LibavVideoEncoderHdrTest, HdrHevcIsMain10WithMasteringAndLightLevelMessages) {
    // BT.2020 primaries (G, B, R), D65 white, 1000 and 0.0001 cd/m2; MaxCLL 1000, MaxFALL 400.
    const Bytes masteringDisplay{0x21, 0x34, 0x9B, 0xAA, 0x19, 0x96, 0x08, 0xFC, 0x8A, 0x48, 0x39, 0x08,
                                 0x3D, 0x13, 0x40, 0x42, 0x00, 0x98, 0x96, 0x80, 0x00, 0x00, 0x00, 0x01};
    const Bytes lightLevel{0x03, 0xE8, 0x01, 0x90};
    auto configuration = configurationFor(StreamCodec::hevc, 256, 144);
    configuration.inputPixelFormat = pixelFormatARGB2101010;
    VideoColorProperties colors;
    colors.colorPrimaries = std::string(videoColorPrimaries::itu2020);
    colors.transferFunction = std::string(videoTransferFunction::pq);
    colors.yCbCrMatrix = std::string(videoYCbCrMatrix::itu2020);
    colors.masteringDisplayColorVolume = masteringDisplay;
    colors.contentLightLevelInfo = lightLevel;
    configuration.colorProperties = colors;
    EncoderHarness harness(configuration);
    ASSERT_TRUE(harness.encoder);
    for (int index = 0; index < 3; ++index)
        ASSERT_TRUE(harness.encoder->encode(
            {patternFrame(256, 144, index, pixelFormatARGB2101010), 0, 0, index == 0, 1}));
    harness.drain();
    ASSERT_EQ(harness.received.size(), 3u);

    HeadsetDecoder decoder(StreamCodec::hevc);
    const AVFrame* picture = decoder.decode(*harness.received[0].sample, true);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(decoder.context().profile, FF_PROFILE_HEVC_MAIN_10);
    EXPECT_EQ(picture->format, AV_PIX_FMT_YUV420P10LE);
    EXPECT_EQ(picture->color_primaries, AVCOL_PRI_BT2020);
    EXPECT_EQ(picture->color_trc, AVCOL_TRC_SMPTE2084);
    EXPECT_EQ(picture->colorspace, AVCOL_SPC_BT2020_NCL);

    const auto* mastering = av_frame_get_side_data(picture, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
    ASSERT_NE(mastering, nullptr) << "no mastering display message";
    const auto* metadata = reinterpret_cast<const AVMasteringDisplayMetadata*>(mastering->data);
    ASSERT_TRUE(metadata->has_luminance && metadata->has_primaries);
    EXPECT_DOUBLE_EQ(av_q2d(metadata->max_luminance), 1000.0);
    EXPECT_NEAR(av_q2d(metadata->min_luminance), 0.0001, 1e-9);
    // Red of BT.2020 is at (0.708, 0.292); libavcodec lists red first.
    EXPECT_NEAR(av_q2d(metadata->display_primaries[0][0]), 0.708, 1e-6);
    EXPECT_NEAR(av_q2d(metadata->white_point[1]), 0.329, 1e-6);
    const auto* light = av_frame_get_side_data(picture, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
    ASSERT_NE(light, nullptr) << "no content light level message";
    const auto* level = reinterpret_cast<const AVContentLightMetadata*>(light->data);
    EXPECT_EQ(level->MaxCLL, 1000u);
    EXPECT_EQ(level->MaxFALL, 400u);

    // A mid-grey 10-bit frame stays near its value: the 10-bit conversion is not garbled.
    const auto* luma = reinterpret_cast<const std::uint16_t*>(picture->data[0]);
    EXPECT_GE(luma[0], 64);
    EXPECT_LE(luma[0], 940);

    const auto& written = harness.received[0].sample->format->colorProperties;
    ASSERT_TRUE(written);
    EXPECT_EQ(written->masteringDisplayColorVolume, masteringDisplay);
    EXPECT_EQ(written->contentLightLevelInfo, lightLevel);
}

TEST(LibavVideoEncoderLifecycleTest, CloseStopsOutputsAndRefusesFrames) {
    EncoderHarness harness(configurationFor(StreamCodec::h264, 256, 144));
    ASSERT_TRUE(harness.encoder);
    for (int index = 0; index < 4; ++index)
        ASSERT_TRUE(harness.encoder->encode({patternFrame(256, 144, index), 0, 0, index == 0, 3}));
    harness.encoder->close();
    EXPECT_FALSE(harness.encoder->encode({patternFrame(256, 144, 9), 0, 0, false, 3}));
    harness.outputs.restart();
    harness.outputs.run();
    // Whatever was encoded before the close arrived once, in order; nothing came after.
    EXPECT_LE(harness.received.size(), 4u);
    for (const auto& output : harness.received)
        EXPECT_EQ(output.generation, 3u);
    harness.encoder.reset();
    harness.outputs.restart();
    EXPECT_EQ(harness.outputs.run(), 0u);
}

TEST(LibavVideoEncoderLifecycleTest, RefusesConfigurationsItCannotServe) {
    asio::io_context outputs;
    auto configuration = configurationFor(StreamCodec::h264, 0, 144);
    EXPECT_FALSE(
        LibavVideoEncoder::open(configuration, {}, outputs.get_executor(), [](VideoEncoderOutput) {}));
    configuration = configurationFor(StreamCodec::h264, 256, 144);
    configuration.inputPixelFormat = fourCharacterCode('y', 'u', 'v', 's');
    EXPECT_FALSE(
        LibavVideoEncoder::open(configuration, {}, outputs.get_executor(), [](VideoEncoderOutput) {}));
}

TEST(LibavVideoEncoderVaapiTest, EncodesOnTheRenderNode) {
    const auto renderNode = LibavVideoEncoderFactory::findRenderNode();
    if (!renderNode)
        GTEST_SKIP() << "no /dev/dri render node opens on this machine; VAAPI encoding is not tested";
    asio::io_context outputs;
    std::vector<VideoEncoderOutput> received;
    LibavVideoEncoder::Options options;
    options.vaapiRenderNode = renderNode;
    auto encoder = LibavVideoEncoder::open(
        configurationFor(StreamCodec::h264, 320, 240), options, outputs.get_executor(),
        [&](VideoEncoderOutput output) { received.push_back(std::move(output)); });
    ASSERT_TRUE(encoder);
    if ((*encoder)->encoderName() != "h264_vaapi")
        GTEST_SKIP() << "the render node has no VAAPI H.264 encoder";
    ASSERT_TRUE((*encoder)->encode({patternFrame(320, 240, 0), 0, 0, true, 1}));
    (*encoder)->flush();
    outputs.run();
    ASSERT_EQ(received.size(), 1u);
    ASSERT_TRUE(received[0].sample);
    HeadsetDecoder decoder(StreamCodec::h264);
    EXPECT_NE(decoder.decode(*received[0].sample, true), nullptr);
}

}  // namespace
}  // namespace quillbridge
