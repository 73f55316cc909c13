#include "bridge/LengthPrefixedNalUnits.hpp"

#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

TEST(LengthPrefixedNalUnits, ConvertsEachLengthFieldSizeToStartCodes) {
    struct Case {
        std::int32_t fieldSize;
        Bytes payload;
    };
    const Bytes expected{0, 0, 0, 1, 0x65, 0xaa, 0xbb, 0, 0, 0, 1, 0x41};
    const std::vector<Case> cases{
        {1, {3, 0x65, 0xaa, 0xbb, 1, 0x41}},
        {2, {0, 3, 0x65, 0xaa, 0xbb, 0, 1, 0x41}},
        {4, {0, 0, 0, 3, 0x65, 0xaa, 0xbb, 0, 0, 0, 1, 0x41}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.fieldSize);
        EXPECT_EQ(LengthPrefixedNalUnits::toAnnexB(testCase.payload, testCase.fieldSize), expected);
    }
}

TEST(LengthPrefixedNalUnits, RefusesPayloadsWhoseLengthsDoNotAddUp) {
    struct Case {
        const char* name;
        std::int32_t fieldSize;
        Bytes payload;
    };
    const std::vector<Case> cases{
        {"empty payload", 4, {}},
        {"zero length", 4, {0, 0, 0, 0, 0, 0, 0, 1, 0x41}},
        {"length past the end", 4, {0, 0, 0, 5, 0x65, 0xaa}},
        {"second length past the end", 2, {0, 1, 0x65, 0, 9, 0x41}},
        {"truncated length field", 4, {0, 0, 0, 1, 0x65, 0, 0}},
        {"huge length", 4, {0xff, 0xff, 0xff, 0xff, 0x65}},
        {"field size 0", 0, {1, 0x65}},
        {"field size 3", 3, {0, 0, 1, 0x65}},
        {"negative field size", -4, {0, 0, 0, 1, 0x65}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(LengthPrefixedNalUnits::toAnnexB(testCase.payload, testCase.fieldSize), std::nullopt);
    }
}

TEST(LengthPrefixedNalUnits, JoinsParameterSetsInOrder) {
    EXPECT_EQ(LengthPrefixedNalUnits::annexBFromUnits({{0x67, 1}, {0x68}}),
              (Bytes{0, 0, 0, 1, 0x67, 1, 0, 0, 0, 1, 0x68}));
}

}  // namespace
}  // namespace quillbridge
