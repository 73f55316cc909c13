#include <gtest/gtest.h>

#include <string>

#include "core/Bytes.hpp"
#include "platform/linux/audio/ElementaryStreamDescriptor.hpp"
#include "support/audio/ElementaryStreamDescriptorReader.hpp"

namespace quillbridge {
namespace {

ElementaryStreamDescriptor monoDescriptor() {
    ElementaryStreamDescriptor descriptor;
    descriptor.bufferSizeBytes = 768;
    descriptor.maximumBitRateBitsPerSecond = 48'000;
    descriptor.averageBitRateBitsPerSecond = 48'000;
    descriptor.audioSpecificConfig = *fromHex("f8e62000");
    return descriptor;
}

TEST(ElementaryStreamDescriptorTests, WritesTheDescriptorTreeOfAnAudioStream) {
    EXPECT_EQ(toHex(monoDescriptor().encodedData()),
              "031b"          // ES_Descriptor, 27 bytes
              "0000"          // ES_ID
              "00"            // no dependence, URL or OCR stream; priority 0
              "0413"          // DecoderConfigDescriptor, 19 bytes
              "40"            // MPEG-4 audio
              "15"            // stream type 5 (audio), upstream 0, reserved 1
              "000300"        // bufferSizeDB 768
              "0000bb80"      // maxBitrate 48,000
              "0000bb80"      // avgBitrate 48,000
              "0504f8e62000"  // DecoderSpecificInfo: the AudioSpecificConfig
              "060102");      // SLConfigDescriptor, predefined 2
}

TEST(ElementaryStreamDescriptorTests, LongBodiesGetMultiByteSizesAndTheBufferSizeIsHeldTo24Bits) {
    auto descriptor = monoDescriptor();
    descriptor.audioSpecificConfig = Bytes(200, 0x11);
    descriptor.bufferSizeBytes = 0x0100'0000;
    const auto bytes = descriptor.encodedData();
    // Every size from 128 up takes two 7-bit groups: 200 is 0x81 0x48.
    EXPECT_EQ(toHex(ByteView(bytes).first(2)), "03" + toHex(Bytes{0x81}));
    const std::string hex = toHex(bytes);
    EXPECT_NE(hex.find("0581"
                       "48"
                       "1111"),
              std::string::npos);
    EXPECT_NE(hex.find("4015"
                       "ffffff"),
              std::string::npos);

    auto read = readElementaryStreamDescriptor(bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->audioSpecificConfig, descriptor.audioSpecificConfig);
    EXPECT_EQ(read->bufferSizeBytes, ElementaryStreamDescriptor::maximumBufferSizeBytes);
}

TEST(ElementaryStreamDescriptorTests, EqualFieldsGiveEqualBytesAndTheReaderGetsThemBack) {
    const auto descriptor = monoDescriptor();
    EXPECT_EQ(descriptor.encodedData(), monoDescriptor().encodedData());
    EXPECT_EQ(readElementaryStreamDescriptor(descriptor.encodedData()), descriptor);

    auto other = descriptor;
    other.audioSpecificConfig = *fromHex("f8e64000");
    EXPECT_NE(other.encodedData(), descriptor.encodedData());
}

}  // namespace
}  // namespace quillbridge
