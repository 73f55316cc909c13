#include "wire/StreamControlMessage.hpp"

#include <gtest/gtest.h>

#include <set>

namespace quillbridge {
namespace {

using Message = StreamControlMessage;
using Case = Message::Case;

template <std::size_t Index>
Message defaultMessage() {
    return Message{Message::Payload(std::in_place_index<Index>)};
}

template <std::size_t... Indices>
std::vector<Message> everyCase(std::index_sequence<Indices...>) {
    return {defaultMessage<Indices>()...};
}

std::vector<Message> everyCase() {
    return everyCase(std::make_index_sequence<Message::caseCount>());
}

JsonError decodeError(std::string_view text) {
    auto decoded = decodeJson<Message>(text);
    EXPECT_FALSE(decoded.has_value()) << text;
    return decoded ? JsonError{} : decoded.error();
}

TEST(StreamControlMessageTests, EveryCaseRoundTripsUnderItsOwnKey) {
    auto messages = everyCase();
    ASSERT_EQ(messages.size(), 49u);
    std::set<std::string_view> names;
    for (const auto& message : messages) {
        auto text = encodeJson(message);
        ASSERT_TRUE(text.has_value()) << message.caseName() << ": " << describe(text.error());
        auto json = Json::parse(*text);
        ASSERT_EQ(json.size(), 1u);
        ASSERT_TRUE(json.contains(std::string(message.caseName()))) << *text;
        auto decoded = decodeJson<Message>(*text);
        ASSERT_TRUE(decoded.has_value()) << *text << ": " << describe(decoded.error());
        EXPECT_EQ(*decoded, message) << *text;
        EXPECT_EQ(decoded->messageCase(), message.messageCase());
        names.insert(message.caseName());
    }
    EXPECT_EQ(names.size(), 49u);
    EXPECT_EQ(Message::name(Case::hello), "hello");
    EXPECT_EQ(Message::name(Case::receiverReady), "receiverReady");
    EXPECT_EQ(Message::name(Case::clipboardTransferResult), "clipboardTransferResult");
}

TEST(StreamControlMessageTests, PayloadlessCasesAreAnEmptyObject) {
    const std::pair<Case, std::string_view> cases[] = {
        {Case::receiverReady, R"({"receiverReady":{}})"},
        {Case::heartbeat, R"({"heartbeat":{}})"},
        {Case::sessionDisconnectRequest, R"({"sessionDisconnectRequest":{}})"},
        {Case::sessionDisconnectAcknowledged, R"({"sessionDisconnectAcknowledged":{}})"},
    };
    for (auto [messageCase, text] : cases) {
        auto message = everyCase()[static_cast<std::size_t>(messageCase)];
        EXPECT_EQ(encodeJson(message), std::string(text));
        EXPECT_EQ(decodeJson<Message>(text), message);
    }
    EXPECT_EQ(decodeJson<Message>(R"({"heartbeat":{"x":1}})"), Message::make<Case::heartbeat>());
    EXPECT_EQ(decodeJson<Message>(R"({"heartbeat":{},"note":"x"})"), Message::make<Case::heartbeat>());
}

TEST(StreamControlMessageTests, PairingRejectedCarriesItsReasonAsAString) {
    auto message = Message::make<Case::pairingRejected>(PairingFailureReason::busy);
    EXPECT_EQ(encodeJson(message), std::string(R"({"pairingRejected":{"_0":"busy"}})"));
    EXPECT_EQ(encodeJson(Message::make<Case::pairingRejected>(PairingFailureReason::failed)),
              std::string(R"({"pairingRejected":{"_0":"failed"}})"));
    EXPECT_EQ(decodeJson<Message>(R"({"pairingRejected":{"_0":"busy","extra":true}})"), message);
    EXPECT_NE(decodeJson<Message>(R"({"pairingRejected":{"_0":"canceled"}})"), message);
}

TEST(StreamControlMessageTests, RefusesObjectsWithoutExactlyOneCase) {
    for (std::string_view text : {R"({})", R"({"note":{}})", R"({"Heartbeat":{}})",
                                  R"({"heartbeat":{},"receiverReady":{}})", R"({"0":{}})"}) {
        auto error = decodeError(text);
        EXPECT_EQ(error.kind, JsonErrorKind::typeMismatch) << text;
        EXPECT_EQ(error.description, "Invalid number of keys found, expected one.") << text;
        EXPECT_EQ(error.codingPath, "") << text;
    }
}

TEST(StreamControlMessageTests, RefusesMalformedCaseValues) {
    const std::pair<std::string_view, JsonErrorKind> cases[] = {
        {R"([])", JsonErrorKind::typeMismatch},
        {R"("heartbeat")", JsonErrorKind::typeMismatch},
        {R"({"heartbeat":null})", JsonErrorKind::typeMismatch},
        {R"({"heartbeat":true})", JsonErrorKind::typeMismatch},
        {R"({"heartbeat":[]})", JsonErrorKind::typeMismatch},
        {R"({"hello":{}})", JsonErrorKind::keyNotFound},
        {R"({"hello":{"_1":{}}})", JsonErrorKind::keyNotFound},
        {R"({"hello":{"_0":null}})", JsonErrorKind::valueNotFound},
        {R"({"hello":{"_0":{}}})", JsonErrorKind::keyNotFound},
        {R"({"pairingRejected":{"_0":"nope"}})", JsonErrorKind::dataCorrupted},
        {R"({"pairingRejected":{"_0":{}}})", JsonErrorKind::typeMismatch},
    };
    for (auto [text, kind] : cases)
        EXPECT_EQ(decodeError(text).kind, kind) << text;
    EXPECT_EQ(decodeError(R"({"hello":{"_0":null}})").codingPath, "hello._0");
}

TEST(StreamControlMessageTests, HelloNestsItsPayloadUnderTheCaseAndTheUnlabelledKey) {
    auto hello = Message::make<Case::hello>(
        SessionHelloMessage{*Uuid::parse("6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f"), "Mac", false, 19, 19});
    EXPECT_EQ(
        encodeJson(hello),
        std::string(R"({"hello":{"_0":{"peerID":"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F","displayName":"Mac",)"
                    R"("wantsPairing":false,"controlProtocolVersion":19,)"
                    R"("minimumCompatibleControlProtocolVersion":19}}})"));
}

TEST(StreamControlMessageTests, HelloIgnoresExtraMembersBesideItsPayload) {
    auto hello = everyCase()[static_cast<std::size_t>(Case::hello)];
    auto json = *toJson(hello);
    json["hello"]["extra"] = 1;
    EXPECT_EQ(fromJson<Message>(json), hello);
}

TEST(StreamControlMessageTests, EqualityNeedsTheSameCase) {
    EXPECT_EQ(Message::make<Case::heartbeat>(), Message::make<Case::heartbeat>());
    EXPECT_NE(Message::make<Case::heartbeat>(), Message::make<Case::receiverReady>());
    EXPECT_NE(Message::make<Case::pairingRejected>(PairingFailureReason::busy),
              Message::make<Case::pairingRejected>(PairingFailureReason::canceled));
}

}  // namespace
}  // namespace quillbridge
