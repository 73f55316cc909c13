#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <sodium.h>

#include "pairing/SPAKE2Round.hpp"
#include "support/pairing/PairingVectors.hpp"

namespace quillbridge {
namespace {

namespace v = pairing_vectors;
using Role = SPAKE2Round::Role;
using Failure = SPAKE2Round::Failure;

SPAKE2Round::ScalarSource fixedScalar(const Bytes& scalar) {
    return
        [scalar](std::span<std::uint8_t, 32> out) { std::copy(scalar.begin(), scalar.end(), out.begin()); };
}

std::unique_ptr<SPAKE2Round> makeRound(Role role, std::string_view code = v::code,
                                       const Bytes& salt = v::salt) {
    auto round = SPAKE2Round::create(role, code, salt, v::clientIdentity, v::serverIdentity);
    EXPECT_TRUE(round.has_value());
    return round ? std::move(*round) : nullptr;
}

Bytes multiply(ByteView scalar, std::string_view pointHex) {
    Bytes point = *fromHex(pointHex);
    Bytes product(32);
    EXPECT_EQ(crypto_scalarmult_ed25519_noclamp(product.data(), scalar.data(), point.data()), 0);
    return product;
}

constexpr std::string_view hexM = "d048032c6ea0b6d697ddc2e86bda85a33adac920f1bf18e1b0c6d166a5cecdaf";
constexpr std::string_view hexN = "d3bfb518f44f3430f29d0c92af503865a1ed3281dc69b35dd868ba85f886c4ab";

TEST(SPAKE2RoundTest, FixedVectorWithInjectedScalars) {
    auto client = SPAKE2Round::create(Role::client, v::code, v::salt, v::clientIdentity, v::serverIdentity,
                                      fixedScalar(v::clientScalar));
    auto server = SPAKE2Round::create(Role::server, v::code, v::salt, v::clientIdentity, v::serverIdentity,
                                      fixedScalar(v::serverScalar));
    ASSERT_TRUE(client.has_value());
    ASSERT_TRUE(server.has_value());
    EXPECT_EQ(Bytes((*client)->passwordScalar().begin(), (*client)->passwordScalar().end()),
              v::passwordScalar);
    EXPECT_EQ((*client)->outboundPublicValue(), v::clientShare);
    EXPECT_EQ((*server)->outboundPublicValue(), v::serverShare);

    auto clientResult = (*client)->finish(v::serverShare, v::additionalData);
    auto serverResult = (*server)->finish(v::clientShare, v::additionalData);
    ASSERT_TRUE(clientResult.has_value());
    ASSERT_TRUE(serverResult.has_value());
    EXPECT_EQ(clientResult->outboundConfirmation, v::clientConfirmation);
    EXPECT_EQ(clientResult->expectedPeerConfirmation, v::serverConfirmation);
    EXPECT_EQ(serverResult->outboundConfirmation, v::serverConfirmation);
    EXPECT_EQ(serverResult->expectedPeerConfirmation, v::clientConfirmation);
}

TEST(SPAKE2RoundTest, RefusesUnusableInputs) {
    struct Case {
        std::string name;
        std::string code;
        Bytes salt;
        Bytes clientIdentity;
        Bytes serverIdentity;
    };
    const std::vector<Case> cases = {
        {"five digits", "12345", v::salt, v::clientIdentity, v::serverIdentity},
        {"seven digits", "1234567", v::salt, v::clientIdentity, v::serverIdentity},
        {"a letter", "12a456", v::salt, v::clientIdentity, v::serverIdentity},
        {"a space", "12 456", v::salt, v::clientIdentity, v::serverIdentity},
        {"Arabic-Indic digits", "\xD9\xA1\xD9\xA2\xD9\xA3\xD9\xA4\xD9\xA5\xD9\xA6", v::salt,
         v::clientIdentity, v::serverIdentity},
        {"empty code", "", v::salt, v::clientIdentity, v::serverIdentity},
        {"15-byte salt", "123456", Bytes(15, 1), v::clientIdentity, v::serverIdentity},
        {"17-byte salt", "123456", Bytes(17, 1), v::clientIdentity, v::serverIdentity},
        {"empty client identity", "123456", v::salt, {}, v::serverIdentity},
        {"empty server identity", "123456", v::salt, v::clientIdentity, {}},
    };
    for (const auto& item : cases) {
        auto round =
            SPAKE2Round::create(Role::server, item.code, item.salt, item.clientIdentity, item.serverIdentity);
        ASSERT_FALSE(round.has_value()) << item.name;
        EXPECT_EQ(round.error(), Failure::invalidInput) << item.name;
    }
}

TEST(SPAKE2RoundTest, ZeroRandomScalarIsAPrimitiveFailure) {
    auto round = SPAKE2Round::create(Role::client, v::code, v::salt, v::clientIdentity, v::serverIdentity,
                                     fixedScalar(Bytes(32, 0)));
    ASSERT_FALSE(round.has_value());
    EXPECT_EQ(round.error(), Failure::primitiveFailure);
}

TEST(SPAKE2RoundTest, ConfirmationsAgreeOnlyWithTheSameCodeAndAdditionalData) {
    Bytes otherData = v::additionalData;
    otherData[0] ^= 1;
    struct Case {
        const char* name;
        std::string serverCode;
        Bytes serverData;
        bool agree;
    };
    const Case cases[] = {
        {"same code and data", std::string(v::code), v::additionalData, true},
        {"other additional data", std::string(v::code), otherData, false},
        {"other code", "246811", v::additionalData, false},
    };
    for (const auto& item : cases) {
        auto client = makeRound(Role::client);
        auto server = makeRound(Role::server, item.serverCode);
        auto clientResult = client->finish(server->outboundPublicValue(), v::additionalData);
        auto serverResult = server->finish(client->outboundPublicValue(), item.serverData);
        ASSERT_TRUE(clientResult.has_value()) << item.name;
        ASSERT_TRUE(serverResult.has_value()) << item.name;
        EXPECT_EQ(clientResult->outboundConfirmation == serverResult->expectedPeerConfirmation, item.agree)
            << item.name;
        EXPECT_EQ(serverResult->outboundConfirmation == clientResult->expectedPeerConfirmation, item.agree)
            << item.name;
        // The two directions never share a value: a confirmation cannot be reflected back.
        EXPECT_NE(serverResult->outboundConfirmation, serverResult->expectedPeerConfirmation) << item.name;
    }
}

TEST(SPAKE2RoundTest, RefusesInvalidPeerShares) {
    auto server = makeRound(Role::server);
    Bytes passwordScalar(server->passwordScalar().begin(), server->passwordScalar().end());
    Bytes validShare = makeRound(Role::client)->outboundPublicValue();
    Bytes nonCanonical = *fromHex("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");

    struct Case {
        const char* name;
        Role role;
        Bytes share;
    };
    const std::vector<Case> cases = {
        {"31 bytes", Role::server, Bytes(validShare.begin(), validShare.end() - 1)},
        {"33 bytes", Role::server,
         [&] {
             Bytes longer = validShare;
             longer.push_back(0);
             return longer;
         }()},
        {"neutral element", Role::server,
         *fromHex("0100000000000000000000000000000000000000000000000000000000000000")},
        {"point of order 2", Role::server,
         *fromHex("ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f")},
        {"mixed order", Role::server,
         *fromHex("9599999999999999999999999999999999999999999999999999999999999999")},
        {"not canonical", Role::server, nonCanonical},
        {"w·M to a server", Role::server, multiply(passwordScalar, hexM)},
        {"w·N to a client", Role::client, multiply(passwordScalar, hexN)},
    };
    for (const auto& item : cases) {
        auto round = makeRound(item.role);
        auto result = round->finish(item.share, v::additionalData);
        ASSERT_FALSE(result.has_value()) << item.name;
        EXPECT_EQ(result.error(), Failure::invalidPeerPublicValue) << item.name;
        EXPECT_TRUE(round->isFinished()) << item.name;
        EXPECT_TRUE(round->privateScalar().empty()) << item.name;
        EXPECT_TRUE(round->passwordScalar().empty()) << item.name;
        auto again = round->finish(validShare, v::additionalData);
        ASSERT_FALSE(again.has_value()) << item.name;
        EXPECT_EQ(again.error(), Failure::alreadyFinished) << item.name;
    }
}

TEST(SPAKE2RoundTest, SingleUseAndSecretsClearedAfterFinish) {
    auto client = makeRound(Role::client);
    auto server = makeRound(Role::server);
    EXPECT_EQ(client->privateScalar().size(), 32u);
    EXPECT_EQ(client->passwordScalar().size(), 32u);
    ASSERT_TRUE(client->finish(server->outboundPublicValue(), v::additionalData).has_value());
    EXPECT_TRUE(client->privateScalar().empty());
    EXPECT_TRUE(client->passwordScalar().empty());
    auto second = client->finish(server->outboundPublicValue(), v::additionalData);
    ASSERT_FALSE(second.has_value());
    EXPECT_EQ(second.error(), Failure::alreadyFinished);
    EXPECT_EQ(client->outboundPublicValue().size(), 32u);
}

TEST(SPAKE2RoundTest, FreshSharesForTheSameInputs) {
    auto first = makeRound(Role::server);
    auto second = makeRound(Role::server);
    EXPECT_NE(first->outboundPublicValue(), second->outboundPublicValue());
    EXPECT_EQ(Bytes(first->passwordScalar().begin(), first->passwordScalar().end()),
              Bytes(second->passwordScalar().begin(), second->passwordScalar().end()));
}

TEST(SPAKE2RoundTest, SwappedIdentitiesDoNotAgree) {
    auto client = SPAKE2Round::create(Role::client, v::code, v::salt, v::serverIdentity, v::clientIdentity);
    auto server = makeRound(Role::server);
    ASSERT_TRUE(client.has_value());
    auto clientResult = (*client)->finish(server->outboundPublicValue(), v::additionalData);
    auto serverResult = server->finish((*client)->outboundPublicValue(), v::additionalData);
    ASSERT_TRUE(clientResult && serverResult);
    EXPECT_NE(clientResult->outboundConfirmation, serverResult->expectedPeerConfirmation);
}

TEST(SPAKE2RoundTest, LibraryGate) {
    EXPECT_TRUE(SPAKE2Round::libraryGateIsOpen());
    struct Case {
        int initResult;
        const char* version;
        bool selfTest;
        bool open;
    };
    const Case cases[] = {
        {0, "1.0.18", true, true},     {1, "1.0.22", true, true},   {0, "1.1.0", true, true},
        {0, "2.0.0", true, true},      {0, "1.0.17", true, false},  {0, "1.0.9", true, false},
        {-1, "1.0.18", true, false},   {0, "1.0.18", false, false}, {0, "1.0", true, false},
        {0, "1.0.18-rc", true, false}, {0, "", true, false},        {0, "1..18", true, false},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(SPAKE2Round::libraryGateAccepts(item.initResult, item.version, item.selfTest), item.open)
            << item.initResult << " " << item.version << " " << item.selfTest;
    }
}

}  // namespace
}  // namespace quillbridge
