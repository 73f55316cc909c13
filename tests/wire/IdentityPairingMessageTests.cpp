#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/Json.hpp"
#include "wire/AuthenticationChallengeMessage.hpp"
#include "wire/AuthenticationResponseMessage.hpp"
#include "wire/AuthenticationResultMessage.hpp"
#include "wire/LocalDeviceIdentity.hpp"
#include "wire/PairedPeerRecord.hpp"
#include "wire/PairingAcceptedMessage.hpp"
#include "wire/PairingChallengeMessage.hpp"
#include "wire/PairingClientChallengeMessage.hpp"
#include "wire/PairingClientConfirmationMessage.hpp"
#include "wire/PairingClientResponseMessage.hpp"
#include "wire/PairingFailureReason.hpp"
#include "wire/PairingRole.hpp"
#include "wire/PairingRoundRejectedMessage.hpp"
#include "wire/PairingServerChallengeMessage.hpp"
#include "wire/PairingServerConfirmationMessage.hpp"
#include "wire/PairingStartMessage.hpp"
#include "wire/SessionHelloMessage.hpp"

namespace quillbridge {
namespace {

Uuid uuid(std::string_view text) {
    return *Uuid::parse(text);
}

const Uuid peerA = uuid("6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F");
const Uuid peerB = uuid("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
const Uuid roundR = uuid("01234567-89AB-4DEF-8123-456789ABCDEF");

Bytes pattern(std::size_t count, std::uint8_t first) {
    Bytes bytes(count);
    for (std::size_t index = 0; index < count; ++index)
        bytes[index] = static_cast<std::uint8_t>(first + index);
    return bytes;
}

Json parsed(std::string_view text) {
    return *parseJson(text);
}

std::set<std::string> keysOf(const Json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items())
        keys.insert(key);
    return keys;
}

// One sample value of each type with every optional field present, the keys its JSON object must carry,
// and which of them may be left out.
template <typename T>
struct Sample;

template <>
struct Sample<SessionHelloMessage> {
    static SessionHelloMessage value() { return {peerA, "Zoé's headset", true, 19, 19}; }
    static std::vector<std::string> keys() {
        return {"peerID", "displayName", "wantsPairing", "controlProtocolVersion",
                "minimumCompatibleControlProtocolVersion"};
    }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<AuthenticationChallengeMessage> {
    static AuthenticationChallengeMessage value() { return {pattern(32, 1)}; }
    static std::vector<std::string> keys() { return {"serverNonce"}; }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<AuthenticationResponseMessage> {
    static AuthenticationResponseMessage value() {
        return {peerA, "Headset", pattern(71, 2), pattern(32, 3), pattern(70, 4)};
    }
    static std::vector<std::string> keys() {
        return {"peerID", "displayName", "clientSignature", "clientNonce", "certificateSignature"};
    }
    static std::set<std::string> optionalKeys() { return {"certificateSignature"}; }
};
template <>
struct Sample<AuthenticationResultMessage> {
    static AuthenticationResultMessage value() {
        return {true, pattern(72, 5), pattern(70, 6), PairingFailureReason::failed, peerB, "Studio"};
    }
    static std::vector<std::string> keys() {
        return {"accepted", "serverSignature", "certificateSignature", "reason", "peerID", "displayName"};
    }
    static std::set<std::string> optionalKeys() {
        return {"serverSignature", "certificateSignature", "reason", "peerID", "displayName"};
    }
};
template <>
struct Sample<PairingStartMessage> {
    static PairingStartMessage value() { return {peerA, 19, peerB, "Headset", pattern(64, 7)}; }
    static std::vector<std::string> keys() {
        return {"attemptID", "controlProtocolVersion", "peerID", "displayName", "signingPublicKey"};
    }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairingChallengeMessage> {
    static PairingChallengeMessage value() {
        return {peerA, 19, peerB, "Studio", pattern(64, 8), pattern(32, 9)};
    }
    static std::vector<std::string> keys() {
        return {"attemptID", "controlProtocolVersion", "peerID", "displayName", "signingPublicKey", "nonce"};
    }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairingClientChallengeMessage> {
    static PairingClientChallengeMessage value() { return {peerA, roundR, pattern(16, 10), pattern(32, 11)}; }
    static std::vector<std::string> keys() { return {"attemptID", "roundID", "salt", "publicValue"}; }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairingServerChallengeMessage> {
    static PairingServerChallengeMessage value() { return {peerA, roundR, pattern(32, 12)}; }
    static std::vector<std::string> keys() { return {"attemptID", "roundID", "publicValue"}; }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairingClientResponseMessage> {
    static PairingClientResponseMessage value() { return {peerA, roundR, pattern(32, 13)}; }
    static std::vector<std::string> keys() { return {"attemptID", "roundID", "confirmation"}; }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairingServerConfirmationMessage> {
    static PairingServerConfirmationMessage value() {
        return {peerA, roundR, pattern(32, 14), pattern(71, 15)};
    }
    static std::vector<std::string> keys() { return {"attemptID", "roundID", "confirmation", "signature"}; }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairingClientConfirmationMessage> {
    static PairingClientConfirmationMessage value() {
        return {peerA, roundR, pattern(32, 16), pattern(70, 17)};
    }
    static std::vector<std::string> keys() { return {"attemptID", "roundID", "confirmation", "signature"}; }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairingRoundRejectedMessage> {
    static PairingRoundRejectedMessage value() { return {peerA, roundR}; }
    static std::vector<std::string> keys() { return {"attemptID", "roundID"}; }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairingAcceptedMessage> {
    static PairingAcceptedMessage value() {
        return {peerA, peerB, "Studio", pattern(64, 18), pattern(72, 19)};
    }
    static std::vector<std::string> keys() {
        return {"attemptID", "peerID", "displayName", "signingPublicKey", "serverSignature"};
    }
    static std::set<std::string> optionalKeys() { return {}; }
};
template <>
struct Sample<PairedPeerRecord> {
    static PairedPeerRecord value() {
        return {peerA, "Headset", pattern(64, 20), pattern(300, 21), Date{1.5}};
    }
    static std::vector<std::string> keys() {
        return {"id", "name", "signingPublicKey", "tlsCertificate", "lastSeenAt"};
    }
    static std::set<std::string> optionalKeys() { return {"tlsCertificate", "lastSeenAt"}; }
};

template <typename T>
class IdentityPairingPayloadTest : public ::testing::Test {};

using PayloadTypes = ::testing::Types<
    SessionHelloMessage, AuthenticationChallengeMessage, AuthenticationResponseMessage,
    AuthenticationResultMessage, PairingStartMessage, PairingChallengeMessage, PairingClientChallengeMessage,
    PairingServerChallengeMessage, PairingClientResponseMessage, PairingServerConfirmationMessage,
    PairingClientConfirmationMessage, PairingRoundRejectedMessage, PairingAcceptedMessage, PairedPeerRecord>;
TYPED_TEST_SUITE(IdentityPairingPayloadTest, PayloadTypes);

TYPED_TEST(IdentityPairingPayloadTest, WritesExactlyTheTableKeysAndReadsItselfBack) {
    auto value = Sample<TypeParam>::value();
    auto text = encodeJson(value);
    ASSERT_TRUE(text.has_value());
    auto expectedKeys = Sample<TypeParam>::keys();
    EXPECT_EQ(keysOf(parsed(*text)), std::set<std::string>(expectedKeys.begin(), expectedKeys.end()));

    auto decoded = decodeJson<TypeParam>(*text);
    ASSERT_TRUE(decoded.has_value()) << describe(decoded.error());
    EXPECT_TRUE(*decoded == value);
}

TYPED_TEST(IdentityPairingPayloadTest, RequiredKeysMustBePresentAndNonNull) {
    Json full = *toJson(Sample<TypeParam>::value());
    for (const auto& key : Sample<TypeParam>::keys()) {
        bool optional = Sample<TypeParam>::optionalKeys().contains(key);
        Json missing = full;
        missing.erase(key);
        Json null = full;
        null[key] = nullptr;
        auto fromMissing = fromJson<TypeParam>(missing);
        auto fromNull = fromJson<TypeParam>(null);
        if (optional) {
            ASSERT_TRUE(fromMissing.has_value()) << key;
            ASSERT_TRUE(fromNull.has_value()) << key;
            EXPECT_TRUE(*fromMissing == *fromNull) << key;
            EXPECT_FALSE(*fromMissing == Sample<TypeParam>::value()) << key;
            EXPECT_FALSE(toJson(*fromMissing)->contains(key)) << key;
        } else {
            ASSERT_FALSE(fromMissing.has_value()) << key;
            EXPECT_EQ(fromMissing.error().kind, JsonErrorKind::keyNotFound) << key;
            ASSERT_FALSE(fromNull.has_value()) << key;
            EXPECT_EQ(fromNull.error().kind, JsonErrorKind::valueNotFound) << key;
        }
    }
}

TYPED_TEST(IdentityPairingPayloadTest, IgnoresUnknownKeys) {
    Json object = *toJson(Sample<TypeParam>::value());
    object["extra"] = Json::array({1, 2});
    auto decoded = fromJson<TypeParam>(object);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(*decoded == Sample<TypeParam>::value());
}

TEST(AuthenticationResultMessageTest, RefusalHasExactlyTwoKeysAndNullReadsAsAbsent) {
    AuthenticationResultMessage refused{
        false, std::nullopt, std::nullopt, PairingFailureReason::unpaired, std::nullopt, std::nullopt};
    auto text = encodeJson(refused);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(parsed(*text), parsed(R"({"accepted":false,"reason":"unpaired"})"));

    auto withNull =
        decodeJson<AuthenticationResultMessage>(R"({"accepted":false,"reason":"unpaired","peerID":null})");
    ASSERT_TRUE(withNull.has_value());
    EXPECT_TRUE(*withNull == refused);
}

TEST(IdentityPairingMessagesTest, RefusesValuesOfTheWrongFormOrRange) {
    const std::string hello =
        R"({"peerID":"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F","displayName":"H","wantsPairing":true,)"
        R"("minimumCompatibleControlProtocolVersion":19,"controlProtocolVersion":)";
    EXPECT_TRUE(decodeJson<SessionHelloMessage>(hello + "65535}").has_value());
    EXPECT_TRUE(decodeJson<SessionHelloMessage>(hello + "19.0}").has_value());
    for (const char* bad : {"70000}", "-1}", "19.5}", "\"19\"}", "true}"}) {
        EXPECT_FALSE(decodeJson<SessionHelloMessage>(hello + bad).has_value()) << bad;
    }

    struct Case {
        const char* name;
        const char* json;
    };
    const Case cases[] = {
        {"Bool as text",
         R"({"peerID":"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F","displayName":"H","wantsPairing":"true",)"
         R"("controlProtocolVersion":19,"minimumCompatibleControlProtocolVersion":19})"},
        {"number as text",
         R"({"peerID":"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F","displayName":7,"wantsPairing":true,)"
         R"("controlProtocolVersion":19,"minimumCompatibleControlProtocolVersion":19})"},
        {"bad UUID",
         R"({"peerID":"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5","displayName":"H","wantsPairing":true,)"
         R"("controlProtocolVersion":19,"minimumCompatibleControlProtocolVersion":19})"},
    };
    for (const auto& item : cases) {
        EXPECT_FALSE(decodeJson<SessionHelloMessage>(item.json).has_value()) << item.name;
    }
    EXPECT_FALSE(decodeJson<AuthenticationChallengeMessage>(R"({"serverNonce":"AAE"})").has_value());
    EXPECT_FALSE(decodeJson<AuthenticationChallengeMessage>(R"({"serverNonce":"AA!="})").has_value());
    EXPECT_FALSE(decodeJson<AuthenticationChallengeMessage>(R"([])").has_value());
}

TEST(IdentityPairingMessagesTest, BytesAndIdentifiersUseTheirTextForms) {
    AuthenticationChallengeMessage empty{{}};
    EXPECT_EQ(*encodeJson(empty), R"({"serverNonce":""})");
    AuthenticationChallengeMessage nonce{{0xfb, 0xff}};
    EXPECT_EQ(*encodeJson(nonce), R"({"serverNonce":"+/8="})");

    PairingRoundRejectedMessage rejected{uuid("6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f"), roundR};
    auto text = *encodeJson(rejected);
    EXPECT_NE(text.find("6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F"), std::string::npos);
    auto lower = decodeJson<PairingRoundRejectedMessage>(
        R"({"attemptID":"6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f","roundID":"01234567-89ab-4def-8123-456789abcdef"})");
    ASSERT_TRUE(lower.has_value());
    EXPECT_TRUE(*lower == rejected);
}

TEST(PairingFailureReasonTest, EveryRawValueRoundTripsAndNoOtherIsRead) {
    const std::vector<std::pair<PairingFailureReason, std::string>> cases = {
        {PairingFailureReason::busy, "busy"},
        {PairingFailureReason::unpaired, "unpaired"},
        {PairingFailureReason::incompatibleVersion, "incompatibleVersion"},
        {PairingFailureReason::invalidPin, "invalidPin"},
        {PairingFailureReason::tooManyAttempts, "tooManyAttempts"},
        {PairingFailureReason::expired, "expired"},
        {PairingFailureReason::canceled, "canceled"},
        {PairingFailureReason::identityChanged, "identityChanged"},
        {PairingFailureReason::certificateChanged, "certificateChanged"},
        {PairingFailureReason::failed, "failed"},
    };
    for (const auto& [reason, raw] : cases) {
        EXPECT_EQ(rawValue(reason), raw);
        EXPECT_EQ(enumFromRawValue<PairingFailureReason>(raw), reason);
        EXPECT_EQ(*toJson(reason), Json(raw));
        EXPECT_EQ(fromJson<PairingFailureReason>(Json(raw)), reason);
    }
    for (const char* other : {"cancelled", "Failed", "", "busy "}) {
        EXPECT_FALSE(enumFromRawValue<PairingFailureReason>(other).has_value()) << other;
        EXPECT_FALSE(fromJson<PairingFailureReason>(Json(other)).has_value()) << other;
    }
    EXPECT_FALSE(fromJson<PairingFailureReason>(Json(9)).has_value());
}

TEST(PairingRoleTest, RawValuesJsonAndHash) {
    EXPECT_EQ(rawValue(PairingRole::mac), "mac");
    EXPECT_EQ(rawValue(PairingRole::visionPro), "visionPro");
    EXPECT_EQ(enumFromRawValue<PairingRole>("visionPro"), PairingRole::visionPro);
    EXPECT_FALSE(enumFromRawValue<PairingRole>("Mac").has_value());
    EXPECT_EQ(*toJson(PairingRole::mac), Json("mac"));
    EXPECT_FALSE(fromJson<PairingRole>(Json("vision")).has_value());
    EXPECT_EQ(std::hash<PairingRole>{}(PairingRole::mac), std::hash<std::string_view>{}("mac"));
}

TEST(SessionHelloMessageTest, VersionCompatibility) {
    struct Case {
        std::uint16_t version;
        std::uint16_t minimum;
        std::optional<std::uint16_t> negotiated;
    };
    const Case cases[] = {{19, 19, 19}, {18, 18, std::nullopt}, {25, 20, std::nullopt}, {25, 3, 19},
                          {19, 0, 19},  {65535, 19, 19}};
    for (const auto& item : cases) {
        SessionHelloMessage hello{peerA, "H", false, item.version, item.minimum};
        EXPECT_EQ(negotiatedControlProtocolVersion(hello), item.negotiated)
            << item.version << "/" << item.minimum;
    }
}

TEST(PairedPeerRecordTest, DatesOptionalFieldsAndEquality) {
    auto record = decodeJson<PairedPeerRecord>(
        R"({"id":"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F","name":"H","signingPublicKey":"","lastSeenAt":0})");
    ASSERT_TRUE(record.has_value());
    ASSERT_TRUE(record->lastSeenAt.has_value());
    EXPECT_EQ(record->lastSeenAt->unixSeconds(), 978307200.0);

    PairedPeerRecord bare{peerA, "Headset", pattern(64, 1), std::nullopt, std::nullopt};
    auto text = *encodeJson(bare);
    EXPECT_EQ(keysOf(parsed(text)), (std::set<std::string>{"id", "name", "signingPublicKey"}));
    EXPECT_TRUE(*decodeJson<PairedPeerRecord>(text) == bare);
    EXPECT_TRUE(bare == bare);

    auto seenOnce = bare;
    seenOnce.lastSeenAt = Date{100};
    auto seenTwice = bare;
    seenTwice.lastSeenAt = Date{100.5};
    EXPECT_FALSE(seenOnce == seenTwice);
    EXPECT_FALSE(seenOnce == bare);

    auto otherKey = bare;
    otherKey.signingPublicKey.push_back(0);
    EXPECT_FALSE(otherKey == bare);

    // Names compare as text, not as code units: a precomposed é equals e and a combining accent.
    auto precomposed = bare;
    precomposed.name = "Zo\xC3\xA9";
    auto decomposed = bare;
    decomposed.name = "Zoe\xCC\x81";
    EXPECT_TRUE(precomposed == decomposed);

    // A list of records, as the peer store saves it.
    std::vector<PairedPeerRecord> list{bare, seenOnce};
    auto listText = encodeJson(list);
    ASSERT_TRUE(listText.has_value());
    auto readBack = decodeJson<std::vector<PairedPeerRecord>>(*listText);
    ASSERT_TRUE(readBack.has_value());
    ASSERT_EQ(readBack->size(), 2u);
    EXPECT_TRUE((*readBack)[1] == seenOnce);
}

TEST(LocalDeviceIdentityTest, EqualityComparesIdentifierAndNameAsText) {
    EXPECT_TRUE((LocalDeviceIdentity{peerA, "Zo\xC3\xA9"} == LocalDeviceIdentity{peerA, "Zoe\xCC\x81"}));
    EXPECT_FALSE((LocalDeviceIdentity{peerA, "Mac"} == LocalDeviceIdentity{peerB, "Mac"}));
    EXPECT_FALSE((LocalDeviceIdentity{peerA, "Mac"} == LocalDeviceIdentity{peerA, "mac"}));
}

TEST(IdentityPairingMessagesTest, EqualityLooksAtEveryField) {
    auto base = Sample<PairingChallengeMessage>::value();
    auto changed = base;
    changed.nonce.back() ^= 1;
    EXPECT_FALSE(changed == base);
    changed = base;
    changed.controlProtocolVersion = 20;
    EXPECT_FALSE(changed == base);

    auto result = Sample<AuthenticationResultMessage>::value();
    auto noReason = result;
    noReason.reason.reset();
    EXPECT_FALSE(noReason == result);
}

}  // namespace
}  // namespace quillbridge
