// What a peer's control message text must be to be read at all: numbers exact, no NUL bytes, no repeated
// member names. Every case goes the way the control stream reads a message: framed bytes, the framing
// reader, then the message decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "support/InMemoryByteStream.hpp"
#include "support/RunAwaitable.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

using Message = StreamControlMessage;
using Case = Message::Case;

JsonResult<Message> receive(std::string_view body) {
    InMemoryByteStream stream(ControlMessageFraming::frame(asBytes(body)));
    Bytes data = runAwaitable(ControlMessageFraming::readMessageData(stream));
    return decodeJson<Message>(asText(data));
}

std::string describeResult(const JsonResult<Message>& result) {
    return result ? std::string("decoded") : describe(result.error());
}

// A number literal in a field of each integer width the control messages use.
std::string clockResultWithOffset(std::string_view literal) {
    return R"({"clockSynchronizationResult":{"_0":{"visionToMacOffsetNanoseconds":)" + std::string(literal) +
           R"(,"initialReverseMediaLeadNanoseconds":0}}})";
}
std::string clockRequestWithSendTime(std::string_view literal) {
    return R"({"clockSynchronizationRequest":{"_0":{"sequenceNumber":1,"clientSendTimeNanoseconds":)" +
           std::string(literal) + "}}}";
}
std::string clockRequestWithSequence(std::string_view literal) {
    return R"({"clockSynchronizationRequest":{"_0":{"sequenceNumber":)" + std::string(literal) +
           R"(,"clientSendTimeNanoseconds":0}}})";
}

std::optional<std::int64_t> receivedOffset(std::string_view literal) {
    auto message = receive(clockResultWithOffset(literal));
    if (!message)
        return std::nullopt;
    return message->get<Case::clockSynchronizationResult>()->visionToMacOffsetNanoseconds;
}
std::optional<std::uint64_t> receivedSendTime(std::string_view literal) {
    auto message = receive(clockRequestWithSendTime(literal));
    if (!message)
        return std::nullopt;
    return message->get<Case::clockSynchronizationRequest>()->clientSendTimeNanoseconds;
}

constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto uint64Max = std::numeric_limits<std::uint64_t>::max();

TEST(ControlStreamStrictJsonTests, SignedFieldsTakeExactlyTheirRangeAndNothingRoundedIntoIt) {
    const std::pair<std::string_view, std::optional<std::int64_t>> cases[] = {
        {"-9223372036854775808", int64Min},
        {"-9223372036854775807", int64Min + 1},
        {"9223372036854775807", int64Max},
        {"-9223372036854775809", std::nullopt},  // a double rounds it to -2^63
        {"-9223372036854776832", std::nullopt},  // the lowest literal a double rounds to -2^63
        {"-9223372036854776833", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"-18446744073709551616", std::nullopt},
        {"-100000000000000000000000000000", std::nullopt},
        {"-9223372036854775808.0", int64Min},
        {"-9.223372036854775808e18", int64Min},
        {"-9.223372036854775809e18", std::nullopt},
        {"9.223372036854775807e18", std::nullopt},  // 2^63-1 is not a double, and is past the range anyway
        {"-1e19", std::nullopt},
        {"-0", 0},
        {"-1", -1},
    };
    for (auto [literal, expected] : cases)
        EXPECT_EQ(receivedOffset(literal), expected) << literal;
}

TEST(ControlStreamStrictJsonTests, UnsignedFieldsTakeExactlyTheirRangeAndNothingRoundedIntoIt) {
    const std::pair<std::string_view, std::optional<std::uint64_t>> cases[] = {
        {"18446744073709551615", uint64Max},
        {"18446744073709551614", uint64Max - 1},
        {"18446744073709551616", std::nullopt},
        {"18446744073709551617", std::nullopt},
        {"36893488147419103232", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"100000000000000000000", std::nullopt},
        {"1e20", std::nullopt},
        {"1.8446744073709551616e19", std::nullopt},
        {"1.8446744073709551615e19", std::nullopt},           // in range, but no double holds it
        {"1.8446744073709549568e19", 18446744073709549568u},  // the largest double below 2^64
        {"-1", std::nullopt},
        {"-1.0", std::nullopt},
        {"0", 0},
    };
    for (auto [literal, expected] : cases)
        EXPECT_EQ(receivedSendTime(literal), expected) << literal;
}

TEST(ControlStreamStrictJsonTests, IntegralFloatFormsAreTakenOnlyWhenExact) {
    const std::pair<std::string_view, std::optional<std::uint64_t>> cases[] = {
        {"60.0", 60},
        {"3e0", 3},
        {"1.5e1", 15},
        {"6E1", 60},
        {"6e+1", 60},
        {"600e-1", 60},
        {"0.0", 0},
        {"-0.0", 0},
        {"0e-99999999999999999999", 0},
        {"1e18", 1'000'000'000'000'000'000u},
        {"9007199254740993", 9007199254740993u},  // written as an integer, read exactly
        {"9.007199254740992e15", 9007199254740992u},
        {"9.007199254740994e15", 9007199254740994u},
        {"9.007199254740993e15", std::nullopt},  // a double rounds it to 2^53
        {"9007199254740993.0", std::nullopt},
        {"1.5", std::nullopt},
        {"15e-1", std::nullopt},
        {"1e-1", std::nullopt},
        {"1.0000000000000000001", std::nullopt},  // a double rounds it to 1
        {"1e99999999999999999999", std::nullopt},
        {"1e400", std::nullopt},
    };
    for (auto [literal, expected] : cases)
        EXPECT_EQ(receivedSendTime(literal), expected) << literal;

    // The narrower fields check their own range on the same exact value.
    const std::pair<std::string_view, bool> sequences[] = {
        {"4294967295", true},
        {"4.294967295e9", true},
        {"4294967296", false},
        {"4.294967296e9", false},
    };
    for (auto [literal, accepted] : sequences)
        EXPECT_EQ(receive(clockRequestWithSequence(literal)).has_value(), accepted) << literal;
}

TEST(ControlStreamStrictJsonTests, FloatingPointFieldsStillTakeTheNearestDouble) {
    const std::pair<std::string_view, double> cases[] = {
        {"9.007199254740993e15", 9007199254740992.0},
        {"9007199254740993", 9007199254740992.0},
        {"18446744073709551617", 18446744073709551616.0},
        {"-9223372036854775809", -9223372036854775808.0},
        {"0.1", 0.1},
        {"60.0", 60.0},
        {"-1.5e1", -15.0},
    };
    for (auto [literal, expected] : cases) {
        auto message =
            receive(R"({"mouseMove":{"_0":{"deltaX":)" + std::string(literal) + R"(,"deltaY":0}}})");
        ASSERT_TRUE(message.has_value()) << literal << ": " << describeResult(message);
        EXPECT_EQ(message->get<Case::mouseMove>()->deltaX, expected) << literal;
    }
    EXPECT_FALSE(receive(R"({"mouseMove":{"_0":{"deltaX":1e400,"deltaY":0}}})").has_value());
}

TEST(ControlStreamStrictJsonTests, TextWithARawNulByteIsRefusedWherever) {
    using namespace std::string_literals;
    const std::string refused[] = {
        "{\"heartbeat\":{}}\0"s,        "{\"heartbeat\":{}}\0{\"receiverReady\":{}}"s,
        "{\"heartbeat\":{}}\0garbage"s, "\0{\"heartbeat\":{}}"s,
        "{\"heartbeat\":\0{}}"s,        "{\"textInput\":{\"_0\":{\"text\":\"a\0b\"}}}"s,
    };
    for (const auto& text : refused) {
        auto message = receive(text);
        ASSERT_FALSE(message.has_value()) << text.size() << "-byte text decoded";
        EXPECT_EQ(message.error().kind, JsonErrorKind::dataCorrupted);
    }

    // The character itself, escaped, is text like any other.
    auto escaped = receive(R"({"textInput":{"_0":{"text":"a\u0000b"}}})");
    ASSERT_TRUE(escaped.has_value()) << describeResult(escaped);
    EXPECT_EQ(escaped->get<Case::textInput>()->text, "a\0b"s);
    EXPECT_TRUE(receive(R"({"heartbeat":{}} )").has_value());
}

TEST(ControlStreamStrictJsonTests, RepeatedMemberNamesAreRefusedAtEveryLevel) {
    const std::pair<std::string_view, std::string_view> refused[] = {
        {R"({"heartbeat":{},"heartbeat":{}})", "heartbeat"},
        {R"({"heartbeat":{},"note":1,"heartbeat":{"x":1}})", "heartbeat"},
        {R"({"hello":{},"heartbeat":{},"hello":{}})", "hello"},
        {R"({"heartbeat":{},"heart\u0062eat":{}})", "heartbeat"},  // the same name once unescaped
        {R"({"note":1,"note":2,"heartbeat":{}})", "note"},
        {R"({"heartbeat":{"x":1,"x":1}})", "heartbeat.x"},
        {R"({"pairingRejected":{"_0":"busy","_0":"canceled"}})", "pairingRejected._0"},
        {R"({"clockSynchronizationRequest":{"_0":{"sequenceNumber":1,"clientSendTimeNanoseconds":2,)"
         R"("sequenceNumber":3}}})",
         "clockSynchronizationRequest._0.sequenceNumber"},
        {R"({"heartbeat":{"list":[{"a":1},{"a":1,"a":2}]}})", "heartbeat.list.Index 1.a"},
    };
    for (auto [text, path] : refused) {
        auto message = receive(text);
        ASSERT_FALSE(message.has_value()) << text;
        EXPECT_EQ(message.error().kind, JsonErrorKind::dataCorrupted) << text;
        EXPECT_EQ(message.error().codingPath, path) << text;
        EXPECT_NE(message.error().description.find("duplicate member name"), std::string::npos)
            << describe(message.error());
    }

    // One name in different objects, or names that differ, are no repetition.
    const std::pair<std::string_view, Case> accepted[] = {
        {R"({"heartbeat":{"heartbeat":{}}})", Case::heartbeat},
        {R"({"heartbeat":{"x":1,"X":2}})", Case::heartbeat},
        {R"({"heartbeat":{},"Heartbeat":{}})", Case::heartbeat},
        {R"({"heartbeat":{"list":[{"a":1},{"a":2}],"other":{"a":3}}})", Case::heartbeat},
        {R"({"pairingRejected":{"_0":"busy","_1":"busy"}})", Case::pairingRejected},
    };
    for (auto [text, messageCase] : accepted) {
        auto message = receive(text);
        ASSERT_TRUE(message.has_value()) << text << ": " << describeResult(message);
        EXPECT_EQ(message->messageCase(), messageCase) << text;
    }
}

}  // namespace
}  // namespace quillbridge
