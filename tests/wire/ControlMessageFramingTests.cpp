#include "wire/ControlMessageFraming.hpp"

#include <gtest/gtest.h>

#include "support/InMemoryByteStream.hpp"
#include "support/RunAwaitable.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

Bytes prefixed(std::uint32_t length, std::string_view body = {}) {
    Bytes frame{static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    appendBytes(frame, asBytes(body));
    return frame;
}

std::optional<FramingError> readError(InMemoryByteStream& stream) {
    try {
        runAwaitable(ControlMessageFraming::readMessageData(stream));
    } catch (const ControlMessageFramingError& error) {
        return error.error();
    }
    return std::nullopt;
}

TEST(ControlMessageFramingTests, FramesAPayloadlessMessageBehindItsLength) {
    Bytes frame = ControlMessageFraming::encode(StreamControlMessage::make<Case::heartbeat>());
    EXPECT_EQ(frame, prefixed(16, R"({"heartbeat":{}})"));
}

TEST(ControlMessageFramingTests, AcceptsBodiesUpTo65536BytesInclusive) {
    std::string longest(65536, 'x');
    Bytes frame = ControlMessageFraming::frame(asBytes(longest));
    ASSERT_EQ(frame.size(), 65540u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0x00, 0x01, 0x00, 0x00}));

    // The same bound for a message: one whose text is exactly 65,536 bytes is framed, one byte more is not.
    auto textInput = [](std::size_t length) {
        return StreamControlMessage::make<Case::textInput>(TextInputMessage{std::string(length, 't')});
    };
    std::size_t overhead = encodeJson(textInput(0))->size();
    Bytes messageFrame = ControlMessageFraming::encode(textInput(65536 - overhead));
    ASSERT_EQ(messageFrame.size(), 65540u);
    EXPECT_EQ(Bytes(messageFrame.begin(), messageFrame.begin() + 4), (Bytes{0x00, 0x01, 0x00, 0x00}));
    try {
        ControlMessageFraming::encode(textInput(65537 - overhead));
        ADD_FAILURE() << "a 65,537-byte message was framed";
    } catch (const ControlMessageFramingError& error) {
        EXPECT_EQ(error.error(), FramingError::invalidMessageLength);
    }

    for (std::size_t size : {std::size_t{0}, std::size_t{65537}}) {
        std::string body(size, 'x');
        try {
            ControlMessageFraming::frame(asBytes(body));
            ADD_FAILURE() << size << " bytes were framed";
        } catch (const ControlMessageFramingError& error) {
            EXPECT_EQ(error.error(), FramingError::invalidMessageLength);
        }
    }
}

TEST(ControlMessageFramingTests, RefusesBadLengthPrefixesWithoutReadingFurther) {
    struct Case {
        Bytes input;
        std::optional<FramingError> expected;
        std::size_t consumed;
    };
    Bytes maximal = prefixed(65536, std::string(65536, 'y'));
    const Case cases[] = {
        {prefixed(0, "{}"), FramingError::invalidMessageLength, 4},
        {prefixed(65537, "{}"), FramingError::invalidMessageLength, 4},
        {Bytes{0xff, 0xff, 0xff, 0xff, 0x7b}, FramingError::invalidMessageLength, 4},
        {Bytes{}, FramingError::streamClosed, 0},
        {Bytes{0x00}, FramingError::streamClosed, 1},
        {Bytes{0x00, 0x00}, FramingError::streamClosed, 2},
        {Bytes{0x00, 0x00, 0x00}, FramingError::streamClosed, 3},
        {prefixed(5, "abcd"), FramingError::streamClosed, 8},
        {maximal, std::nullopt, maximal.size()},
    };
    for (const auto& entry : cases) {
        InMemoryByteStream stream(entry.input);
        EXPECT_EQ(readError(stream), entry.expected)
            << toHex(ByteView(entry.input).first(std::min<std::size_t>(8, entry.input.size())));
        EXPECT_EQ(stream.bytesConsumed(), entry.consumed);
    }
}

TEST(ControlMessageFramingTests, ReadsBackToBackFramesOneAtATime) {
    Bytes both = prefixed(5, "hello");
    appendBytes(both, prefixed(16, R"({"heartbeat":{}})"));
    InMemoryByteStream stream(both);
    EXPECT_EQ(asText(runAwaitable(ControlMessageFraming::readMessageData(stream))), "hello");
    auto second = runAwaitable(ControlMessageFraming::readMessageData(stream));
    EXPECT_EQ(asText(second), R"({"heartbeat":{}})");
    EXPECT_EQ(decodeJson<StreamControlMessage>(asText(second)),
              StreamControlMessage::make<Case::heartbeat>());
    EXPECT_EQ(readError(stream), FramingError::streamClosed);
}

TEST(ControlMessageFramingTests, PassesTheStreamsOwnFailureOn) {
    InMemoryByteStream stream(prefixed(10, "abc"), std::make_error_code(std::errc::connection_reset));
    try {
        runAwaitable(ControlMessageFraming::readMessageData(stream));
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::make_error_code(std::errc::connection_reset));
    }
}

}  // namespace
}  // namespace quillbridge
