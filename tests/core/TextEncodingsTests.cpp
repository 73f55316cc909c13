#include <gtest/gtest.h>

#include "core/Base64.hpp"
#include "core/Date.hpp"
#include "core/UnicodeText.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {
namespace {

TEST(Base64Tests, StandardVectorsRoundTrip) {
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (auto [plain, encoded] : vectors) {
        EXPECT_EQ(encodeBase64(asBytes(plain)), encoded);
        auto decoded = decodeBase64(encoded);
        ASSERT_TRUE(decoded.has_value()) << encoded;
        EXPECT_EQ(asText(*decoded), plain);
    }
    Bytes all(256);
    for (int index = 0; index < 256; ++index)
        all[index] = static_cast<std::uint8_t>(index);
    EXPECT_EQ(decodeBase64(encodeBase64(all)), all);
    EXPECT_EQ(encodeBase64(Bytes{0xfb, 0xff}), "+/8=");
}

TEST(Base64Tests, RefusesAnythingButStrictPaddedStandardText) {
    for (std::string_view text : {"Zg", "Zm8", "Zg=", "Zm9vYg", "Zm 9v", "Zm9v\n", "Zm9v====", "Z===", "=Zm9",
                                  "Zm=v", "Zh==", "Zm9=", "Zm-_"}) {
        EXPECT_FALSE(decodeBase64(text).has_value()) << text;
    }
    EXPECT_FALSE(decodeBase64(std::string_view("Zm9v\0\0\0\0", 8)).has_value());
}

TEST(UuidTests, ReadsEitherCaseAndWritesUpperCase) {
    auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    auto upper = Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(lower->bytes[0], 0xe6);
    EXPECT_EQ(lower->bytes[15], 0x5f);
}

TEST(UuidTests, RefusesMalformedText) {
    for (std::string_view text :
         {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF", "E621E1F8-C36C-495A-93FC_0C247A3E6E5F",
          "G621E1F8-C36C-495A-93FC-0C247A3E6E5F", "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",
          "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}", " E621E1F8-C36C-495A-93FC-0C247A3E6E5"}) {
        EXPECT_FALSE(Uuid::parse(text).has_value()) << text;
    }
}

TEST(UuidTests, RandomIdentifiersAreVersionFourAndDistinct) {
    Uuid first = Uuid::random();
    Uuid second = Uuid::random();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.string()[14], '4');
    EXPECT_EQ(first.bytes[8] & 0xc0, 0x80);
    EXPECT_EQ(Uuid::parse(first.string()), first);
}

TEST(DateTests, CountsSecondsFromTheStartOf2001) {
    EXPECT_EQ(Date::fromUnixSeconds(978307200.0).secondsSinceReferenceDate, 0.0);
    // 2025-12-01 00:00:00 UTC
    Date date = Date::fromUnixSeconds(1764547200.25);
    EXPECT_DOUBLE_EQ(date.secondsSinceReferenceDate, 786240000.25);
    EXPECT_DOUBLE_EQ(Date::fromSystemTime(date.systemTime()).secondsSinceReferenceDate, 786240000.25);
    EXPECT_LT(date.addingSeconds(-786240000), Date{1});
}

TEST(UnicodeTextTests, ValidatesUtf8AndComparesCanonically) {
    EXPECT_TRUE(isValidUtf8("plain \xc3\xa9 \xf0\x9f\x98\x80"));
    for (std::string_view bad : {"\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff"}) {
        EXPECT_FALSE(isValidUtf8(bad));
    }
    EXPECT_TRUE(canonicallyEquivalent("\xc3\x85", "A\xcc\x8a"));     // Å precomposed and decomposed
    EXPECT_TRUE(canonicallyEquivalent("\xe2\x84\xab", "\xc3\x85"));  // the Angstrom sign
    EXPECT_FALSE(canonicallyEquivalent("\xef\xac\x81", "fi"));       // a ligature is only compatible
    EXPECT_FALSE(canonicallyEquivalent("a", "A"));
}

}  // namespace
}  // namespace quillbridge
