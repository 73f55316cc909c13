#include "session/VideoColorProperties.hpp"

#include <string>

#include <gtest/gtest.h>

#include "core/Bytes.hpp"
#include "session/VideoColorAttachmentKeys.hpp"
#include "wire/PropertyListReader.hpp"

namespace quillbridge {
namespace {

using Dictionary = PropertyListValue::Dictionary;

std::string text(std::string_view value) {
    return std::string(value);
}

// MaxCLL 1000, MaxFALL 400.
const Bytes contentLightLevel{0x03, 0xE8, 0x01, 0x90};
// BT.2020 primaries (G, B, R), D65 white point, 1000 and 0.0001 cd/m2.
const Bytes masteringDisplay{0x21, 0x34, 0x9B, 0xAA, 0x19, 0x96, 0x08, 0xFC, 0x8A, 0x48, 0x39, 0x08,
                             0x3D, 0x13, 0x40, 0x42, 0x00, 0x98, 0x96, 0x80, 0x00, 0x00, 0x00, 0x01};

Dictionary sdrExtensions() {
    return {
        {text(videoColorKey::colorPrimaries), text(videoColorPrimaries::itu709)},
        {text(videoColorKey::transferFunction), text(videoTransferFunction::itu709)},
        {text(videoColorKey::yCbCrMatrix), text(videoYCbCrMatrix::itu709)},
        {text(videoColorKey::fullRangeVideo), false},
    };
}

Dictionary hdrExtensions() {
    return {
        // Written in the fixed key order whatever order they come in.
        {text(videoColorKey::masteringDisplayColorVolume), masteringDisplay},
        {text(videoColorKey::contentLightLevelInfo), contentLightLevel},
        {text(videoColorKey::colorPrimaries), text(videoColorPrimaries::itu2020)},
        {text(videoColorKey::transferFunction), text(videoTransferFunction::pq)},
        {text(videoColorKey::yCbCrMatrix), text(videoYCbCrMatrix::itu2020)},
        {text(videoColorKey::fullRangeVideo), true},
    };
}

// The binary property lists (bplist00, one object per distinct value) of the two dictionaries above.
const char* const sdrExtensionsGolden =
    "62706c6973743030d401030405020202065f101b4356496d616765427566666572436f6c6f725072696d61726965735b"
    "4954555f525f3730395f325f101d4356496d6167654275666665725472616e7366657246756e6374696f6e5f10184356"
    "496d61676542756666657259436243724d61747269785e46756c6c52616e6765566964656f0808112f3b5b7685000000"
    "0000000101000000000000000700000000000000000000000000000086";
const char* const hdrExtensionsGolden =
    "62706c6973743030d601030506080a02040207090b5f101b4356496d616765427566666572436f6c6f725072696d6172"
    "6965735a4954555f525f323032305f101d4356496d6167654275666665725472616e7366657246756e6374696f6e5f10"
    "10534d5054455f53545f323038345f50515f10184356496d61676542756666657259436243724d61747269785e46756c"
    "6c52616e6765566964656f095f1015436f6e74656e744c696768744c6576656c496e666f4403e801905f101b4d617374"
    "6572696e67446973706c6179436f6c6f72566f6c756d654f101821349baa199608fc8a4839083d134042009896800000"
    "00010815333e5e718c9b9cb4b9d70000000000000101000000000000000c000000000000000000000000000000f2";

TEST(VideoColorExtensionsTest, SerialiseToTheExpectedBinaryPropertyLists) {
    struct Case {
        const char* name;
        Dictionary extensions;
        const char* golden;
    };
    const Case cases[] = {{"SDR", sdrExtensions(), sdrExtensionsGolden},
                          {"HDR", hdrExtensions(), hdrExtensionsGolden}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto data = serializeColorExtensions(c.extensions);
        ASSERT_TRUE(data);
        EXPECT_EQ(toHex(*data), c.golden);
        // Read back with our own reader: the same entries, in the fixed key order.
        const auto value = readBinaryPropertyList(*data);
        ASSERT_TRUE(value && value->isDictionary());
        EXPECT_EQ(canonicalPropertyListDescription(*value),
                  canonicalPropertyListDescription(PropertyListValue{c.extensions}));
    }
    const auto hdr = readBinaryPropertyList(*serializeColorExtensions(hdrExtensions()));
    const auto& entries = std::get<Dictionary>(hdr->storage);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries.front().first, videoColorKey::colorPrimaries);
    EXPECT_EQ(entries.back().first, videoColorKey::masteringDisplayColorVolume);
}

TEST(VideoColorExtensionsTest, KeepsOnlyColourKeysWithPropertyListValues) {
    // Only foreign keys: nothing at all.
    EXPECT_FALSE(serializeColorExtensions({{"Depth", std::int64_t{24}}, {"FormatName", text("BGRA")}}));
    EXPECT_FALSE(serializeColorExtensions({}));

    const Dictionary mixed{
        {"Depth", std::int64_t{24}},
        {text(videoColorKey::gammaLevel), 2.2},
        // An array holding a value with no property-list form is left out whole.
        {text(videoColorKey::iccProfile), PropertyListValue::Array{Bytes{1}, PropertyListValue::Uid{3}}},
        {text(videoColorKey::ambientViewingEnvironment), Dictionary{{"lux", PropertyListValue::Uid{1}}}},
        {text(videoColorKey::contentColorVolume), Dictionary{{"a", Date{12.0}}, {"b", std::int64_t{-5}}}},
    };
    const auto data = serializeColorExtensions(mixed);
    ASSERT_TRUE(data);
    const auto value = readPropertyList(*data);
    ASSERT_TRUE(value);
    EXPECT_EQ(
        canonicalPropertyListDescription(*value),
        canonicalPropertyListDescription(PropertyListValue{Dictionary{
            {text(videoColorKey::gammaLevel), 2.2},
            {text(videoColorKey::contentColorVolume), Dictionary{{"a", Date{12.0}}, {"b", std::int64_t{-5}}}},
        }}));
}

TEST(VideoColorPropertiesTest, ReadsFormatDescriptionsWithTheTypeRule) {
    EXPECT_FALSE(VideoColorProperties::fromFormatDescription({}));
    EXPECT_FALSE(VideoColorProperties::fromFormatDescription({{"Depth", std::int64_t{24}}}));

    auto sdr = VideoColorProperties::fromFormatDescription(sdrExtensions());
    ASSERT_TRUE(sdr);
    EXPECT_EQ(sdr->colorPrimaries, text(videoColorPrimaries::itu709));
    EXPECT_EQ(sdr->fullRangeVideo, false);
    EXPECT_FALSE(sdr->contentLightLevelInfo);
    EXPECT_EQ(sdr->formatDescriptionExtensionsData, serializeColorExtensions(sdrExtensions()));
    EXPECT_FALSE(sdr->isHDR());

    // Values of the wrong type are absent; a string blob is not data.
    const Dictionary wrongTypes{
        {text(videoColorKey::colorPrimaries), std::int64_t{1}},
        {text(videoColorKey::fullRangeVideo), text("yes")},
        {text(videoColorKey::contentLightLevelInfo), text("1000")},
        {text(videoColorKey::transferFunction), text(videoTransferFunction::hlg)},
    };
    auto odd = VideoColorProperties::fromFormatDescription(wrongTypes);
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->colorPrimaries);
    EXPECT_FALSE(odd->fullRangeVideo);
    EXPECT_FALSE(odd->contentLightLevelInfo);
    EXPECT_TRUE(odd->isHDR());
}

TEST(VideoColorPropertiesTest, ReadsImageBuffersWithoutTheRange) {
    Dictionary attachments = hdrExtensions();
    attachments.emplace_back(text(videoColorKey::iccProfile), Bytes{9, 9});
    auto hdr = VideoColorProperties::fromImageBuffer(attachments);
    ASSERT_TRUE(hdr);
    EXPECT_FALSE(hdr->fullRangeVideo);
    EXPECT_EQ(hdr->contentLightLevelInfo, contentLightLevel);
    EXPECT_EQ(hdr->masteringDisplayColorVolume, masteringDisplay);
    EXPECT_TRUE(hdr->isHDR());
    // The extension blob holds the attachment map's keys (the ICC profile), never the range.
    const auto blob = readPropertyList(*hdr->formatDescriptionExtensionsData);
    ASSERT_TRUE(blob);
    const auto canonical = canonicalPropertyListDescription(*blob);
    EXPECT_NE(canonical.find(std::string(videoColorKey::iccProfile)), std::string::npos);
    EXPECT_EQ(canonical.find(std::string(videoColorKey::fullRangeVideo)), std::string::npos);

    EXPECT_FALSE(VideoColorProperties::fromImageBuffer({{text(videoColorKey::fullRangeVideo), true}}));
}

TEST(VideoColorPropertiesTest, CapturedFramesPreferTheFormatDescription) {
    CapturedVideoFrame frame;
    EXPECT_FALSE(VideoColorProperties::fromCapturedFrame(frame));

    frame.formatDescription = CapturedVideoFrame::FormatDescription{
        64, 64, {{text(videoColorKey::colorPrimaries), text(videoColorPrimaries::p3D65)}}};
    auto pixels = std::make_shared<CapturedPixelBuffer>();
    pixels->attachments = {{text(videoColorKey::colorPrimaries), text(videoColorPrimaries::itu709)},
                           {text(videoColorKey::transferFunction), text(videoTransferFunction::sRGB)}};
    frame.imageBuffer = pixels;
    auto properties = VideoColorProperties::fromCapturedFrame(frame);
    ASSERT_TRUE(properties);
    EXPECT_EQ(properties->colorPrimaries, text(videoColorPrimaries::p3D65));
    EXPECT_EQ(properties->transferFunction, text(videoTransferFunction::sRGB));

    // Without an image buffer only the format description counts.
    frame.imageBuffer.reset();
    properties = VideoColorProperties::fromCapturedFrame(frame);
    ASSERT_TRUE(properties);
    EXPECT_FALSE(properties->transferFunction);
}

TEST(VideoColorPropertiesTest, MergingKeepsTheFirstValueOfEachField) {
    auto first = *VideoColorProperties::fromFormatDescription(
        {{text(videoColorKey::colorPrimaries), text(videoColorPrimaries::p3D65)},
         {text(videoColorKey::gammaLevel), 2.2}});
    auto second = *VideoColorProperties::fromFormatDescription(
        {{text(videoColorKey::colorPrimaries), text(videoColorPrimaries::itu709)},
         {text(videoColorKey::yCbCrMatrix), text(videoYCbCrMatrix::itu709)},
         {text(videoColorKey::gammaLevel), 1.8}});
    const auto merged = first.merged(second);
    EXPECT_EQ(merged.colorPrimaries, text(videoColorPrimaries::p3D65));
    EXPECT_EQ(merged.yCbCrMatrix, text(videoYCbCrMatrix::itu709));
    const auto blob = readPropertyList(*merged.formatDescriptionExtensionsData);
    ASSERT_TRUE(blob);
    EXPECT_EQ(canonicalPropertyListDescription(*blob),
              canonicalPropertyListDescription(PropertyListValue{Dictionary{
                  {text(videoColorKey::colorPrimaries), text(videoColorPrimaries::p3D65)},
                  {text(videoColorKey::yCbCrMatrix), text(videoYCbCrMatrix::itu709)},
                  {text(videoColorKey::gammaLevel), 2.2},
              }}));

    EXPECT_EQ(first.merged(std::nullopt), first);
    // Neither side with extensions: none after merging.
    VideoColorProperties plain;
    plain.fullRangeVideo = true;
    EXPECT_FALSE(plain.merged(plain).formatDescriptionExtensionsData);
}

TEST(VideoColorPropertiesTest, EqualityComparesExtensionBlobsByContent) {
    auto a = *VideoColorProperties::fromFormatDescription(sdrExtensions());
    auto b = a;
    // The same entries in another order and another serialised form.
    b.formatDescriptionExtensionsData = toBytes(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
        "<key>FullRangeVideo</key><false/>"
        "<key>CVImageBufferYCbCrMatrix</key><string>ITU_R_709_2</string>"
        "<key>CVImageBufferTransferFunction</key><string>ITU_R_709_2</string>"
        "<key>CVImageBufferColorPrimaries</key><string>ITU_R_709_2</string>"
        "</dict></plist>");
    EXPECT_EQ(a, b);

    b.formatDescriptionExtensionsData = serializeColorExtensions({{text(videoColorKey::gammaLevel), 2.2}});
    EXPECT_NE(a, b);

    // Unreadable or absent blobs are alike.
    a.formatDescriptionExtensionsData = Bytes{1, 2, 3};
    b.formatDescriptionExtensionsData.reset();
    EXPECT_EQ(a, b);

    b.masteringDisplayColorVolume = masteringDisplay;
    EXPECT_NE(a, b);

    EXPECT_TRUE(sameColorProperties(std::nullopt, std::nullopt));
    EXPECT_FALSE(sameColorProperties(a, std::nullopt));
    EXPECT_FALSE(sameColorProperties(std::nullopt, a));
    EXPECT_TRUE(sameColorProperties(a, a));
}

TEST(VideoColorPropertiesTest, OnlyHlgAndPqAreHighDynamicRange) {
    const struct {
        std::optional<std::string_view> transferFunction;
        bool isHDR;
    } cases[] = {
        {videoTransferFunction::pq, true},      {videoTransferFunction::hlg, true},
        {videoTransferFunction::itu709, false}, {videoTransferFunction::itu2020, false},
        {videoTransferFunction::sRGB, false},   {std::nullopt, false},
    };
    for (const auto& c : cases) {
        VideoColorProperties properties;
        properties.colorPrimaries = text(videoColorPrimaries::itu2020);
        if (c.transferFunction)
            properties.transferFunction = text(*c.transferFunction);
        EXPECT_EQ(properties.isHDR(), c.isHDR) << c.transferFunction.value_or("absent");
    }
}

TEST(VideoColorPropertiesTest, MessageCarriesEveryField) {
    auto properties = *VideoColorProperties::fromFormatDescription(hdrExtensions());
    const auto message = properties.message();
    EXPECT_EQ(message.colorPrimaries, properties.colorPrimaries);
    EXPECT_EQ(message.transferFunction, properties.transferFunction);
    EXPECT_EQ(message.yCbCrMatrix, properties.yCbCrMatrix);
    EXPECT_EQ(message.fullRangeVideo, true);
    EXPECT_EQ(message.contentLightLevelInfo, contentLightLevel);
    EXPECT_EQ(message.masteringDisplayColorVolume, masteringDisplay);
    EXPECT_EQ(message.formatDescriptionExtensionsData, properties.formatDescriptionExtensionsData);
}

}  // namespace
}  // namespace quillbridge
