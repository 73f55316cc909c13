// The property channel's message format: exact layout, round trips of every value type, and the refusal of
// every malformed or out-of-bounds message in both directions.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "virtual_devices/MicrophonePacket.hpp"
#include "virtual_devices/PropertyChannelMessage.hpp"

namespace quillbridge::microphone {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes header(std::uint16_t kind, std::uint32_t requestID) {
    Bytes bytes{'Q', 'B', 'P', 'C', 1, 0};
    appendLittleEndian(bytes, kind);
    appendLittleEndian(bytes, requestID);
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

template <typename Integer>
Bytes le(Integer value) {
    Bytes bytes;
    appendLittleEndian(bytes, value);
    return bytes;
}

Bytes text(std::string_view value) {
    Bytes bytes = le(static_cast<std::uint32_t>(value.size()));
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}

// A get request for the box's acquired flag, with a string qualifier and no data.
Bytes requestBody(Bytes qualifier = concat({{4}, text("uid")}), Bytes data = {0}) {
    return concat({{4},
                   le<std::uint32_t>(2),
                   le<std::uint32_t>(fourCharCode("bxon")),
                   le<std::uint32_t>(scope::global),
                   le<std::uint32_t>(0),
                   le<std::uint32_t>(0xFFFFFFFF),
                   qualifier,
                   data});
}

TEST(PropertyChannelMessageTests, ARequestHasTheDocumentedLayout) {
    PropertyChannelRequest request{9,
                                   PropertyChannelOperation::getPropertyData,
                                   boxObjectID,
                                   {selector::acquired, scope::global, 0},
                                   propertyChannelReportedCapacity,
                                   std::string("uid"),
                                   {}};
    Bytes expected = concat({header(1, 9), requestBody()});
    EXPECT_EQ(encodePropertyChannelMessage(request), expected);
    EXPECT_EQ(decodePropertyChannelMessage(expected), PropertyChannelMessage(request));
    EXPECT_EQ(peekPropertyChannelRequestID(expected), 9u);
}

TEST(PropertyChannelMessageTests, EveryKindAndValueTypeSurvivesARoundTrip) {
    PropertyChannelDictionary dictionary{{{"a", std::uint32_t{1}},
                                          {"b", std::int64_t{-5}},
                                          {"c", 2.5},
                                          {"d", std::string("text")},
                                          {"é", PropertyChannelBytes{1, 2}}}};
    const PropertyChannelValue values[] = {
        {},
        std::uint32_t{0xFFFFFFFF},
        std::int64_t{-9'000'000'000'000'000'000},
        48000.0,
        std::string("Quillbridge Microphone ✓"),
        PropertyChannelBytes(5000, 7),
        dictionary,
        PropertyChannelDictionary{},
    };
    for (const auto& value : values) {
        SCOPED_TRACE(value.index());
        const PropertyChannelMessage messages[] = {
            PropertyChannelRequest{
                1, PropertyChannelOperation::setPropertyData, 3, {1, 2, 3}, 0, value, value},
            PropertyChannelResponse{2, -5, value},
        };
        for (const auto& message : messages) {
            auto bytes = encodePropertyChannelMessage(message);
            ASSERT_TRUE(bytes);
            EXPECT_EQ(decodePropertyChannelMessage(*bytes), message);
        }
    }
    PropertyChannelPropertiesChanged changed{2, {{1, 2, 3}, {4, 5, 6}}};
    auto bytes = encodePropertyChannelMessage(changed);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(decodePropertyChannelMessage(*bytes), PropertyChannelMessage(changed));
}

TEST(PropertyChannelMessageTests, MalformedMessagesAreRefused) {
    Bytes good = concat({header(1, 9), requestBody()});
    ASSERT_TRUE(decodePropertyChannelMessage(good));
    Bytes body = requestBody();
    Bytes afterOperation(body.begin() + 1, body.end());
    auto changedBody = [](std::uint32_t count) {
        Bytes body = concat({le<std::uint32_t>(2), le(count)});
        for (std::uint32_t index = 0; index < count; ++index) {
            body = concat({body, le<std::uint32_t>(1), le<std::uint32_t>(2), le<std::uint32_t>(3)});
        }
        return body;
    };
    Bytes manyEntries = le<std::uint32_t>(65);
    for (int index = 0; index < 65; ++index) {
        manyEntries = concat({manyEntries, text("k"), {1}, le<std::uint32_t>(0)});
    }
    struct Case {
        const char* name;
        Bytes message;
    };
    const Case cases[] = {
        {"empty", {}},
        {"header only", header(1, 9)},
        {"wrong magic", concat({{'Q', 'B', 'P', 'X', 1, 0, 1, 0, 9, 0, 0, 0}, requestBody()})},
        {"version 2", concat({{'Q', 'B', 'P', 'C', 2, 0, 1, 0, 9, 0, 0, 0}, requestBody()})},
        {"kind 4", concat({header(4, 9), requestBody()})},
        {"operation 0", concat({header(1, 9), Bytes{0}, afterOperation})},
        {"operation 6", concat({header(1, 9), Bytes{6}, afterOperation})},
        {"a trailing byte", concat({good, {0}})},
        {"one byte short", Bytes(good.begin(), good.end() - 1)},
        {"unknown value tag", concat({header(1, 9), requestBody({7})})},
        {"string past the end",
         concat({header(1, 9), requestBody(concat({{4}, le<std::uint32_t>(1000), {'a'}}))})},
        {"string over 4096 bytes",
         concat({header(1, 9), requestBody(concat({{4}, text(std::string(4097, 'a'))}))})},
        {"overlong UTF-8",
         concat({header(1, 9), requestBody(concat({{4}, le<std::uint32_t>(2), {0xC0, 0x80}}))})},
        {"UTF-8 surrogate",
         concat({header(1, 9), requestBody(concat({{4}, le<std::uint32_t>(3), {0xED, 0xA0, 0x80}}))})},
        {"UTF-8 cut short",
         concat({header(1, 9), requestBody(concat({{4}, le<std::uint32_t>(2), {0xE2, 0x9C}}))})},
        {"bytes length past the end",
         concat({header(1, 9), requestBody({0}, concat({{5}, le<std::uint32_t>(0xFFFFFFF0), {1, 2}}))})},
        {"dictionary of 65 entries", concat({header(1, 9), requestBody({0}, concat({{6}, manyEntries}))})},
        {"dictionary inside a dictionary",
         concat(
             {header(1, 9),
              requestBody({0}, concat({{6}, le<std::uint32_t>(1), text("k"), {6}, le<std::uint32_t>(0)}))})},
        {"empty value in a dictionary",
         concat({header(1, 9), requestBody({0}, concat({{6}, le<std::uint32_t>(1), text("k"), {0}}))})},
        {"key over 256 bytes", concat({header(1, 9), requestBody({0}, concat({{6},
                                                                              le<std::uint32_t>(1),
                                                                              text(std::string(257, 'k')),
                                                                              {1},
                                                                              le<std::uint32_t>(0)}))})},
        {"no changed addresses", concat({header(3, 0), changedBody(0)})},
        {"17 changed addresses", concat({header(3, 0), changedBody(17)})},
        {"changed with a request identifier", concat({header(3, 5), changedBody(1)})},
        {"response without a value", concat({header(2, 9), le<std::int32_t>(0)})},
        {"over the size limit", concat({header(2, 9),
                                        le<std::int32_t>(0),
                                        {5},
                                        le<std::uint32_t>(propertyChannelMaximumMessageByteCount),
                                        Bytes(propertyChannelMaximumMessageByteCount, 0)})},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_FALSE(decodePropertyChannelMessage(test.message));
    }
    EXPECT_TRUE(decodePropertyChannelMessage(concat({header(3, 0), changedBody(16)})));
}

TEST(PropertyChannelMessageTests, TheEncoderRefusesWhatNoPeerCouldRead) {
    auto response = [](PropertyChannelValue value) {
        return PropertyChannelResponse{1, 0, std::move(value)};
    };
    EXPECT_FALSE(encodePropertyChannelMessage(response(std::string(4097, 'a'))));
    EXPECT_FALSE(encodePropertyChannelMessage(response(std::string("\xFF"))));
    EXPECT_FALSE(
        encodePropertyChannelMessage(response(PropertyChannelBytes(propertyChannelMaximumMessageByteCount))));
    PropertyChannelDictionary large;
    for (int index = 0; index < 65; ++index) {
        large.entries.emplace_back("k", std::uint32_t{0});
    }
    EXPECT_FALSE(encodePropertyChannelMessage(response(large)));
    EXPECT_FALSE(encodePropertyChannelMessage(PropertyChannelPropertiesChanged{1, {}}));
    EXPECT_TRUE(encodePropertyChannelMessage(response(std::string(4096, 'a'))));
}

TEST(MicrophonePacketLayoutTests, FieldsSitAtTheirOffsetsInLittleEndian) {
    MicrophonePacketHeader header{0x0102030405060708, -2, 0x1112131415161718, 0, 4000};
    std::vector<float> samples{1.0f, -0.5f};
    auto packet = encodeMicrophonePacket(header, std::span<const float>(samples));
    ASSERT_EQ(packet.size(), 48u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 8), (Bytes{'A', 'M', 'B', 'Q', 2, 0, 0, 0}));
    EXPECT_EQ(packet[8], 0x08);
    EXPECT_EQ(packet[15], 0x01);
    EXPECT_EQ(Bytes(packet.begin() + 16, packet.begin() + 24),
              Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(packet[24], 0x18);
    EXPECT_EQ(packet[32], 2);
    EXPECT_EQ(loadLittleEndian<std::uint32_t>(packet.data() + 36), 4000u);
    EXPECT_EQ(loadLittleEndianFloat(packet.data() + 44), -0.5f);
    header.frameCount = 2;
    EXPECT_EQ(readMicrophonePacketHeader(packet), header);
}

}  // namespace
}  // namespace quillbridge::microphone
