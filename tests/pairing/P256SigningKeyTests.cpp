#include "pairing/P256SigningKey.hpp"

#include <gtest/gtest.h>

#include "core/Bytes.hpp"
#include "pairing/DERWriter.hpp"
#include "pairing/P256PublicKey.hpp"

namespace quillbridge {
namespace {

// The P-256 key pair and the SHA-256 signature of "sample" from RFC 6979, appendix A.2.5.
constexpr const char* rfcPrivateKey = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721";
constexpr const char* rfcPublicKey =
    "60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6"
    "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299";
constexpr const char* rfcSignatureR = "efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716";
constexpr const char* rfcSignatureS = "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8";
constexpr const char* groupOrder = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
constexpr const char* fieldPrime = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff";

Bytes rfcSignatureDER() {
    return DERWriter::derConstructed(DERWriter::sequence,
                                     {DERWriter::derUnsignedInteger(*fromHex(rfcSignatureR)),
                                      DERWriter::derUnsignedInteger(*fromHex(rfcSignatureS))});
}

TEST(P256SigningKeyTests, DerivesTheKnownPublicKeyAndVerifiesTheKnownSignature) {
    auto key = P256SigningKey::fromRawRepresentation(*fromHex(rfcPrivateKey));
    ASSERT_TRUE(key);
    EXPECT_EQ(toHex(key->publicKey().rawRepresentation()), rfcPublicKey);
    EXPECT_EQ(toHex(key->rawRepresentation()), rfcPrivateKey);
    EXPECT_EQ(toHex(key->x963Representation()), std::string("04") + rfcPublicKey + rfcPrivateKey);

    auto publicKey = P256PublicKey::fromRawRepresentation(*fromHex(rfcPublicKey));
    ASSERT_TRUE(publicKey);
    EXPECT_TRUE(publicKey->isValidSignature(rfcSignatureDER(), asBytes("sample")));
    EXPECT_FALSE(publicKey->isValidSignature(rfcSignatureDER(), asBytes("samplf")));
}

TEST(P256SigningKeyTests, SignaturesVerifyOnlyForTheirKeyAndMessage) {
    auto key = P256SigningKey::generate();
    auto other = P256SigningKey::generate();
    auto signature = key.signature(asBytes("payload"));
    ASSERT_TRUE(signature);
    EXPECT_LE(signature->size(), 72u);
    EXPECT_TRUE(key.publicKey().isValidSignature(*signature, asBytes("payload")));
    EXPECT_FALSE(key.publicKey().isValidSignature(*signature, asBytes("payloae")));
    EXPECT_FALSE(other.publicKey().isValidSignature(*signature, asBytes("payload")));
}

TEST(P256SigningKeyTests, RefusesMalformedSignatures) {
    auto publicKey = *P256PublicKey::fromRawRepresentation(*fromHex(rfcPublicKey));
    Bytes valid = rfcSignatureDER();
    ASSERT_TRUE(publicKey.isValidSignature(valid, asBytes("sample")));

    auto withTrailingByte = valid;
    withTrailingByte.push_back(0);
    auto wrongOuterLength = valid;
    wrongOuterLength[1] += 1;
    // r with a redundant second zero byte in front: 02 22 00 00 ef ...
    Bytes body = *fromHex(std::string("0222") + "0000" + rfcSignatureR);
    appendBytes(body, DERWriter::derUnsignedInteger(*fromHex(rfcSignatureS)));
    Bytes nonMinimal = DERWriter::derElement(DERWriter::sequence, body);
    // r negative: its top bit set without the zero byte in front.
    Bytes negative = DERWriter::derConstructed(
        DERWriter::sequence, {DERWriter::derElement(DERWriter::integer, *fromHex(rfcSignatureR)),
                              DERWriter::derUnsignedInteger(*fromHex(rfcSignatureS))});
    Bytes zeroR = DERWriter::derConstructed(
        DERWriter::sequence,
        {DERWriter::derUnsignedInteger({}), DERWriter::derUnsignedInteger(*fromHex(rfcSignatureS))});
    Bytes rIsOrder = DERWriter::derConstructed(DERWriter::sequence,
                                               {DERWriter::derUnsignedInteger(*fromHex(groupOrder)),
                                                DERWriter::derUnsignedInteger(*fromHex(rfcSignatureS))});

    const Bytes cases[] = {{},
                           {0x30, 0x00},
                           withTrailingByte,
                           wrongOuterLength,
                           nonMinimal,
                           negative,
                           zeroR,
                           rIsOrder,
                           Bytes(valid.begin(), valid.end() - 1)};
    for (const auto& signature : cases) {
        EXPECT_FALSE(publicKey.isValidSignature(signature, asBytes("sample"))) << toHex(signature);
    }
}

TEST(P256SigningKeyTests, RefusesScalarsOutsideTheGroupAndPointsOffTheCurve) {
    Bytes order = *fromHex(groupOrder);
    Bytes orderMinusOne = order;
    orderMinusOne.back() -= 1;
    EXPECT_FALSE(P256SigningKey::fromRawRepresentation(Bytes(32, 0)));
    EXPECT_FALSE(P256SigningKey::fromRawRepresentation(order));
    EXPECT_FALSE(P256SigningKey::fromRawRepresentation(Bytes(32, 0xFF)));
    EXPECT_FALSE(P256SigningKey::fromRawRepresentation(Bytes(31, 0x01)));
    EXPECT_FALSE(P256SigningKey::fromRawRepresentation(Bytes(33, 0x01)));
    EXPECT_TRUE(P256SigningKey::fromRawRepresentation(orderMinusOne));

    Bytes point = *fromHex(rfcPublicKey);
    Bytes offCurve = point;
    offCurve.back() ^= 1;
    EXPECT_FALSE(P256PublicKey::fromRawRepresentation(offCurve));
    EXPECT_FALSE(P256PublicKey::fromRawRepresentation(Bytes(64, 0)));
    EXPECT_FALSE(P256PublicKey::fromRawRepresentation(ByteView(point).first(63)));
    Bytes x963{0x04};
    appendBytes(x963, point);
    EXPECT_TRUE(P256PublicKey::fromX963Representation(x963));
    x963[0] = 0x02;
    EXPECT_FALSE(P256PublicKey::fromX963Representation(x963));

    // A stored X9.63 private key whose public part does not belong to its scalar.
    auto key = P256SigningKey::generate();
    auto mismatched = key.x963Representation();
    auto other = P256SigningKey::generate().publicKey().rawRepresentation();
    std::copy(other.begin(), other.end(), mismatched.begin() + 1);
    EXPECT_FALSE(P256SigningKey::fromX963Representation(mismatched));
    EXPECT_TRUE(P256SigningKey::fromX963Representation(key.x963Representation()));
}

TEST(P256SigningKeyTests, GeneratedKeysHaveTheSmallerYAndSurviveTheirRawForm) {
    Bytes prime = *fromHex(fieldPrime);
    for (int round = 0; round < 32; ++round) {
        auto key = P256SigningKey::generate();
        Bytes raw = key.publicKey().rawRepresentation();
        Bytes y(raw.begin() + 32, raw.end());
        // p - y, big-endian subtraction.
        Bytes otherY(32);
        int borrow = 0;
        for (int index = 31; index >= 0; --index) {
            int difference = prime[index] - y[index] - borrow;
            borrow = difference < 0 ? 1 : 0;
            otherY[index] = static_cast<std::uint8_t>(difference + (borrow ? 256 : 0));
        }
        EXPECT_LE(y, otherY);
        auto restored = P256SigningKey::fromRawRepresentation(key.rawRepresentation());
        ASSERT_TRUE(restored);
        EXPECT_EQ(restored->publicKey(), key.publicKey());
    }
}

}  // namespace
}  // namespace quillbridge
