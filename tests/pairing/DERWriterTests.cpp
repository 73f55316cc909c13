#include "pairing/DERWriter.hpp"

#include <gtest/gtest.h>

#include "core/Bytes.hpp"

namespace quillbridge {
namespace {

TEST(DERWriterTests, LengthsUseTheShortestForm) {
    struct Case {
        std::size_t length;
        const char* hex;
    };
    const Case cases[] = {
        {0, "00"},         {127, "7f"},         {128, "8180"},
        {255, "81ff"},     {256, "820100"},     {300, "82012c"},
        {65535, "82ffff"}, {65536, "83010000"}, {0x01020304, "8401020304"},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(toHex(DERWriter::derLength(item.length)), item.hex) << item.length;
    }
}

TEST(DERWriterTests, ElementsCarryTagLengthAndContent) {
    Bytes content(300, 0xAB);
    auto element = DERWriter::derElement(DERWriter::octetString, content);
    ASSERT_EQ(element.size(), 304u);
    EXPECT_EQ(toHex(ByteView(element).first(4)), "0482012c");

    auto sequence =
        DERWriter::derConstructed(DERWriter::sequence, {DERWriter::derUTF8String("a"), Bytes{0x05, 0x00}});
    EXPECT_EQ(toHex(sequence), "30050c01610500");
    EXPECT_EQ(toHex(DERWriter::derConstructed(DERWriter::sequence, {})), "3000");
}

TEST(DERWriterTests, UnsignedIntegersAreMinimalAndPositive) {
    struct Case {
        const char* magnitude;
        const char* encoded;
    };
    const Case cases[] = {
        {"", "020100"},         {"00", "020100"},         {"0000", "020100"},
        {"02", "020102"},       {"7f", "02017f"},         {"80", "02020080"},
        {"000080", "02020080"}, {"00007f01", "02027f01"}, {"ffff", "020300ffff"},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(toHex(DERWriter::derUnsignedInteger(*fromHex(item.magnitude))), item.encoded)
            << item.magnitude;
    }
}

TEST(DERWriterTests, UTCTimeIsUniversalTimeToTheSecond) {
    // 2026-03-04 05:06:07.9 UTC.
    Date date = Date::fromUnixSeconds(1772600767.9);
    EXPECT_EQ(asText(DERWriter::derUTCTime(date)).substr(2), "260304050607Z");
    EXPECT_EQ(DERWriter::derUTCTime(date)[0], 0x17);
    EXPECT_EQ(DERWriter::derUTCTime(date)[1], 13);
}

TEST(DERWriterTests, ValidityTimesSwitchToGeneralizedTimeOutsideTheTwoDigitYears) {
    // 2049-12-31 23:59:59 and 2050-01-01 00:00:00 UTC.
    EXPECT_EQ(asText(DERWriter::derTime(Date::fromUnixSeconds(2524607999))),
              "\x17\x0d"
              "491231235959Z");
    EXPECT_EQ(asText(DERWriter::derTime(Date::fromUnixSeconds(2524608000))),
              "\x18\x0f"
              "20500101000000Z");
}

TEST(DERWriterTests, NameIsOneCommonNameAttribute) {
    EXPECT_EQ(toHex(DERWriter::derName("Q")), "300c310a300806035504030c0151");
}

}  // namespace
}  // namespace quillbridge
