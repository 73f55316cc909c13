#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Base64.hpp"
#include "core/BigEndian.hpp"
#include "core/Bytes.hpp"
#include "wire/PropertyListReader.hpp"
#include "wire/PropertyListValue.hpp"

namespace quillbridge {
namespace {

// {b = 1, a = ("x", true)} as a binary property list, assembled by hand: header, seven objects, a table
// of one-byte offsets and the trailer (offset size 1, reference size 1, 7 objects, top 0, table at 25).
const Bytes handAssembledBinary = *fromHex(
    "62706c6973743030"    // "bplist00"
    "d201020304"          // 0: dictionary of 2, keys 1 2, values 3 4
    "5162"                // 1: "b"
    "5161"                // 2: "a"
    "1001"                // 3: 1
    "a20506"              // 4: array of 2: 5 6
    "5178"                // 5: "x"
    "09"                  // 6: true
    "080d0f11131618"      // offset table
    "0000000000000101"    // trailer: 6 unused bytes, offset size 1, reference size 1
    "0000000000000007"    // object count
    "0000000000000000"    // top object
    "0000000000000019");  // offset table offset

// Wraps hand-written objects (object 0 is the top) in a header, an offset table and a trailer, with the
// given reference size.
Bytes binaryPropertyList(const std::vector<std::string_view>& objectsHex, std::uint8_t referenceWidth = 1) {
    Bytes data = toBytes("bplist00");
    std::vector<std::size_t> offsets;
    for (auto object : objectsHex) {
        offsets.push_back(data.size());
        appendBytes(data, *fromHex(object));
    }
    std::uint8_t offsetWidth = data.size() > 0xFF ? 2 : 1;
    std::uint64_t table = data.size();
    for (auto offset : offsets) {
        if (offsetWidth == 2)
            appendBigEndian(data, static_cast<std::uint16_t>(offset));
        else
            appendBigEndian(data, static_cast<std::uint8_t>(offset));
    }
    appendBytes(data, Bytes(6, 0));
    appendBigEndian(data, offsetWidth);
    appendBigEndian(data, referenceWidth);
    appendBigEndian(data, static_cast<std::uint64_t>(offsets.size()));
    appendBigEndian(data, std::uint64_t{0});
    appendBigEndian(data, table);
    return data;
}

std::optional<std::string> canonicalText(ByteView data) {
    auto value = readPropertyList(data);
    if (!value)
        return std::nullopt;
    return canonicalPropertyListDescription(*value);
}

std::optional<std::string> canonicalText(std::string_view text) {
    return canonicalText(asBytes(text));
}

TEST(PropertyListTests, CanonicalTextFollowsItsRules) {
    EXPECT_EQ(canonicalText(handAssembledBinary), "{a=[s:x,n:1],b=n:1}");

    using Dictionary = PropertyListValue::Dictionary;
    using Array = PropertyListValue::Array;
    EXPECT_EQ(canonicalPropertyListDescription({Dictionary{}}), "{}");
    EXPECT_EQ(canonicalPropertyListDescription({Array{}}), "[]");
    EXPECT_EQ(canonicalPropertyListDescription({Dictionary{{"k", {Bytes{0x00, 0xFF}}}}}), "{k=d:AP8=}");
    EXPECT_EQ(canonicalPropertyListDescription({Bytes{}}), "d:");
    EXPECT_EQ(canonicalPropertyListDescription({Date{0}}), "t:0.0");
    EXPECT_EQ(canonicalPropertyListDescription({Date{1.5}}), "t:1.5");
    EXPECT_EQ(canonicalPropertyListDescription({Date{-86400}}), "t:-86400.0");
    EXPECT_EQ(canonicalPropertyListDescription({Date{0.1}}), "t:0.1") << "shortest form that reads back";
    EXPECT_EQ(canonicalPropertyListDescription({false}), "n:0");
    EXPECT_EQ(canonicalPropertyListDescription({std::int64_t{-42}}), "n:-42");
    EXPECT_EQ(canonicalPropertyListDescription({std::uint64_t{18446744073709551615u}}),
              "n:18446744073709551615");
    EXPECT_EQ(canonicalPropertyListDescription({2.5}), "n:2.5");
    EXPECT_EQ(canonicalPropertyListDescription({1.0}), "n:1") << "a whole real reads like the integer";
    EXPECT_EQ(canonicalPropertyListDescription({PropertyListValue::Uid{3}}), "uid:3");
    // Nothing is escaped.
    EXPECT_EQ(canonicalPropertyListDescription({Dictionary{{"a=b,{}", {std::string("[x],y")}}}}),
              "{a=b,{}=s:[x],y}");
}

TEST(PropertyListTests, DictionaryKeysAreOrderedByTheirCanonicalDecomposition) {
    using Dictionary = PropertyListValue::Dictionary;
    // "é" precomposed is C3 A9 in UTF-8, after "f"; decomposed it is "e" + U+0301, between "b" and "f".
    PropertyListValue value{Dictionary{{"f", {std::int64_t{5}}},
                                       {"\xc3\xa9", {std::int64_t{4}}},
                                       {"b", {std::int64_t{3}}},
                                       {"a", {std::int64_t{2}}},
                                       {"B", {std::int64_t{1}}}}};
    EXPECT_EQ(canonicalPropertyListDescription(value), "{B=n:1,a=n:2,b=n:3,\xc3\xa9=n:4,f=n:5}");
}

TEST(PropertyListTests, ReadsTheBinaryForm) {
    struct Case {
        const char* label;
        std::vector<std::string_view> objects;
        const char* text;
    };
    const Case cases[] = {
        {"one-byte integer", {"10ff"}, "n:255"},
        {"two-byte integer", {"110100"}, "n:256"},
        {"four-byte integers are unsigned", {"12ffffffff"}, "n:4294967295"},
        {"eight-byte integers are signed", {"13fffffffffffffffe"}, "n:-2"},
        {"sixteen-byte integer above the signed range",
         {"1400000000000000008000000000000000"},
         "n:9223372036854775808"},
        {"sixteen-byte negative integer", {"14ffffffffffffffffffffffffffffffff"}, "n:-1"},
        {"single-precision real", {"223fc00000"}, "n:1.5"},
        {"double-precision real", {"23bff8000000000000"}, "n:-1.5"},
        {"date", {"333ff8000000000000"}, "t:1.5"},
        {"false", {"08"}, "n:0"},
        {"data", {"4300ff10"}, "d:AP8Q"},
        {"data with a count that follows", {"4f1003616263"}, "d:YWJj"},
        {"empty ASCII string", {"50"}, "s:"},
        {"UTF-16 string with a surrogate pair", {"6300e9d83dde00"}, "s:\xc3\xa9\xf0\x9f\x98\x80"},
        {"uid", {"8101ff"}, "uid:511"},
        {"array in order", {"a3010203", "5162", "5161", "09"}, "[s:b,s:a,n:1]"},
        {"shared reference", {"a20101", "5178"}, "[s:x,s:x]"},
        {"later duplicate key wins", {"d201010203", "516b", "1001", "1002"}, "{k=n:2}"},
        {"two-byte references", {"a200010002", "5178", "5179"}, "[s:x,s:y]"},
    };
    for (const auto& entry : cases) {
        std::uint8_t referenceWidth = std::string_view(entry.label) == "two-byte references" ? 2 : 1;
        auto value = readBinaryPropertyList(binaryPropertyList(entry.objects, referenceWidth));
        ASSERT_TRUE(value.has_value()) << entry.label;
        EXPECT_EQ(canonicalPropertyListDescription(*value), entry.text) << entry.label;
    }
}

TEST(PropertyListTests, RefusesMalformedBinaryData) {
    auto withByte = [](std::size_t index, std::uint8_t byte) {
        Bytes data = handAssembledBinary;
        data[index] = byte;
        return data;
    };
    Bytes truncated(handAssembledBinary.begin(), handAssembledBinary.end() - 1);
    Bytes deep;
    {
        // 65 arrays, each holding the next: one level too deep.
        std::vector<std::string> objects;
        for (int level = 0; level < 65; ++level)
            objects.push_back("a1" + toHex(Bytes{std::uint8_t(level + 1)}));
        objects.push_back("50");
        std::vector<std::string_view> views(objects.begin(), objects.end());
        deep = binaryPropertyList(views);
    }
    Bytes shallowEnough;
    {
        std::vector<std::string> objects;
        for (int level = 0; level < 64; ++level)
            objects.push_back("a1" + toHex(Bytes{std::uint8_t(level + 1)}));
        objects.push_back("50");
        std::vector<std::string_view> views(objects.begin(), objects.end());
        shallowEnough = binaryPropertyList(views);
    }
    Bytes doubling;
    {
        // Each array holds the next one twice: 2^40 values if every reference were followed.
        std::vector<std::string> objects;
        for (int level = 0; level < 40; ++level) {
            auto next = toHex(Bytes{std::uint8_t(level + 1)});
            objects.push_back("a2" + next + next);
        }
        objects.push_back("5178");
        std::vector<std::string_view> views(objects.begin(), objects.end());
        doubling = binaryPropertyList(views);
    }
    struct Case {
        const char* label;
        Bytes data;
    };
    const Case cases[] = {
        {"empty", {}},
        {"only the magic", toBytes("bplist00")},
        {"truncated", truncated},
        {"wrong magic", withByte(7, '1')},
        {"offset size 0", withByte(64 - 26, 0)},
        {"reference size 0", withByte(64 - 25, 0)},
        {"no objects", withByte(64 - 17, 0)},
        {"top object out of range", withByte(64 - 9, 7)},
        {"offset table past the trailer", withByte(64 - 1, 0xF0)},
        {"offset table over the header", withByte(64 - 1, 4)},
        {"object offset into the table", withByte(25, 40)},
        {"object offset into the header", withByte(25, 3)},
        {"reference out of range", withByte(9, 9)},
        {"key that is not a string", withByte(10, 3)},
        {"count beyond the objects", withByte(8, 0xDE)},
        {"self-containing array", binaryPropertyList({"a100"})},
        {"nesting too deep", deep},
        {"shared references that multiply", doubling},
        {"null", binaryPropertyList({"00"})},
        {"fill byte", binaryPropertyList({"0f"})},
        {"set", binaryPropertyList({"c0"})},
        {"integer of 32 bytes", binaryPropertyList({"15" + std::string(64, '0')})},
        {"sixteen-byte integer beyond 64 bits", binaryPropertyList({"1400000000000000010000000000000000"})},
        {"half-precision real", binaryPropertyList({"213c00"})},
        {"date of four bytes", binaryPropertyList({"32 3fc00000"})},
        {"ASCII string with a high byte", binaryPropertyList({"51e9"})},
        {"lone high surrogate", binaryPropertyList({"61d83d"})},
        {"lone low surrogate", binaryPropertyList({"61de00"})},
        {"string running into the table", binaryPropertyList({"5f1064"})},
        {"count marker that is not an integer", binaryPropertyList({"4f5101"})},
        {"uid of nine bytes", binaryPropertyList({"88" + std::string(18, '0')})},
    };
    for (const auto& entry : cases) {
        EXPECT_FALSE(readBinaryPropertyList(entry.data).has_value()) << entry.label;
        EXPECT_FALSE(readPropertyList(entry.data).has_value()) << entry.label;
    }
    EXPECT_TRUE(readBinaryPropertyList(shallowEnough).has_value()) << "64 levels are allowed";
}

TEST(PropertyListTests, ReadsTheXmlForm) {
    auto text = canonicalText(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "  <key>real</key><real>0.25</real>\n"
        "  <key>negative</key><integer>-5</integer>\n"
        "  <key>date</key><date>2001-01-01T00:00:01Z</date>\n"
        "  <key>data</key><data>AP8Q</data>\n"
        "  <key>text</key><string>a &lt;b&gt; &amp; caf\xc3\xa9</string>\n"
        "  <key>flags</key><array><true/><false/></array>\n"
        "  <key>nested</key><dict/>\n"
        "</dict>\n</plist>\n");
    EXPECT_EQ(text,
              "{data=d:AP8Q,date=t:1.0,flags=[n:1,n:0],negative=n:-5,nested={},real=n:0.25,"
              "text=s:a <b> & caf\xc3\xa9}");

    std::string deep = "<plist>";
    for (int level = 0; level < 65; ++level)
        deep += "<array>";
    for (int level = 0; level < 65; ++level)
        deep += "</array>";
    deep += "</plist>";
    EXPECT_EQ(canonicalText(deep), std::nullopt) << "nesting too deep";
    EXPECT_EQ(canonicalText("<plist><dict><key>a</key></plist>"), std::nullopt);
    EXPECT_EQ(canonicalText("<?xml version=\"1.0\"?><notaplist/>"), std::nullopt);
    EXPECT_EQ(canonicalText("<plist><string>\xff</string></plist>"), std::nullopt) << "invalid UTF-8";
}

TEST(PropertyListTests, XmlNestingIsCountedAsTheParserReadsTheMarkup) {
    auto repeated = [](std::string_view piece, int count) {
        std::string text = "<plist>";
        for (int index = 0; index < count; ++index)
            text += piece;
        return text;
    };
    // Closing tags that the parser skips (inside comments, CDATA, processing instructions, declarations)
    // must not hide the real nesting around them.
    const std::pair<std::string, bool> cases[] = {
        {repeated("<array>", 3), false},
        {repeated("<array><!--</a></a>-->", 3), false},
        {repeated("<array><?pi </a></a>?>", 3), false},
        {repeated("<array><string><![CDATA[</a></a>]]></string>", 3), false},
        {repeated("<array><string>x<!--</a></a>--></string>", 3), false},
        {repeated("<array><!DOCTYPE x [</a></a>]>", 3), false},
        {repeated(R"(<array x="></a></a>">)", 3), false},
        {R"(<plist><array x="a"><array/></array></plist>)", true},
        {"<plist><array><!--", false},
        {"<plist><array", false},
        // What a property list normally holds is counted as its elements nest.
        {R"(<?xml version="1.0" encoding="UTF-8"?>)"
         R"(<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"
         R"(<plist version="1.0"><array><true/><!-- <array><array><array> --></array></plist>)",
         true},
        {"<plist><array><string><![CDATA[<a><b><c>]]></string></array></plist>", true},
    };
    for (const auto& [text, within] : cases)
        EXPECT_EQ(detail::xmlNestingWithin(text, 3), within) << text;

    // The constructs skipped above read as the parser reads them.
    EXPECT_EQ(canonicalText("<plist><array><!-- </array> --><?pi </array>?><string><![CDATA[a</b>]]></string>"
                            "</array></plist>"),
              "[s:a</b>]");
    // Deep nesting behind skipped closing tags is refused before it reaches the parser, whose recursive
    // release of so deep a tree would overflow the stack.
    EXPECT_EQ(canonicalText(repeated("<array><!--</a>-->", 300'000)), std::nullopt);
}

TEST(PropertyListTests, ReadsTheOldTextForm) {
    EXPECT_EQ(canonicalText(
                  "// extensions\n{ b = 1; a = (x, \"quoted \\\"q\\\" \\U00e9\\n\"); /* data */ c = <00 ff>; "
                  "path = /usr/lib:x-1.0_$; empty = (); }"),
              "{a=[s:x,s:quoted \"q\" \xc3\xa9\n],b=s:1,c=d:AP8=,empty=[],path=s:/usr/lib:x-1.0_$}");
    EXPECT_EQ(canonicalText("{ last = value }"), "{last=s:value}") << "the final semicolon may be left out";
    EXPECT_EQ(canonicalText("(a, b, )"), "[s:a,s:b]");
    EXPECT_EQ(canonicalText("\"\\UD83D\\UDE00 \\101\""), "s:\xf0\x9f\x98\x80 A");
    EXPECT_EQ(canonicalText("<>"), "d:");

    const char* const refusals[] = {
        "",
        "   ",
        "{ a = \"unterminated; }",
        "{ a = b; ",
        "{ a b; }",
        "{ a = b c = d; }",
        "( a b )",
        "<0f0>",
        "<0g>",
        "a b",
        "{ = b; }",
        "/* unterminated",
        "\"\\UD83D\"",
        "\"\\UDE00\"",
        "\"\\200\"",
        "(a, \xff)",
        "{ a = ( b; }",
    };
    for (const char* text : refusals)
        EXPECT_EQ(canonicalText(text), std::nullopt) << text;

    std::string deep(65, '(');
    deep += std::string(65, ')');
    EXPECT_EQ(canonicalText(deep), std::nullopt);
    std::string deepest(64, '(');
    deepest += std::string(64, ')');
    EXPECT_TRUE(canonicalText(deepest).has_value());
}

TEST(PropertyListTests, ChoosesTheFormFromTheData) {
    EXPECT_EQ(canonicalText("\xEF\xBB\xBF  <plist><string>x</string></plist>"), "s:x")
        << "XML after a byte order mark";
    EXPECT_EQ(canonicalText("<0a0b>"), "d:Cgs=") << "text-form data is not XML";
    EXPECT_EQ(canonicalText("bplist00 is not text"), std::nullopt)
        << "the binary magic commits to the binary form";
}

}  // namespace
}  // namespace quillbridge
