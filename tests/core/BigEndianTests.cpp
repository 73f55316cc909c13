#include "core/BigEndian.hpp"

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

TEST(BigEndianTests, ReadsValuesMostSignificantByteFirst) {
    Bytes data{0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
    std::size_t cursor = 0;
    EXPECT_EQ(readBigEndianUInt16(data, cursor), 258);
    EXPECT_EQ(readBigEndianUInt64(data, cursor), 256u);
    EXPECT_EQ(cursor, data.size());
}

TEST(BigEndianTests, ShortReadReturnsNothingAndKeepsTheCursor) {
    Bytes data{0xaa, 0x00, 0x00, 0x00, 0x2a};
    struct Case {
        std::size_t start;
        bool hasValue;
    };
    for (auto [start, hasValue] : {Case{2, false}, Case{1, true}, Case{5, false}, Case{6, false}}) {
        std::size_t cursor = start;
        auto value = readBigEndianUInt32(data, cursor);
        EXPECT_EQ(value.has_value(), hasValue) << "start " << start;
        EXPECT_EQ(cursor, hasValue ? start + 4 : start);
    }
    std::size_t cursor = 1;
    EXPECT_EQ(readBigEndianUInt32(data, cursor), 42u);
    EXPECT_FALSE(readBigEndianUInt64(data, cursor = 0).has_value());
    EXPECT_EQ(cursor, 0u);
}

TEST(BigEndianTests, ReaderNeverLeavesASlice) {
    Bytes whole{0xff, 0x12, 0x34, 0x56, 0xff};
    ByteView slice = ByteView(whole).subspan(1, 3);
    std::size_t cursor = 0;
    EXPECT_EQ(readBigEndianUInt16(slice, cursor), 0x1234);
    EXPECT_FALSE(readBigEndianUInt16(slice, cursor).has_value());
    EXPECT_EQ(readUInt8(slice, cursor), 0x56);
}

TEST(BigEndianTests, WritersRoundTripExtremes) {
    Bytes buffer;
    appendBigEndian(buffer, std::uint16_t{0xfffe});
    appendBigEndian(buffer, std::uint32_t{0x01020304});
    appendBigEndian(buffer, std::uint64_t{0xffffffffffffffff});
    EXPECT_EQ(toHex(buffer), "fffe01020304ffffffffffffffff");
    std::size_t cursor = 0;
    EXPECT_EQ(readBigEndianUInt16(buffer, cursor), 0xfffe);
    EXPECT_EQ(readBigEndianUInt32(buffer, cursor), 0x01020304u);
    EXPECT_EQ(readBigEndianUInt64(buffer, cursor), 0xffffffffffffffffu);
}

}  // namespace
}  // namespace quillbridge
