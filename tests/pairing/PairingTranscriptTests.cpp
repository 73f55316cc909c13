#include <gtest/gtest.h>

#include "pairing/PairingCrypto.hpp"
#include "pairing/PairingTranscript.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "support/pairing/PairingVectors.hpp"

namespace quillbridge {
namespace {

namespace v = pairing_vectors;

TEST(PairingTranscriptTest, FixedVectorsMatchTheProtocol) {
    EXPECT_EQ(pairingTranscriptHash(v::start(), v::challenge(), v::headsetCertificate, v::hostCertificate),
              v::transcriptHash);
    EXPECT_EQ(spakeIdentity(PairingRole::visionPro, v::headsetID), v::clientIdentity);
    EXPECT_EQ(spakeIdentity(PairingRole::mac, v::hostID), v::serverIdentity);
    EXPECT_EQ(v::clientIdentity.size(), 83u);
    EXPECT_EQ(v::serverIdentity.size(), 77u);
    EXPECT_EQ(spakeAdditionalData(v::transcriptHash, v::roundID, v::salt), v::additionalData);
    EXPECT_EQ(roundTranscriptHash(v::transcriptHash, v::roundID, v::salt, v::clientShare, v::serverShare,
                                  v::clientConfirmation),
              v::roundTranscriptHash);

    Bytes hostPayload =
        confirmationSignaturePayload(PairingRole::mac, v::roundTranscriptHash, v::serverConfirmation);
    EXPECT_EQ(hostPayload.size(), 123u);
    EXPECT_EQ(sha256(hostPayload), v::hostConfirmationPayloadDigest);
    EXPECT_EQ(
        confirmationSignaturePayload(PairingRole::visionPro, v::roundTranscriptHash, v::clientConfirmation)
            .size(),
        129u);

    auto acceptance = acceptancePayload(v::roundTranscriptHash, v::serverConfirmation, v::clientConfirmation);
    ASSERT_TRUE(acceptance.has_value());
    EXPECT_EQ(acceptance->size(), 140u);
    EXPECT_EQ(sha256(*acceptance), v::acceptancePayloadDigest);

    Bytes certificatePayload =
        SessionAuthentication::certificateSignaturePayload(v::hostID, v::headsetID, v::hostCertificate);
    EXPECT_EQ(certificatePayload.size(), 118u);
    EXPECT_EQ(sha256(certificatePayload), v::hostCertificatePayloadDigest);
    Bytes signedPayload = SessionAuthentication::signedPayload(SessionAuthentication::Side::client,
                                                               v::headsetID, v::hostID, v::challenge().nonce);
    EXPECT_EQ(signedPayload.size(), 113u);
    EXPECT_EQ(sha256(signedPayload), v::clientSignedPayloadDigest);
}

TEST(PairingTranscriptTest, FieldEncoding) {
    Bytes buffer{0xEE};
    appendField({}, buffer);
    appendField(asBytes("mac"), buffer);
    EXPECT_EQ(buffer, (Bytes{0xEE, 0, 0, 0, 0, 0, 0, 0, 3, 'm', 'a', 'c'}));

    Bytes large(300, 0x55);
    Bytes encoded;
    appendField(large, encoded);
    EXPECT_EQ(Bytes(encoded.begin(), encoded.begin() + 4), (Bytes{0, 0, 1, 0x2C}));
    EXPECT_EQ(encoded.size(), 304u);
}

TEST(PairingTranscriptTest, TranscriptRefusesMismatchedMessages) {
    auto start = v::start();
    auto baseline = v::challenge();
    struct Case {
        const char* name;
        PairingChallengeMessage challenge;
    };
    std::vector<Case> cases;
    auto shortNonce = baseline;
    shortNonce.nonce.pop_back();
    cases.push_back({"31-byte nonce", shortNonce});
    auto longNonce = baseline;
    longNonce.nonce.push_back(0);
    cases.push_back({"33-byte nonce", longNonce});
    auto otherAttempt = baseline;
    otherAttempt.attemptID = v::roundID;
    cases.push_back({"other attempt", otherAttempt});
    auto otherVersion = baseline;
    otherVersion.controlProtocolVersion = 20;
    cases.push_back({"other version", otherVersion});
    for (const auto& item : cases) {
        EXPECT_FALSE(pairingTranscriptHash(start, item.challenge, v::headsetCertificate, v::hostCertificate))
            << item.name;
    }
}

TEST(PairingTranscriptTest, EveryInputOfTheTranscriptChangesIt) {
    auto hashOf = [](const PairingStartMessage& start, const PairingChallengeMessage& challenge,
                     ByteView headsetCert, ByteView hostCert) {
        return *pairingTranscriptHash(start, challenge, headsetCert, hostCert);
    };
    const Bytes base = hashOf(v::start(), v::challenge(), v::headsetCertificate, v::hostCertificate);

    // The certificates sit in their own peer blocks: swapping them changes the hash.
    EXPECT_NE(hashOf(v::start(), v::challenge(), v::hostCertificate, v::headsetCertificate), base);

    auto emptyName = v::start();
    emptyName.displayName.clear();
    EXPECT_NE(hashOf(emptyName, v::challenge(), v::headsetCertificate, v::hostCertificate), base);
    auto otherKey = v::challenge();
    otherKey.signingPublicKey.back() ^= 1;
    EXPECT_NE(hashOf(v::start(), otherKey, v::headsetCertificate, v::hostCertificate), base);
    auto otherNonce = v::challenge();
    otherNonce.nonce.front() ^= 1;
    EXPECT_NE(hashOf(v::start(), otherNonce, v::headsetCertificate, v::hostCertificate), base);
    auto otherVersion = v::start();
    otherVersion.controlProtocolVersion = 20;
    auto otherVersionChallenge = v::challenge();
    otherVersionChallenge.controlProtocolVersion = 20;
    EXPECT_NE(hashOf(otherVersion, otherVersionChallenge, v::headsetCertificate, v::hostCertificate), base);

    // Moving a byte from one name to the other keeps the concatenated text but not the fields.
    auto movedStart = v::start();
    auto movedChallenge = v::challenge();
    movedStart.displayName += "S";
    movedChallenge.displayName.erase(0, 1);
    EXPECT_NE(hashOf(movedStart, movedChallenge, v::headsetCertificate, v::hostCertificate), base);
}

TEST(PairingTranscriptTest, EmptyDisplayNameIsAnEmptyField) {
    // Four zero bytes stand for the name; every other field keeps its place.
    auto start = v::start();
    start.displayName.clear();
    Bytes expected = toBytes(PairingLabels::pairingTranscript);
    appendField(Bytes{0, 19}, expected);
    appendField(asBytes(start.attemptID.string()), expected);
    appendField(asBytes("visionPro"), expected);
    appendField(asBytes(start.peerID.string()), expected);
    expected.insert(expected.end(), {0, 0, 0, 0});
    appendField(start.signingPublicKey, expected);
    appendField(sha256(v::headsetCertificate), expected);
    auto challenge = v::challenge();
    appendField(asBytes("mac"), expected);
    appendField(asBytes(challenge.peerID.string()), expected);
    appendField(asBytes(challenge.displayName), expected);
    appendField(challenge.signingPublicKey, expected);
    appendField(sha256(v::hostCertificate), expected);
    appendField(challenge.nonce, expected);
    EXPECT_EQ(pairingTranscriptHash(start, challenge, v::headsetCertificate, v::hostCertificate),
              sha256(expected));
}

TEST(PairingTranscriptTest, LengthChecksOfAdditionalDataRoundHashAndAcceptance) {
    Bytes hash32(32, 1), hash33(33, 1), salt15(15, 2), salt17(17, 2), value32(32, 3), value31(31, 3);
    EXPECT_TRUE(spakeAdditionalData(hash32, v::roundID, v::salt));
    EXPECT_FALSE(spakeAdditionalData(hash32, v::roundID, salt15));
    EXPECT_FALSE(spakeAdditionalData(hash32, v::roundID, salt17));
    EXPECT_FALSE(spakeAdditionalData(hash33, v::roundID, v::salt));

    EXPECT_FALSE(acceptancePayload(hash32, value32, value31));
    EXPECT_FALSE(acceptancePayload(hash32, value31, value31));
    EXPECT_FALSE(acceptancePayload(hash33, value32, value32));

    EXPECT_FALSE(roundTranscriptHash(hash32, v::roundID, v::salt, value31, value32, value32));
    EXPECT_FALSE(roundTranscriptHash(hash32, v::roundID, v::salt, value32, value32, value31));
    EXPECT_FALSE(roundTranscriptHash(hash32, v::roundID, salt17, value32, value32, value32));
}

TEST(PairingTranscriptTest, RoleAndIdentifierOrderAreBound) {
    EXPECT_NE(
        confirmationSignaturePayload(PairingRole::mac, v::roundTranscriptHash, v::serverConfirmation),
        confirmationSignaturePayload(PairingRole::visionPro, v::roundTranscriptHash, v::serverConfirmation));
    EXPECT_NE(
        SessionAuthentication::certificateSignaturePayload(v::hostID, v::headsetID, v::hostCertificate),
        SessionAuthentication::certificateSignaturePayload(v::headsetID, v::hostID, v::hostCertificate));
    auto nonce = v::challenge().nonce;
    using Side = SessionAuthentication::Side;
    EXPECT_NE(SessionAuthentication::signedPayload(Side::client, v::headsetID, v::hostID, nonce),
              SessionAuthentication::signedPayload(Side::client, v::hostID, v::headsetID, nonce));
    EXPECT_NE(SessionAuthentication::signedPayload(Side::client, v::headsetID, v::hostID, nonce),
              SessionAuthentication::signedPayload(Side::server, v::headsetID, v::hostID, nonce));

    Bytes server = SessionAuthentication::signedPayload(Side::server, v::hostID, v::headsetID, Bytes{0xAB});
    Bytes expected = toBytes("server");
    expected.push_back(0);
    appendBytes(expected, asBytes(v::hostID.string()));
    expected.push_back(0);
    appendBytes(expected, asBytes(v::headsetID.string()));
    expected.push_back(0);
    expected.push_back(0xAB);
    EXPECT_EQ(server, expected);
}

TEST(PairingTranscriptTest, IdentifiersAreUpperCaseText) {
    Bytes identity = spakeIdentity(PairingRole::mac, v::hostID);
    std::string lower = "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee";
    Bytes lowerIdentity = toBytes(PairingLabels::spakeIdentity);
    appendField(asBytes("mac"), lowerIdentity);
    appendField(asBytes(lower), lowerIdentity);
    EXPECT_NE(identity, lowerIdentity);
    EXPECT_EQ(Bytes(identity.end() - 36, identity.end()), toBytes("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"));
}

TEST(PairingCryptoTest, ConstantTimeEqualAndRandomData) {
    EXPECT_TRUE(constantTimeEqual(Bytes{}, Bytes{}));
    EXPECT_TRUE(constantTimeEqual(Bytes{1, 2, 3}, Bytes{1, 2, 3}));
    EXPECT_FALSE(constantTimeEqual(Bytes{1, 2, 3}, Bytes{1, 2, 4}));
    EXPECT_FALSE(constantTimeEqual(Bytes{1, 2}, Bytes{1, 2, 3}));
    EXPECT_FALSE(constantTimeEqual(Bytes{}, Bytes{0}));

    EXPECT_TRUE(randomData(0).empty());
    Bytes first = randomData(32);
    Bytes second = randomData(32);
    EXPECT_EQ(first.size(), 32u);
    EXPECT_NE(first, second);
}

}  // namespace
}  // namespace quillbridge
