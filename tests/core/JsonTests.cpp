#include "core/Json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillbridge {

// Records at namespace scope, as real ones are, so that the field-wise equality is found for them.
enum class JsonTestShade { light, dark };
enum class JsonTestLevel : int { low = 1, high = 7 };

struct JsonTestInner {
    std::string label;
    std::optional<std::int32_t> weight;
};

struct JsonTestSample {
    std::uint64_t timeNanoseconds = 0;
    std::int8_t smallNumber = 0;
    bool enabled = false;
    double ratio = 0;
    std::string name;
    Bytes payload;
    Uuid id;
    Date createdAt;
    std::optional<std::string> note;
    bool mutes = true;
    JsonTestShade shade = JsonTestShade::light;
    JsonTestLevel level = JsonTestLevel::low;
    std::vector<JsonTestInner> items;
};

template <>
struct JsonEnumCases<JsonTestShade> {
    static constexpr std::array cases{std::pair{JsonTestShade::light, std::string_view("light")},
                                      std::pair{JsonTestShade::dark, std::string_view("dark")}};
};
template <>
struct JsonEnumCases<JsonTestLevel> {
    static constexpr std::array cases{std::pair{JsonTestLevel::low, 1}, std::pair{JsonTestLevel::high, 7}};
};
template <>
struct JsonFields<JsonTestInner> {
    static auto fields() {
        return std::tuple{jsonField("label", &JsonTestInner::label),
                          jsonField("weight", &JsonTestInner::weight)};
    }
};
template <>
struct JsonFields<JsonTestSample> {
    static auto fields() {
        return std::tuple{jsonField("timeNanoseconds", &JsonTestSample::timeNanoseconds),
                          jsonField("smallNumber", &JsonTestSample::smallNumber),
                          jsonField("enabled", &JsonTestSample::enabled),
                          jsonField("ratio", &JsonTestSample::ratio),
                          jsonField("name", &JsonTestSample::name),
                          jsonField("payload", &JsonTestSample::payload),
                          jsonField("id", &JsonTestSample::id),
                          jsonField("createdAt", &JsonTestSample::createdAt),
                          jsonField("note", &JsonTestSample::note),
                          jsonField("mutes", &JsonTestSample::mutes, true),
                          jsonField("shade", &JsonTestSample::shade),
                          jsonField("level", &JsonTestSample::level),
                          jsonField("items", &JsonTestSample::items)};
    }
};

namespace {

Json baseSample() {
    return Json::parse(R"({"timeNanoseconds":1,"smallNumber":2,"enabled":true,"ratio":0.5,"name":"n",
        "payload":"AQID","id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","createdAt":0,"shade":"dark","level":7,
        "items":[]})");
}

JsonTestSample validSample() {
    JsonTestSample sample;
    sample.timeNanoseconds = std::numeric_limits<std::uint64_t>::max();
    sample.smallNumber = -128;
    sample.enabled = true;
    sample.ratio = 1.25;
    sample.name = "Bj\xc3\xb6rk";
    sample.payload = {0x00, 0xff, 0x10};
    sample.id = *Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    sample.createdAt = Date{786297600.5};
    sample.note = "hi";
    sample.mutes = false;
    sample.shade = JsonTestShade::dark;
    sample.level = JsonTestLevel::high;
    sample.items = {JsonTestInner{"a", 3}, JsonTestInner{"b", std::nullopt}};
    return sample;
}

TEST(JsonTests, EncodesCompactlyInFieldOrderAndRoundTrips) {
    auto text = encodeJson(validSample());
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text,
              R"({"timeNanoseconds":18446744073709551615,"smallNumber":-128,"enabled":true,"ratio":1.25,)"
              R"("name":"Björk","payload":"AP8Q","id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)"
              R"("createdAt":786297600.5,"note":"hi","mutes":false,"shade":"dark","level":7,)"
              R"("items":[{"label":"a","weight":3},{"label":"b"}]})");
    auto decoded = decodeJson<JsonTestSample>(*text);
    ASSERT_TRUE(decoded.has_value()) << describe(decoded.error());
    EXPECT_EQ(*decoded, validSample());
}

TEST(JsonTests, ReadsWhatAPeerWrites) {
    // Keys in another order, unknown keys, null optionals, integral floats, lower-case UUIDs.
    auto decoded = decodeJson<JsonTestSample>(
        R"({"items":[{"weight":null,"label":"x","extra":[1,2]}],"level":1.0,"shade":"light","unknown":{"a":1},
            "createdAt":-1.25,"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","payload":"","name":"",
            "ratio":60,"enabled":false,"smallNumber":60.0,"timeNanoseconds":9007199254740993,"note":null})");
    ASSERT_TRUE(decoded.has_value()) << describe(decoded.error());
    EXPECT_EQ(decoded->timeNanoseconds, 9007199254740993u);
    EXPECT_EQ(decoded->smallNumber, 60);
    EXPECT_EQ(decoded->ratio, 60.0);
    EXPECT_EQ(decoded->level, JsonTestLevel::low);
    EXPECT_EQ(decoded->createdAt.secondsSinceReferenceDate, -1.25);
    EXPECT_EQ(decoded->id.string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_FALSE(decoded->note.has_value());
    EXPECT_TRUE(decoded->mutes) << "a missing defaulted field reads its default";
    ASSERT_EQ(decoded->items.size(), 1u);
    EXPECT_FALSE(decoded->items[0].weight.has_value());
}

TEST(JsonTests, RefusesValuesThatDoNotFitTheirField) {
    struct Case {
        const char* key;
        Json value;
        JsonErrorKind kind;
    };
    const Case cases[] = {
        {"timeNanoseconds", Json(1.5), JsonErrorKind::dataCorrupted},
        {"timeNanoseconds", Json(-1), JsonErrorKind::dataCorrupted},
        {"timeNanoseconds", Json(18446744073709551616.0), JsonErrorKind::dataCorrupted},
        // A double is never read as an integer (from text, 60.0 is kept as the integer it is).
        {"timeNanoseconds", Json(60.0), JsonErrorKind::dataCorrupted},
        {"timeNanoseconds", Json("1"), JsonErrorKind::typeMismatch},
        {"smallNumber", Json(128), JsonErrorKind::dataCorrupted},
        {"smallNumber", Json(-129), JsonErrorKind::dataCorrupted},
        {"enabled", Json(1), JsonErrorKind::typeMismatch},
        {"enabled", Json("true"), JsonErrorKind::typeMismatch},
        {"ratio", Json("0.5"), JsonErrorKind::typeMismatch},
        {"payload", Json("AQI"), JsonErrorKind::dataCorrupted},
        {"payload", Json("AR=="), JsonErrorKind::dataCorrupted},
        {"payload", Json("AQ I="), JsonErrorKind::dataCorrupted},
        {"id", Json("E621E1F8C36C495A93FC0C247A3E6E5F"), JsonErrorKind::dataCorrupted},
        {"shade", Json("Dark"), JsonErrorKind::dataCorrupted},
        {"level", Json(2), JsonErrorKind::dataCorrupted},
        {"items", Json::object(), JsonErrorKind::typeMismatch},
        {"name", nullptr, JsonErrorKind::valueNotFound},
    };
    for (const auto& entry : cases) {
        Json json = baseSample();
        json[entry.key] = entry.value;
        auto decoded = fromJson<JsonTestSample>(json);
        ASSERT_FALSE(decoded.has_value()) << entry.key << " = " << entry.value.dump();
        EXPECT_EQ(decoded.error().kind, entry.kind) << entry.key << " = " << entry.value.dump();
        EXPECT_EQ(decoded.error().codingPath, entry.key);
    }
    ASSERT_TRUE(fromJson<JsonTestSample>(baseSample()).has_value());

    auto huge =
        decodeJson<JsonTestSample>(baseSample().dump().replace(baseSample().dump().find("0.5"), 3, "1e999"));
    EXPECT_FALSE(huge.has_value()) << "a number beyond double's range is refused";
}

TEST(JsonTests, MissingRequiredFieldAndNestedErrorsNameTheirPath) {
    Json json = baseSample();
    json.erase("name");
    auto missing = fromJson<JsonTestSample>(json);
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind, JsonErrorKind::keyNotFound);
    EXPECT_EQ(missing.error().codingPath, "name");

    json = baseSample();
    json["items"] = Json::parse(R"([{"label":"a"},{"label":"b","weight":2.5}])");
    auto nested = fromJson<JsonTestSample>(json);
    ASSERT_FALSE(nested.has_value());
    EXPECT_EQ(nested.error().codingPath, "items.Index 1.weight");
}

TEST(JsonTests, RefusesToEncodeNonFiniteNumbersAndInvalidText) {
    for (double ratio :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        JsonTestSample sample = validSample();
        sample.ratio = ratio;
        auto text = encodeJson(sample);
        ASSERT_FALSE(text.has_value());
        EXPECT_EQ(text.error().kind, JsonErrorKind::invalidValue);
        EXPECT_EQ(text.error().codingPath, "ratio");
    }
    JsonTestSample sample = validSample();
    sample.items[1].label = "\xff\xfe";
    auto text = encodeJson(sample);
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error().kind, JsonErrorKind::invalidValue);
}

TEST(JsonTests, ParserRefusesMalformedText) {
    for (std::string_view text :
         {"", "{", "{} {}", "{\"a\":1,}", "\"\xc3\x28\"", "[1] x", "{\"name\":\"\xed\xa0\x80\"}"}) {
        auto parsed = parseJson(text);
        ASSERT_FALSE(parsed.has_value()) << text;
        EXPECT_EQ(parsed.error().kind, JsonErrorKind::dataCorrupted);
    }
    EXPECT_TRUE(
        parseJson(std::string(maximumJsonDepth, '[') + std::string(maximumJsonDepth, ']')).has_value());
    EXPECT_FALSE(parseJson(std::string(100000, '[') + std::string(100000, ']')).has_value());

    // What the parser itself would let through: a NUL byte ends its input, and a repeated name replaces
    // the earlier member. Both are refused, at any depth; the error names the repeated member.
    using namespace std::string_literals;
    for (const std::string& text : {"[1]\0"s, "[1]\0]"s, "\0"s, "[\"a\0\"]"s}) {
        auto parsed = parseJson(text);
        ASSERT_FALSE(parsed.has_value()) << text.size();
        EXPECT_EQ(parsed.error().kind, JsonErrorKind::dataCorrupted);
    }
    const std::pair<std::string_view, std::string_view> repeated[] = {
        {R"({"a":1,"a":1})", "a"},
        {R"({"a":{"b":[0,{"c":1,"d":2,"c":3}]}})", "a.b.Index 1.c"},
        {R"([{"a":{}},{"b":{},"b":null}])", "Index 1.b"},
    };
    for (auto [text, path] : repeated) {
        auto parsed = parseJson(text);
        ASSERT_FALSE(parsed.has_value()) << text;
        EXPECT_EQ(parsed.error().kind, JsonErrorKind::dataCorrupted) << text;
        EXPECT_EQ(parsed.error().codingPath, path) << text;
    }
    // Large objects too, whichever earlier member is repeated.
    auto objectOfNames = [](int count, std::optional<int> repeatedName) {
        std::string text = "{";
        for (int index = 0; index < count; ++index)
            text += "\"m" + std::to_string(index) + "\":0,";
        if (repeatedName)
            text += "\"m" + std::to_string(*repeatedName) + "\":1,";
        text.back() = '}';
        return text;
    };
    for (int count : {15, 16, 17, 40}) {
        EXPECT_TRUE(parseJson(objectOfNames(count, std::nullopt)).has_value()) << count;
        for (int repeatedName : {0, count / 2, count - 1}) {
            auto parsed = parseJson(objectOfNames(count, repeatedName));
            ASSERT_FALSE(parsed.has_value()) << count << " " << repeatedName;
            EXPECT_EQ(parsed.error().codingPath, "m" + std::to_string(repeatedName));
        }
    }

    // One name in different objects is no repetition; the value comes out as it went in.
    std::string_view document =
        R"({"a":{"a":[{"a":1},{"a":-2}]},"b":{"a":3.5,"t":true,"f":false,"n":null,"s":"x\"y","e":[],"o":{}}})";
    auto sameNameElsewhere = parseJson(document);
    ASSERT_TRUE(sameNameElsewhere.has_value());
    EXPECT_EQ(serializeJson(*sameNameElsewhere), document);
    EXPECT_TRUE(parseJson(R"({"s":"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["})")
                    .has_value());
}

TEST(JsonTests, EqualityComparesTextByCanonicalEquivalence) {
    JsonTestSample precomposed = validSample();
    JsonTestSample decomposed = validSample();
    precomposed.name = "caf\xc3\xa9";
    decomposed.name = "cafe\xcc\x81";
    EXPECT_EQ(precomposed, decomposed);
    decomposed.items[0].label = "A";
    EXPECT_NE(precomposed, decomposed);
    decomposed = precomposed;
    decomposed.note.reset();
    EXPECT_NE(precomposed, decomposed);
}

}  // namespace
}  // namespace quillbridge
