#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "core/Bytes.hpp"
#include "wire/AudioFrameDatagram.hpp"
#include "wire/AudioFrameStreamHeader.hpp"
#include "wire/AudioPacketDescription.hpp"
#include "wire/EncodedVideoFrame.hpp"
#include "wire/InboundStreamKind.hpp"
#include "wire/MediaTime.hpp"
#include "wire/MicrophoneFrameStreamHeader.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

namespace quillbridge {
namespace {

Bytes hex(std::string_view text) {
    return *fromHex(text);
}

// A version-1 video header as the headset writes it on its Persona camera stream.
const Bytes personaFrameHeader =
    hex("01"                // version
        "0102030405060708"  // frameID
        "1112131415161718"  // presentationTimeNanoseconds
        "21222324"          // payloadByteCount
        "01");              // key frame

// A microphone chunk header as the headset writes it.
const Bytes microphoneHeader =
    hex("01"                // protocolVersion
        "00000000000000ff"  // chunkID
        "0000001d1a94a200"  // captureTimeNanoseconds: 125 s
        "000001e0"          // frameCount: 480
        "00000780");        // payloadByteCount: 1920

TEST(MediaStreamHeadersTests, StreamKindsAreTheirPositionPlusOne) {
    const std::pair<std::uint8_t, std::optional<InboundStreamKind>> cases[] = {
        {0, std::nullopt},
        {1, InboundStreamKind::video},
        {2, InboundStreamKind::audio},
        {3, InboundStreamKind::personaCamera},
        {4, InboundStreamKind::microphone},
        {5, InboundStreamKind::clipboardPaste},
        {6, std::nullopt},
        {255, std::nullopt},
    };
    for (const auto& [byte, kind] : cases) {
        EXPECT_EQ(inboundStreamKindFromWireByte(byte), kind) << int(byte);
        if (kind) {
            EXPECT_EQ(wireByte(*kind), byte);
        }
    }
}

TEST(MediaStreamHeadersTests, HostVideoHeaderHasItsFixedLayout) {
    VideoFrameStreamHeader header{VideoFrameStreamHeader::hostVersion, 0x0102030405060708, 0x1112131415161718,
                                  0x21222324, true};
    EXPECT_EQ(toHex(header.encodedData()),
              "02"
              "0102030405060708"
              "1112131415161718"
              "21222324"
              "01");
    header.isKeyFrame = false;
    header.frameID = 0;
    EXPECT_EQ(toHex(header.encodedData()),
              "02"
              "0000000000000000"
              "1112131415161718"
              "21222324"
              "00");

    EncodedVideoFrame frame{7, 123456789, true, Bytes(1000, 0xAB)};
    auto forFrame = VideoFrameStreamHeader::forHostFrame(frame);
    ASSERT_TRUE(forFrame.has_value());
    EXPECT_EQ(*forFrame, (VideoFrameStreamHeader{2, 7, 123456789, 1000, true}));
}

TEST(MediaStreamHeadersTests, ReaderTakesOnlyVersionOneVideoHeaders) {
    auto header = VideoFrameStreamHeader::decode(personaFrameHeader);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(*header, (VideoFrameStreamHeader{1, 0x0102030405060708, 0x1112131415161718, 0x21222324, true}));

    // What the host writes is not read back; the same bytes as version 1 are.
    Bytes written = VideoFrameStreamHeader{2, 9, 10, 11, false}.encodedData();
    EXPECT_FALSE(VideoFrameStreamHeader::decode(written).has_value());
    written[0] = 1;
    EXPECT_EQ(VideoFrameStreamHeader::decode(written), (VideoFrameStreamHeader{1, 9, 10, 11, false}));

    // Bytes beyond the header are ignored, and a slice is read from its own start.
    Bytes longer = hex("ffff");
    appendBytes(longer, personaFrameHeader);
    appendBytes(longer, hex("99"));
    EXPECT_EQ(VideoFrameStreamHeader::decode(ByteView(longer).subspan(2)), header);
    EXPECT_FALSE(VideoFrameStreamHeader::decode(ByteView(longer).subspan(2, 21)).has_value());
}

TEST(MediaStreamHeadersTests, KeyFrameFlagIsBitZero) {
    const std::pair<std::uint8_t, bool> cases[] = {{0, false}, {1, true},     {2, false},
                                                   {3, true},  {0xFE, false}, {0xFF, true}};
    for (auto [byte, isKeyFrame] : cases) {
        Bytes data = personaFrameHeader;
        data[21] = byte;
        auto header = VideoFrameStreamHeader::decode(data);
        ASSERT_TRUE(header.has_value()) << int(byte);
        EXPECT_EQ(header->isKeyFrame, isKeyFrame) << int(byte);
    }
}

TEST(MediaStreamHeadersTests, RefusesShortOrForeignVideoHeaders) {
    auto withVersion = [](std::uint8_t version) {
        Bytes data = personaFrameHeader;
        data[0] = version;
        return data;
    };
    struct Case {
        const char* label;
        Bytes data;
    };
    const Case cases[] = {
        {"empty", {}},
        {"version byte only", hex("01")},
        {"21 bytes", Bytes(personaFrameHeader.begin(), personaFrameHeader.end() - 1)},
        {"version 0", withVersion(0)},
        {"version 2", withVersion(2)},
        {"version 3", withVersion(3)},
        {"version 255", withVersion(255)},
    };
    for (const auto& entry : cases)
        EXPECT_FALSE(VideoFrameStreamHeader::decode(entry.data).has_value()) << entry.label;
}

TEST(MediaStreamHeadersTests, MicrophoneHeaderReadsItsFixedLayout) {
    auto header = MicrophoneFrameStreamHeader::decode(microphoneHeader);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(*header, (MicrophoneFrameStreamHeader{1, 255, 125'000'000'000, 480, 1920}));

    // The reader bounds neither count; the stream does.
    Bytes huge = microphoneHeader;
    for (std::size_t index = 17; index < 25; ++index)
        huge[index] = 0xFF;
    huge.push_back(0x00);  // and a byte beyond the header, ignored
    auto unbounded = MicrophoneFrameStreamHeader::decode(huge);
    ASSERT_TRUE(unbounded.has_value());
    EXPECT_EQ(unbounded->frameCount, std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(unbounded->payloadByteCount, std::numeric_limits<std::uint32_t>::max());

    auto withVersion = [](std::uint8_t version) {
        Bytes data = microphoneHeader;
        data[0] = version;
        return data;
    };
    struct Case {
        const char* label;
        Bytes data;
    };
    const Case refusals[] = {
        {"empty", {}},
        {"24 bytes", Bytes(microphoneHeader.begin(), microphoneHeader.end() - 1)},
        {"a video header", personaFrameHeader},
        {"version 0", withVersion(0)},
        {"version 2", withVersion(2)},
        {"version 255", withVersion(255)},
    };
    for (const auto& entry : refusals) {
        EXPECT_FALSE(MicrophoneFrameStreamHeader::decode(entry.data).has_value()) << entry.label;
    }
}

TEST(MediaStreamHeadersTests, AudioHeaderAndPacketDescriptionHaveTheirFixedLayouts) {
    EXPECT_EQ(toHex(AudioPacketDescription{0x01020304, 0xA0B0C0D0}.encodedData()), "01020304a0b0c0d0");
    AudioFrameStreamHeader header{1, 0x0102030405060708, 0x1112131415161718, 0x2122, 0x31323334, 0x41424344};
    EXPECT_EQ(toHex(header.encodedData()),
              "01"
              "0102030405060708"
              "1112131415161718"
              "2122"
              "31323334"
              "41424344");
    EXPECT_EQ(header.encodedData().size(), AudioFrameStreamHeader::byteCount);
}

AudioFrameDatagram datagram(std::size_t packetCount, std::size_t payloadByteCount) {
    AudioFrameDatagram value;
    value.formatRevision = 0x0A0B0C0D;
    value.header = AudioFrameStreamHeader{1,
                                          5,
                                          6,
                                          static_cast<std::uint16_t>(packetCount),
                                          static_cast<std::uint32_t>(8 * packetCount),
                                          static_cast<std::uint32_t>(payloadByteCount)};
    for (std::size_t index = 0; index < packetCount; ++index) {
        value.packetDescriptions.push_back({static_cast<std::uint32_t>(index + 1), 480});
    }
    value.payload.assign(payloadByteCount, 0x5A);
    return value;
}

TEST(MediaStreamHeadersTests, AudioDatagramsAreLaidOutInOrder) {
    auto empty = datagram(0, 0).encodedData();
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(toHex(*empty),
              "02"
              "0a0b0c0d"
              "01"
              "0000000000000005"
              "0000000000000006"
              "0000"
              "00000000"
              "00000000");

    auto full = datagram(2, 1152).encodedData();
    ASSERT_TRUE(full.has_value()) << "exactly 1200 bytes is built";
    ASSERT_EQ(full->size(), 1200u);
    EXPECT_EQ(toHex(ByteView(*full).first(48)),
              "02"
              "0a0b0c0d"
              "01"
              "0000000000000005"
              "0000000000000006"
              "0002"
              "00000010"
              "00000480"
              "00000001000001e0"
              "00000002000001e0");
    EXPECT_EQ(Bytes(full->begin() + 48, full->end()), Bytes(1152, 0x5A));

    auto onlyPayload = datagram(0, 1168).encodedData();
    ASSERT_TRUE(onlyPayload.has_value());
    EXPECT_EQ(onlyPayload->size(), 1200u);
}

TEST(MediaStreamHeadersTests, InconsistentOrOversizedDatagramsAreNotBuilt) {
    struct Case {
        const char* label;
        AudioFrameDatagram value;
    };
    auto mutated = [](std::size_t packets, std::size_t payload, auto change) {
        auto value = datagram(packets, payload);
        change(value);
        return value;
    };
    const Case cases[] = {
        {"one byte over 1200 with packets", datagram(2, 1153)},
        {"one byte over 1200 without packets", datagram(0, 1169)},
        {"far too large", datagram(200, 0)},
        {"packet count above the descriptions",
         mutated(2, 10, [](AudioFrameDatagram& value) { value.header.packetCount = 3; })},
        {"packet count below the descriptions",
         mutated(2, 10, [](AudioFrameDatagram& value) { value.packetDescriptions.push_back({}); })},
        {"description byte count not 8 per packet",
         mutated(2, 10, [](AudioFrameDatagram& value) { value.header.packetDescriptionsByteCount = 15; })},
        {"description byte count of a wrapped count",
         mutated(0, 10,
                 [](AudioFrameDatagram& value) { value.header.packetDescriptionsByteCount = 8 * 65536; })},
        {"payload shorter than announced",
         mutated(1, 10, [](AudioFrameDatagram& value) { value.header.payloadByteCount = 11; })},
        {"payload longer than announced",
         mutated(1, 10, [](AudioFrameDatagram& value) { value.payload.push_back(0); })},
    };
    for (const auto& entry : cases)
        EXPECT_FALSE(entry.value.encodedData().has_value()) << entry.label;
}

TEST(MediaStreamHeadersTests, MediaTimesBecomeNonNegativeNanoseconds) {
    constexpr std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    const std::pair<MediaTime, std::uint64_t> cases[] = {
        {MediaTime::make(1, 3), 333'333'333},
        {MediaTime::make(2, 3), 666'666'666},
        {MediaTime::make(3, 10), 300'000'000},
        {MediaTime::make(1, 48000), 20'833},
        {MediaTime::make(0, 600), 0},
        {MediaTime::make(-1, 600), 0},
        {MediaTime::make(std::numeric_limits<std::int64_t>::min(), 1), 0},
        {MediaTime::make(5, 0), 0},
        {MediaTime::make(5, -1), 0},
        {MediaTime::invalid(), 0},
        {MediaTime::indefinite(), 0},
        {MediaTime::positiveInfinity(), 0},
        {MediaTime::negativeInfinity(), 0},
        // A nanosecond clock reading comes back unchanged, to the last nanosecond.
        {MediaTime::fromNanoseconds(123'456'789'012'345'678), 123'456'789'012'345'678},
        {MediaTime::fromNanoseconds(std::numeric_limits<std::int64_t>::max()),
         static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())},
        {MediaTime::make(18'446'744'073, 1), 18'446'744'073'000'000'000u},
        {MediaTime::make(18'446'744'074, 1), largest},
        {MediaTime::make(std::numeric_limits<std::int64_t>::max(), 1), largest},
    };
    for (const auto& [time, nanoseconds] : cases) {
        EXPECT_EQ(time.nonNegativeNanoseconds(), nanoseconds) << time.value << "/" << time.timescale;
    }
}

}  // namespace
}  // namespace quillbridge
