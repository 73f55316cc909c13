#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>

#include "pairing/HostPairingExchange.hpp"
#include "pairing/P256PublicKey.hpp"
#include "support/pairing/PairingVectors.hpp"

namespace quillbridge {
namespace {

using namespace pairing_vectors;

// One whole pairing attempt with every random input fixed, checked against values that
// fixed_pairing_attempt.py (beside this file) computed on its own: Argon2id and edwards25519 in plain Python,
// P-256 from python3-cryptography. The headset's side is played from those values alone.
namespace expected {
const Bytes headsetSigningScalar = hex("1f3a5c7e9b2d4f6081a3c5e7092b4d6f8091a2b3c4d5e6f708192a3b4c5d6e7f");
const Bytes hostSigningScalar = hex("7e6d5c4b3a29180706f5e4d3c2b1a0918f7e6d5c4b3a291807f6e5d4c3b2a190");
const Bytes nonce = counting(0xA0, 32);

const Bytes headsetSigningPublicKey = hex(
    "f924f5cba5715fc4b7a79a061974412cc717922a2ed21f31fab0652abe4637551e88e424fb9deb0ad3396ada0f70d3c67ed6d5"
    "770a951d952125e51f34db349b");
const Bytes hostSigningPublicKey = hex(
    "e10940b88183e968cd53fbe5dbff249fcad85ed0a7c0e6c07395ebe42b6d128cfd8dbb6dc61993b71822296abcea1eb57b433b"
    "833d144b5a35675a3620fc24de");
const Bytes transcriptHash = hex("9e443ac9bf879e60a56d204dd7ec0607264d6be9e326ac6227b9da2627767896");
const Bytes clientShare = hex("a8bfb2eab05406f8dbdfabb670c6e76d66c93d870435072b84f487f0b688a3d5");
const Bytes serverShare = hex("a8d809178a323514ff0230e0bdfed2dbfb2a17455e02ba5874c6f1857848a1db");
const Bytes clientConfirmation = hex("b8bb560bfb96670c2ab8f0a2859f09349cf751a08f561b36216cca9d0caf3114");
const Bytes serverConfirmation = hex("15d6a1f2d7f734a98a2a0cd3b7473062b3b542a64fe36ca3992f4b482110873a");
const Bytes hostConfirmationPayload =
    hex("5175696c6c627269646765205350414b453220636f6e6669726d6174696f6e207369676e6174757265207631000000036d61"
        "63000000200fc975fbccf8420304f8ad16c2f93655bf9974eef984b210d06ce52f133ad34d0000002015d6a1f2d7f734a98a"
        "2a0cd3b7473062b3b542a64fe36ca3992f4b482110873a");
const Bytes clientSignature =
    hex("3045022100cadd130413198bb272218740bf9a8de38fd5eba3bed72657f24386841835f1d50220214483f7d851c236dc1e04"
        "bd277b805d89aa5721b5770aee0e590a3de8ea41b0");
const Bytes acceptancePayload =
    hex("5175696c6c627269646765205350414b453220616363657074616e6365207631000000200fc975fbccf8420304f8ad16c2f9"
        "3655bf9974eef984b210d06ce52f133ad34d0000002015d6a1f2d7f734a98a2a0cd3b7473062b3b542a64fe36ca3992f4b48"
        "2110873a00000020b8bb560bfb96670c2ab8f0a2859f09349cf751a08f561b36216cca9d0caf3114");
}  // namespace expected

TEST(FixedPairingAttemptTests, AWholeAttemptGivesTheIndependentlyComputedValues) {
    const Date now{700'000'000};
    const auto hostKey = P256SigningKey::fromRawRepresentation(expected::hostSigningScalar);
    ASSERT_TRUE(hostKey);
    ASSERT_EQ(hostKey->publicKey().rawRepresentation(), expected::hostSigningPublicKey);
    const auto hostPublicKey = P256PublicKey::fromRawRepresentation(expected::hostSigningPublicKey);
    ASSERT_TRUE(hostPublicKey);

    const PairingStartMessage start{attemptID, 19, headsetID, std::string(headsetName),
                                    expected::headsetSigningPublicKey};
    const SessionHelloMessage hello{headsetID, std::string(headsetName), true, 19, 19};
    int nonceDraws = 0;
    int scalarDraws = 0;
    HostPairingExchange::RandomSources sources{
        .bytes =
            [&](std::span<std::uint8_t> buffer) {
                ++nonceDraws;
                ASSERT_EQ(buffer.size(), expected::nonce.size());
                std::copy(expected::nonce.begin(), expected::nonce.end(), buffer.begin());
            },
        .scalar =
            [&](std::span<std::uint8_t, 32> scalar) {
                ++scalarDraws;
                std::copy(serverScalar.begin(), serverScalar.end(), scalar.begin());
            },
    };

    auto begun = HostPairingExchange::begin(start, hello, {hostID, std::string(hostName)}, *hostKey,
                                            std::nullopt, hostCertificate, headsetCertificate, now, sources);
    ASSERT_TRUE(begun);
    auto& host = *begun->exchange;
    EXPECT_EQ(nonceDraws, 1);
    EXPECT_EQ(begun->challenge.nonce, expected::nonce);
    EXPECT_EQ(begun->challenge.signingPublicKey, expected::hostSigningPublicKey);
    EXPECT_EQ(toHex(host.transcriptHash()), toHex(expected::transcriptHash));

    ASSERT_TRUE(host.receiveClientChallenge({attemptID, roundID, salt, expected::clientShare}, now));
    auto outcome = host.submitCode(code, now);
    ASSERT_EQ(outcome.kind, HostPairingExchange::CodeSubmissionOutcome::Kind::sendServerChallenge);
    EXPECT_EQ(scalarDraws, 1);
    EXPECT_EQ(toHex(outcome.serverChallenge->publicValue), toHex(expected::serverShare));

    auto serverConfirmation =
        host.receiveClientResponse({attemptID, roundID, expected::clientConfirmation}, now);
    ASSERT_TRUE(serverConfirmation);
    EXPECT_EQ(toHex(serverConfirmation->confirmation), toHex(expected::serverConfirmation));
    // ECDSA signatures differ each time; the host's must verify over the payload the script built.
    EXPECT_TRUE(
        hostPublicKey->isValidSignature(serverConfirmation->signature, expected::hostConfirmationPayload));

    auto acceptance = host.receiveClientConfirmation(
        {attemptID, roundID, expected::clientConfirmation, expected::clientSignature}, now);
    ASSERT_TRUE(acceptance);
    EXPECT_TRUE(
        hostPublicKey->isValidSignature(acceptance->message.serverSignature, expected::acceptancePayload));
    EXPECT_EQ(acceptance->message.signingPublicKey, expected::hostSigningPublicKey);
    EXPECT_EQ(acceptance->peerRecord.signingPublicKey, expected::headsetSigningPublicKey);
    EXPECT_EQ(acceptance->peerRecord.tlsCertificate, headsetCertificate);
}

}  // namespace
}  // namespace quillbridge
