#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Json.hpp"
#include "support/JsonTestHelpers.hpp"
#include "wire/ClipboardFileMetadata.hpp"
#include "wire/ClipboardItem.hpp"
#include "wire/ClipboardLimits.hpp"
#include "wire/ClipboardPayloadStreamHeader.hpp"
#include "wire/ClipboardRepresentation.hpp"
#include "wire/ClipboardTransferCancelMessage.hpp"
#include "wire/ClipboardTransferOperation.hpp"
#include "wire/ClipboardTransferPayload.hpp"
#include "wire/ClipboardTransferRequestMessage.hpp"
#include "wire/ClipboardTransferResultCode.hpp"
#include "wire/ClipboardTransferResultMessage.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

ClipboardRepresentation representation(std::string identifier, std::string_view data = "x") {
    return *ClipboardRepresentation::make(std::move(identifier), toBytes(data));
}

// ---- control messages --------------------------------------------------------------------------------

TEST(ClipboardMessagesTests, ControlMessagesRoundTripTheirExactJson) {
    expectExactRoundTrip(ClipboardTransferRequestMessage{7, ClipboardTransferOperation::pasteToMac},
                         R"({"transferID":7,"operation":2})");
    expectExactRoundTrip(
        ClipboardTransferCancelMessage{18446744073709551615u, ClipboardTransferOperation::copyFromMac},
        R"({"transferID":18446744073709551615,"operation":1})");
    expectExactRoundTrip(ClipboardTransferResultMessage{42, ClipboardTransferOperation::copyFromMac,
                                                        ClipboardTransferResultCode::cancelled},
                         R"({"transferID":42,"operation":1,"result":"cancelled"})");
    const std::pair<ClipboardTransferResultCode, std::string_view> results[] = {
        {ClipboardTransferResultCode::succeeded, "succeeded"},
        {ClipboardTransferResultCode::unavailable, "unavailable"},
        {ClipboardTransferResultCode::tooLarge, "tooLarge"},
        {ClipboardTransferResultCode::unsupported, "unsupported"},
        {ClipboardTransferResultCode::failed, "failed"},
    };
    for (const auto& [code, raw] : results) {
        expectExactRoundTrip(
            ClipboardTransferResultMessage{9007199254740993u, ClipboardTransferOperation::pasteToMac, code},
            R"({"transferID":9007199254740993,"operation":2,"result":")" + std::string(raw) + R"("})");
    }
}

TEST(ClipboardMessagesTests, ControlMessagesReadWhatAPeerWritesAndRefuseTheRest) {
    auto reordered = decodeJson<ClipboardTransferResultMessage>(
        R"({"note":[1],"result":"tooLarge","operation":2.0,"transferID":3})");
    ASSERT_TRUE(reordered.has_value()) << describe(reordered.error());
    EXPECT_TRUE(*reordered == (ClipboardTransferResultMessage{3, ClipboardTransferOperation::pasteToMac,
                                                              ClipboardTransferResultCode::tooLarge}));

    struct Case {
        std::string_view text;
        JsonErrorKind kind;
    };
    const Case cases[] = {
        {R"({"transferID":1,"operation":3,"result":"failed"})", JsonErrorKind::dataCorrupted},
        {R"({"transferID":1,"operation":0,"result":"failed"})", JsonErrorKind::dataCorrupted},
        {R"({"transferID":1,"operation":"pasteToMac","result":"failed"})", JsonErrorKind::typeMismatch},
        {R"({"transferID":1,"operation":1,"result":"canceled"})", JsonErrorKind::dataCorrupted},
        {R"({"transferID":1,"operation":1,"result":"Failed"})", JsonErrorKind::dataCorrupted},
        {R"({"transferID":1,"operation":1,"result":5})", JsonErrorKind::typeMismatch},
        {R"({"transferID":-1,"operation":1,"result":"failed"})", JsonErrorKind::dataCorrupted},
        {R"({"transferID":1.5,"operation":1,"result":"failed"})", JsonErrorKind::dataCorrupted},
        {R"({"transferID":18446744073709551616,"operation":1,"result":"failed"})",
         JsonErrorKind::dataCorrupted},
        {R"({"operation":1,"result":"failed"})", JsonErrorKind::keyNotFound},
        {R"({"transferID":1,"result":"failed"})", JsonErrorKind::keyNotFound},
        {R"({"transferID":1,"operation":1})", JsonErrorKind::keyNotFound},
        {R"({"transferID":1,"operation":null,"result":"failed"})", JsonErrorKind::valueNotFound},
        {R"([1,1,"failed"])", JsonErrorKind::typeMismatch},
    };
    for (const auto& testCase : cases) {
        auto decoded = decodeJson<ClipboardTransferResultMessage>(testCase.text);
        ASSERT_FALSE(decoded.has_value()) << testCase.text;
        EXPECT_EQ(decoded.error().kind, testCase.kind) << testCase.text << ": " << describe(decoded.error());
    }
    EXPECT_FALSE(
        decodeJson<ClipboardTransferRequestMessage>(R"({"transferID":1,"operation":256})").has_value());
    EXPECT_FALSE(
        decodeJson<ClipboardTransferCancelMessage>(R"({"transferID":"1","operation":1})").has_value());
}

TEST(ClipboardMessagesTests, ControlMessagesTravelInTheirEnvelopeCases) {
    using Case = StreamControlMessage::Case;
    expectExactRoundTrip(StreamControlMessage::make<Case::clipboardTransferRequest>(
                             {7, ClipboardTransferOperation::copyFromMac}),
                         R"({"clipboardTransferRequest":{"_0":{"transferID":7,"operation":1}}})");
    expectExactRoundTrip(StreamControlMessage::make<Case::clipboardTransferCancel>(
                             {7, ClipboardTransferOperation::pasteToMac}),
                         R"({"clipboardTransferCancel":{"_0":{"transferID":7,"operation":2}}})");
    expectExactRoundTrip(
        StreamControlMessage::make<Case::clipboardTransferResult>(
            {7, ClipboardTransferOperation::pasteToMac, ClipboardTransferResultCode::succeeded}),
        R"({"clipboardTransferResult":{"_0":{"transferID":7,"operation":2,"result":"succeeded"}}})");
}

// ---- result byte -------------------------------------------------------------------------------------

TEST(ClipboardMessagesTests, ResultBytesFollowTheirOwnNumbering) {
    const std::pair<ClipboardTransferResultCode, std::uint8_t> table[] = {
        {ClipboardTransferResultCode::succeeded, 1}, {ClipboardTransferResultCode::unavailable, 2},
        {ClipboardTransferResultCode::tooLarge, 3},  {ClipboardTransferResultCode::failed, 4},
        {ClipboardTransferResultCode::cancelled, 5}, {ClipboardTransferResultCode::unsupported, 6},
    };
    for (const auto& [code, byte] : table) {
        EXPECT_EQ(streamByte(code), byte) << rawValue(code);
        EXPECT_EQ(clipboardTransferResultCodeFromStreamByte(byte), code);
        const std::uint8_t data[] = {byte};
        EXPECT_EQ(clipboardTransferResultCodeFromStreamData(data), code);
    }
    for (int byte : {0, 7, 8, 128, 255}) {
        EXPECT_FALSE(clipboardTransferResultCodeFromStreamByte(static_cast<std::uint8_t>(byte))) << byte;
    }
    const std::uint8_t twoBytes[] = {1, 1};
    EXPECT_FALSE(clipboardTransferResultCodeFromStreamData(twoBytes));
    EXPECT_FALSE(clipboardTransferResultCodeFromStreamData(ByteView{}));
}

TEST(ClipboardMessagesTests, OperationsHaveRawValuesOneAndTwoOnly) {
    EXPECT_EQ(clipboardTransferOperationFromRawValue(1), ClipboardTransferOperation::copyFromMac);
    EXPECT_EQ(clipboardTransferOperationFromRawValue(2), ClipboardTransferOperation::pasteToMac);
    for (int raw : {0, 3, 255})
        EXPECT_FALSE(clipboardTransferOperationFromRawValue(static_cast<std::uint8_t>(raw)));
    EXPECT_EQ(caseName(ClipboardTransferOperation::copyFromMac), "copyFromMac");
    EXPECT_EQ(caseName(ClipboardTransferOperation::pasteToMac), "pasteToMac");
}

// ---- stream header -----------------------------------------------------------------------------------

TEST(ClipboardMessagesTests, HeaderWritesAndReadsTheFourteenByteLayout) {
    ClipboardPayloadStreamHeader header{9, ClipboardTransferOperation::pasteToMac, 0x0102030405060708u,
                                        0x0400E1E1u};
    auto expected = *fromHex("09 02 0102030405060708 0400E1E1");
    EXPECT_EQ(header.encodedData(), expected);
    EXPECT_EQ(ClipboardPayloadStreamHeader::decode(expected), header);

    auto smallest = *fromHex("09 01 0000000000000001 00000001");
    EXPECT_EQ(ClipboardPayloadStreamHeader::decode(smallest),
              (ClipboardPayloadStreamHeader{9, ClipboardTransferOperation::copyFromMac, 1, 1}));

    // The writer checks nothing: it writes what it is given.
    ClipboardPayloadStreamHeader odd{8, ClipboardTransferOperation::copyFromMac, 0, 0};
    EXPECT_EQ(odd.encodedData(), *fromHex("08 01 0000000000000000 00000000"));
}

TEST(ClipboardMessagesTests, HeaderRefusesEveryBrokenRule) {
    const std::string_view refused[] = {
        "09 02 0102030405060708 000000",       // 13 bytes
        "09 02 0102030405060708 00000001 00",  // 15 bytes
        "",                                    // nothing
        "08 02 0102030405060708 00000001",     // version 8
        "0a 02 0102030405060708 00000001",     // version 10
        "09 00 0102030405060708 00000001",     // operation 0
        "09 03 0102030405060708 00000001",     // operation 3
        "09 02 0000000000000000 00000001",     // transfer identifier 0
        "09 02 0102030405060708 00000000",     // empty body
        "09 02 0102030405060708 0400E1E2",     // body one byte over the bound
        "09 02 0102030405060708 FFFFFFFF",     // body far over the bound
    };
    for (auto hex : refused) {
        auto bytes = *fromHex(hex);
        EXPECT_FALSE(ClipboardPayloadStreamHeader::decode(bytes)) << hex;
    }
}

// ---- item model ---------------------------------------------------------------------------------------

TEST(ClipboardMessagesTests, TypeIdentifiersAreShortPrintableUtf8) {
    const std::pair<std::string, bool> cases[] = {
        {"public.utf8-plain-text", true},
        {std::string(512, 'a'), true},
        {"\xc3\xa9t\xc3\xa9", true},  // "été"
        {"", false},
        {std::string(513, 'a'), false},
        {std::string(511, 'a') + "\xc3\xa9", false},  // 513 bytes, 512 characters
        {"public.text\n", false},                     // Cc
        {"public.\x7ftext", false},                   // Cc (DEL)
        {"public.\xc2\x85text", false},               // Cc (NEL)
        {"public.\xe2\x80\x8btext", false},           // Cf (zero-width space)
        {"public.\xef\xbb\xbftext", false},           // Cf (byte-order mark)
        {std::string("public\0text", 11), false},
        {"public.\xff", false},          // not UTF-8
        {"public.\xed\xa0\x80", false},  // encoded surrogate
    };
    for (const auto& [identifier, valid] : cases) {
        EXPECT_EQ(isValidClipboardTypeIdentifier(identifier), valid) << identifier;
        EXPECT_EQ(ClipboardRepresentation::make(identifier, toBytes("x")).has_value(), valid) << identifier;
    }
}

TEST(ClipboardMessagesTests, RepresentationDataIsOneByteToSixtyFourMebibytes) {
    EXPECT_FALSE(ClipboardRepresentation::make("public.data", Bytes{}));
    EXPECT_TRUE(ClipboardRepresentation::make("public.data", Bytes(1)));
    EXPECT_TRUE(ClipboardRepresentation::make("public.data",
                                              Bytes(ClipboardLimits::maximumRepresentationDataByteCount)));
    EXPECT_FALSE(ClipboardRepresentation::make(
        "public.data", Bytes(ClipboardLimits::maximumRepresentationDataByteCount + 1)));
}

TEST(ClipboardMessagesTests, SuggestedFilenamesAreSingleSafeNames) {
    const std::pair<std::string, bool> cases[] = {
        {"photo.png", true},
        {"...", true},
        {"-rf", true},
        {" spaced name .txt", true},
        {"back\\slash", true},
        {"\xc3\xa9t\xc3\xa9.txt", true},
        {std::string(1024, 'n'), true},
        {"", false},
        {std::string(1025, 'n'), false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"/", false},
        {"/etc/passwd", false},
        {"../escape", false},
        {"name/", false},
        {"line\nfeed", false},
        {"tab\tname", false},
        {std::string("nul\0name", 8), false},
        {"soft\xc2\xad"
         "hyphen",
         false},  // Cf
        {"bad\xff", false},
    };
    for (const auto& [filename, valid] : cases) {
        EXPECT_EQ(ClipboardFileMetadata::make(filename, "public.png").has_value(), valid) << filename;
    }
    EXPECT_FALSE(ClipboardFileMetadata::make("photo.png", ""));
    EXPECT_FALSE(ClipboardFileMetadata::make("photo.png", "public\npng"));
}

TEST(ClipboardMessagesTests, ItemsHoldDistinctRepresentationsAndMetadataNamesOne) {
    auto metadata = [](std::string contentType) {
        return ClipboardFileMetadata::make("f.png", std::move(contentType));
    };
    EXPECT_FALSE(ClipboardItem::make({}, std::nullopt));
    EXPECT_TRUE(ClipboardItem::make({representation("public.png")}, metadata("public.png")));
    EXPECT_FALSE(ClipboardItem::make({representation("public.png")}, metadata("public.tiff")));
    EXPECT_FALSE(
        ClipboardItem::make({representation("public.png"), representation("public.png", "y")}, std::nullopt));
    // "é" precomposed and decomposed are one identifier.
    EXPECT_FALSE(ClipboardItem::make(
        {representation("com.example.\xc3\xa9"), representation("com.example.e\xcc\x81")}, std::nullopt));
    EXPECT_TRUE(
        ClipboardItem::make({representation("com.example.\xc3\xa9")}, metadata("com.example.e\xcc\x81")));

    std::vector<ClipboardRepresentation> many;
    for (int index = 0; index < 33; ++index)
        many.push_back(representation("type." + std::to_string(index)));
    EXPECT_FALSE(ClipboardItem::make(many, std::nullopt));
    many.pop_back();
    EXPECT_TRUE(ClipboardItem::make(many, std::nullopt));
}

TEST(ClipboardMessagesTests, PayloadsRespectCountAndSizeLimits) {
    auto item = [](int representations, std::size_t byteCount = 1) {
        std::vector<ClipboardRepresentation> list;
        for (int index = 0; index < representations; ++index) {
            list.push_back(*ClipboardRepresentation::make("type." + std::to_string(index), Bytes(byteCount)));
        }
        return *ClipboardItem::make(std::move(list), std::nullopt);
    };
    EXPECT_FALSE(ClipboardTransferPayload::make({}));
    EXPECT_TRUE(ClipboardTransferPayload::make(std::vector(16, item(1))));
    EXPECT_FALSE(ClipboardTransferPayload::make(std::vector(17, item(1))));
    EXPECT_TRUE(ClipboardTransferPayload::make({item(32), item(32)}));
    EXPECT_FALSE(ClipboardTransferPayload::make({item(32), item(32), item(1)}));

    std::size_t half = ClipboardLimits::maximumPayloadDataByteCount / 2;
    EXPECT_TRUE(ClipboardTransferPayload::make({item(1, half), item(1, half)}));
    EXPECT_FALSE(ClipboardTransferPayload::make({item(1, half), item(1, half + 1)}));
}

TEST(ClipboardMessagesTests, EncodedSizeFollowsTheLayout) {
    // One item without metadata holding a 22-byte identifier and 5 bytes of data: 1 + 2 + 6 + 22 + 5.
    auto plain = *ClipboardItem::make({representation("public.utf8-plain-text", "hello")}, std::nullopt);
    auto payload = *ClipboardTransferPayload::make({plain});
    EXPECT_EQ(payload.encodedByteCount(), 36u);
    EXPECT_EQ(payload.representationCount(), 1u);

    auto file =
        *ClipboardItem::make({representation("public.png", "PNGDATA"), representation("public.tiff", "TT")},
                             ClipboardFileMetadata::make("a.png", "public.png"));
    auto two = *ClipboardTransferPayload::make({plain, file});
    EXPECT_EQ(two.encodedByteCount(), 36u + 2 + (4 + 5 + 10) + (6 + 10 + 7) + (6 + 11 + 2));
    EXPECT_EQ(two.representationCount(), 3u);
    EXPECT_EQ(ClipboardTransferPayload::encodedByteCount({}), 1u);
}

TEST(ClipboardMessagesTests, ModelEqualityIsFieldWiseWithCanonicalStrings) {
    EXPECT_EQ(representation("com.example.\xc3\xa9", "a"), representation("com.example.e\xcc\x81", "a"));
    EXPECT_NE(representation("public.png", "a"), representation("public.png", "b"));
    EXPECT_NE(representation("public.png", "a"), representation("public.PNG", "a"));
    auto withName = [](std::string name) {
        return *ClipboardItem::make({representation("public.png")},
                                    ClipboardFileMetadata::make(std::move(name), "public.png"));
    };
    EXPECT_EQ(withName("caf\xc3\xa9.png"), withName("cafe\xcc\x81.png"));
    EXPECT_NE(withName("a.png"), withName("b.png"));
    EXPECT_NE(withName("a.png"), *ClipboardItem::make({representation("public.png")}, std::nullopt));
}

}  // namespace
}  // namespace quillbridge
