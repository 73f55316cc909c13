#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include <sodium.h>

#include "core/BlockingWorkPool.hpp"

#include "pairing/HostPairingExchange.hpp"
#include "pairing/PairingTranscript.hpp"
#include "support/RunAwaitable.hpp"
#include "support/pairing/ClientPairingExchange.hpp"

namespace quillbridge {
namespace {

using Kind = HostPairingExchange::CodeSubmissionOutcome::Kind;
using HostState = PairingHostStateMachine::State;

constexpr std::string_view rightCode = "482916";
constexpr std::string_view wrongCode = "482917";

// Everything one round produced on the way to the headset's reply.
struct RoundTrace {
    PairingClientChallengeMessage clientChallenge;
    HostPairingExchange::PromptInfo prompt;
    PairingServerChallengeMessage serverChallenge;
    PairingClientResponseMessage response;
    PairingServerConfirmationMessage serverConfirmation;
    ClientPairingExchange::ConfirmationReply reply;
};

class HostPairingExchangeTest : public ::testing::Test {
protected:
    const Date startTime{700'000'000};
    const LocalDeviceIdentity hostIdentity{*Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"),
                                           "Studio Mac"};
    const LocalDeviceIdentity headsetIdentity{*Uuid::parse("11111111-2222-4333-8444-555555555555"),
                                              "Zoé's headset"};
    const P256SigningKey hostKey = P256SigningKey::generate();
    const P256SigningKey headsetKey = P256SigningKey::generate();
    const Bytes hostCertificate = toBytes("host certificate DER");
    const Bytes headsetCertificate = toBytes("headset certificate DER");

    std::unique_ptr<ClientPairingExchange> headset;
    std::unique_ptr<HostPairingExchange> host;

    std::unique_ptr<ClientPairingExchange> makeHeadset() {
        return std::make_unique<ClientPairingExchange>(headsetIdentity, headsetKey, headsetCertificate,
                                                       hostIdentity.id, startTime);
    }

    // Starts an attempt on both sides.
    void beginAttempt() {
        headset = makeHeadset();
        auto begun = HostPairingExchange::begin(headset->start(), headset->hello(), hostIdentity, hostKey,
                                                std::nullopt, hostCertificate, headsetCertificate, startTime);
        ASSERT_TRUE(begun.has_value());
        host = std::move(begun->exchange);
        ASSERT_TRUE(headset->receiveChallenge(begun->challenge, hostCertificate));
    }

    Date at(double seconds) const { return startTime.addingSeconds(seconds); }

    // Runs a round up to the headset's answer to the host's confirmation.
    RoundTrace runRound(std::string_view headsetCode, std::string_view hostCode, double seconds = 1,
                        ClientPairingExchange::RoundOptions options = {}) {
        RoundTrace trace;
        auto clientChallenge = headset->openRound(headsetCode, std::move(options));
        EXPECT_TRUE(clientChallenge.has_value());
        trace.clientChallenge = *clientChallenge;
        auto prompt = host->receiveClientChallenge(trace.clientChallenge, at(seconds));
        EXPECT_TRUE(prompt.has_value());
        trace.prompt = *prompt;
        auto outcome = host->submitCode(hostCode, at(seconds));
        EXPECT_EQ(outcome.kind, Kind::sendServerChallenge);
        trace.serverChallenge = *outcome.serverChallenge;
        auto response = headset->receiveServerChallenge(trace.serverChallenge);
        EXPECT_TRUE(response.has_value());
        trace.response = *response;
        auto serverConfirmation = host->receiveClientResponse(trace.response, at(seconds));
        EXPECT_TRUE(serverConfirmation.has_value());
        trace.serverConfirmation = *serverConfirmation;
        auto reply = headset->receiveServerConfirmation(trace.serverConfirmation);
        EXPECT_TRUE(reply.has_value());
        trace.reply = *reply;
        return trace;
    }

    // The headset's signature over a confirmation payload, as a headset (or someone holding its key)
    // would make it.
    Bytes headsetSignature(PairingRole role, ByteView roundHash, ByteView confirmation) const {
        return *headsetKey.signature(confirmationSignaturePayload(role, roundHash, confirmation));
    }

    // A confirmation the headset never sent for the round it last answered: its real confirmation,
    // validly signed. Stands in for what an eavesdropper would have recorded.
    PairingClientConfirmationMessage recordedConfirmation(const RoundTrace& trace) const {
        const Bytes& confirmation = headset->lastPakeResult()->outboundConfirmation;
        return {trace.response.attemptID, trace.response.roundID, confirmation,
                headsetSignature(PairingRole::visionPro, *headset->lastRoundTranscriptHash(), confirmation)};
    }
};

TEST_F(HostPairingExchangeTest, TheRightCodePairs) {
    beginAttempt();
    auto trace = runRound(rightCode, rightCode, 5);
    EXPECT_EQ(trace.prompt, (HostPairingExchange::PromptInfo{headset->start().attemptID, headsetIdentity.id,
                                                             headsetIdentity.name, 3, at(60)}));
    EXPECT_EQ(host->expiresAt(), at(60));
    ASSERT_TRUE(std::holds_alternative<PairingClientConfirmationMessage>(trace.reply));
    auto confirmation = std::get<PairingClientConfirmationMessage>(trace.reply);

    auto acceptance = host->receiveClientConfirmation(confirmation, at(7.5));
    ASSERT_TRUE(acceptance.has_value());
    EXPECT_TRUE(headset->receiveAcceptance(acceptance->message));
    EXPECT_EQ(acceptance->message.peerID, hostIdentity.id);
    EXPECT_EQ(acceptance->message.displayName, hostIdentity.name);
    EXPECT_EQ(acceptance->message.signingPublicKey, hostKey.publicKey().rawRepresentation());
    EXPECT_TRUE(acceptance->peerRecord ==
                (PairedPeerRecord{headsetIdentity.id, headsetIdentity.name,
                                  headsetKey.publicKey().rawRepresentation(), headsetCertificate, at(7.5)}));
    EXPECT_EQ(host->protocolState().state(), HostState::accepted());

    // The attempt is over: a repeated confirmation or any other message is refused.
    EXPECT_FALSE(host->receiveClientConfirmation(confirmation, at(8)));
    EXPECT_EQ(host->receiveRoundRejected({confirmation.attemptID, confirmation.roundID}, at(8)),
              RoundRejectionOutcome::ignored);
    EXPECT_FALSE(host->receiveClientChallenge(trace.clientChallenge, at(8)));
}

TEST_F(HostPairingExchangeTest, AWrongCodeThenTheRightOne) {
    beginAttempt();
    auto first = runRound(rightCode, wrongCode);
    ASSERT_TRUE(std::holds_alternative<PairingRoundRejectedMessage>(first.reply));
    EXPECT_EQ(host->receiveRoundRejected(std::get<PairingRoundRejectedMessage>(first.reply), at(2)),
              RoundRejectionOutcome::newRound);

    auto second = runRound(rightCode, rightCode, 3);
    EXPECT_EQ(second.prompt.remainingAttempts, 2);
    ASSERT_TRUE(std::holds_alternative<PairingClientConfirmationMessage>(second.reply));
    auto acceptance =
        host->receiveClientConfirmation(std::get<PairingClientConfirmationMessage>(second.reply), at(4));
    ASSERT_TRUE(acceptance.has_value());
    EXPECT_TRUE(headset->receiveAcceptance(acceptance->message));
    EXPECT_EQ(host->protocolState().failedRoundCount(), 1);
}

TEST_F(HostPairingExchangeTest, ThreeWrongCodesEndTheAttempt) {
    beginAttempt();
    const RoundRejectionOutcome expected[] = {
        RoundRejectionOutcome::newRound, RoundRejectionOutcome::newRound, RoundRejectionOutcome::rejected};
    PairingRoundRejectedMessage last{};
    for (int round = 0; round < 3; ++round) {
        auto trace = runRound(wrongCode, rightCode, 1 + round);
        EXPECT_EQ(trace.prompt.remainingAttempts, 3 - round);
        ASSERT_TRUE(std::holds_alternative<PairingRoundRejectedMessage>(trace.reply));
        last = std::get<PairingRoundRejectedMessage>(trace.reply);
        EXPECT_EQ(host->receiveRoundRejected(last, at(1 + round)), expected[round]);
    }
    EXPECT_EQ(host->protocolState().state(), HostState::rejected());
    EXPECT_EQ(host->protocolState().failedRoundCount(), 3);
    EXPECT_EQ(headset->protocolState().state(), PairingClientStateMachine::State::rejected());
    EXPECT_EQ(host->receiveRoundRejected(last, at(5)), RoundRejectionOutcome::ignored);
}

TEST_F(HostPairingExchangeTest, NothingIsTakenFromSixtySecondsOn) {
    beginAttempt();
    auto clientChallenge = *headset->openRound(rightCode);
    EXPECT_FALSE(host->receiveClientChallenge(clientChallenge, at(60)));
    EXPECT_EQ(host->protocolState().state(), HostState::awaitingClientChallenge());
    ASSERT_TRUE(host->receiveClientChallenge(clientChallenge, at(59.999)));

    EXPECT_EQ(host->submitCode(rightCode, at(60)).kind, Kind::ignored);
    auto outcome = host->submitCode(rightCode, at(59.999));
    ASSERT_EQ(outcome.kind, Kind::sendServerChallenge);
    auto response = *headset->receiveServerChallenge(*outcome.serverChallenge);

    EXPECT_FALSE(host->receiveClientResponse(response, at(61)));
    auto serverConfirmation = host->receiveClientResponse(response, at(59.999));
    ASSERT_TRUE(serverConfirmation.has_value());
    auto reply = *headset->receiveServerConfirmation(*serverConfirmation);
    auto confirmation = std::get<PairingClientConfirmationMessage>(reply);

    EXPECT_FALSE(host->receiveClientConfirmation(confirmation, at(60)));
    EXPECT_EQ(host->receiveRoundRejected({confirmation.attemptID, confirmation.roundID}, at(60)),
              RoundRejectionOutcome::ignored);
    EXPECT_EQ(host->protocolState().failedRoundCount(), 0);
    // Refusals changed nothing: before the deadline the same confirmation is still taken.
    EXPECT_TRUE(host->receiveClientConfirmation(confirmation, at(59.999)));
}

TEST_F(HostPairingExchangeTest, AConfirmationCannotBeReplayedIntoAnotherRound) {
    beginAttempt();
    // Round 1 ends rejected, but its confirmation (recorded, validly signed) exists. Round 2 reuses the
    // round identifier and must still refuse it.
    auto first = runRound(rightCode, wrongCode);
    auto recorded = recordedConfirmation(first);
    auto firstResponse = first.response;
    ASSERT_EQ(host->receiveRoundRejected(std::get<PairingRoundRejectedMessage>(first.reply), at(2)),
              RoundRejectionOutcome::newRound);

    ClientPairingExchange::RoundOptions sameRound;
    sameRound.roundID = first.clientChallenge.roundID;
    auto second = runRound(rightCode, rightCode, 3, sameRound);
    EXPECT_EQ(second.clientChallenge.roundID, first.clientChallenge.roundID);
    EXPECT_FALSE(host->receiveClientConfirmation(recorded, at(4)));

    // The round's own confirmation is still taken afterwards.
    auto acceptance =
        host->receiveClientConfirmation(std::get<PairingClientConfirmationMessage>(second.reply), at(4));
    ASSERT_TRUE(acceptance.has_value());
    EXPECT_TRUE(headset->receiveAcceptance(acceptance->message));
}

TEST_F(HostPairingExchangeTest, MessagesOfAnEarlierRoundAreRefused) {
    beginAttempt();
    auto first = runRound(rightCode, wrongCode);
    auto recorded = recordedConfirmation(first);
    host->receiveRoundRejected(std::get<PairingRoundRejectedMessage>(first.reply), at(2));

    auto clientChallenge = *headset->openRound(rightCode);
    ASSERT_TRUE(host->receiveClientChallenge(clientChallenge, at(3)));
    auto outcome = host->submitCode(rightCode, at(3));
    ASSERT_EQ(outcome.kind, Kind::sendServerChallenge);
    EXPECT_FALSE(host->receiveClientResponse(first.response, at(3)));  // names the earlier round
    auto response = *headset->receiveServerChallenge(*outcome.serverChallenge);
    auto serverConfirmation = host->receiveClientResponse(response, at(3));
    ASSERT_TRUE(serverConfirmation.has_value());
    auto confirmation =
        std::get<PairingClientConfirmationMessage>(*headset->receiveServerConfirmation(*serverConfirmation));

    EXPECT_FALSE(host->receiveClientConfirmation(recorded, at(4)));
    auto relabelled = recorded;
    relabelled.roundID = confirmation.roundID;
    EXPECT_FALSE(host->receiveClientConfirmation(relabelled, at(4)));
    EXPECT_EQ(host->receiveRoundRejected({recorded.attemptID, recorded.roundID}, at(4)),
              RoundRejectionOutcome::ignored);
    EXPECT_TRUE(host->receiveClientConfirmation(confirmation, at(4)));
}

TEST_F(HostPairingExchangeTest, AConfirmationCannotBeReplayedIntoAnotherAttempt) {
    beginAttempt();
    auto first = runRound(rightCode, rightCode);
    auto confirmation = std::get<PairingClientConfirmationMessage>(first.reply);
    ASSERT_TRUE(host->receiveClientConfirmation(confirmation, at(2)));

    // The same headset starts again; the old confirmation, as it was or carried over to the new
    // attempt's identifiers, is refused.
    beginAttempt();
    auto second = runRound(rightCode, rightCode);
    auto current = std::get<PairingClientConfirmationMessage>(second.reply);
    EXPECT_FALSE(host->receiveClientConfirmation(confirmation, at(2)));
    auto relabelled = confirmation;
    relabelled.attemptID = current.attemptID;
    relabelled.roundID = current.roundID;
    EXPECT_FALSE(host->receiveClientConfirmation(relabelled, at(2)));
    EXPECT_TRUE(host->receiveClientConfirmation(current, at(2)));
}

TEST_F(HostPairingExchangeTest, InvalidHeadsetSharesFailTheCodeStep) {
    beginAttempt();
    Bytes salt(16, 7);
    // The headset's own password scalar for the code, to build w·M.
    auto probe = SPAKE2Round::create(SPAKE2Round::Role::client, rightCode, salt, Bytes{1}, Bytes{2});
    ASSERT_TRUE(probe.has_value());
    Bytes maskedNeutral(32);
    Bytes pointM = *fromHex("d048032c6ea0b6d697ddc2e86bda85a33adac920f1bf18e1b0c6d166a5cecdaf");
    ASSERT_EQ(crypto_scalarmult_ed25519_noclamp(maskedNeutral.data(), (*probe)->passwordScalar().data(),
                                                pointM.data()),
              0);

    struct Case {
        const char* name;
        Bytes share;
    };
    const Case cases[] = {
        {"neutral element", *fromHex("0100000000000000000000000000000000000000000000000000000000000000")},
        {"w·M", maskedNeutral},
        {"not a point", *fromHex("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f")},
    };
    for (const auto& item : cases) {
        beginAttempt();
        PairingClientChallengeMessage challenge{headset->start().attemptID, Uuid::random(), salt, item.share};
        ASSERT_TRUE(host->receiveClientChallenge(challenge, at(1))) << item.name;
        EXPECT_EQ(host->submitCode(rightCode, at(1)).kind, Kind::failed) << item.name;
        EXPECT_EQ(host->protocolState().state(), HostState::awaitingCode(challenge.roundID)) << item.name;
    }
}

TEST_F(HostPairingExchangeTest, ReflectedValuesDoNotConfirm) {
    beginAttempt();
    auto first = runRound(rightCode, wrongCode);
    host->receiveRoundRejected(std::get<PairingRoundRejectedMessage>(first.reply), at(2));

    // Someone holding the headset's key but not the code sends the host's own share and confirmation back.
    PairingClientChallengeMessage reflected{headset->start().attemptID, Uuid::random(),
                                            first.clientChallenge.salt, first.serverChallenge.publicValue};
    ASSERT_TRUE(host->receiveClientChallenge(reflected, at(3)));
    auto outcome = host->submitCode(rightCode, at(3));
    ASSERT_EQ(outcome.kind, Kind::sendServerChallenge);
    PairingClientResponseMessage response{reflected.attemptID, reflected.roundID,
                                          first.serverConfirmation.confirmation};
    auto serverConfirmation = host->receiveClientResponse(response, at(3));
    ASSERT_TRUE(serverConfirmation.has_value());

    // The round hash is public, so the signature is valid; the confirmation is not.
    Bytes roundHash =
        *roundTranscriptHash(host->transcriptHash(), reflected.roundID, reflected.salt, reflected.publicValue,
                             outcome.serverChallenge->publicValue, response.confirmation);
    for (const Bytes& value : {response.confirmation, serverConfirmation->confirmation}) {
        PairingClientConfirmationMessage confirmation{
            reflected.attemptID, reflected.roundID, value,
            headsetSignature(PairingRole::visionPro, roundHash, value)};
        EXPECT_FALSE(host->receiveClientConfirmation(confirmation, at(4)));
    }
    EXPECT_EQ(host->protocolState().state(), HostState::awaitingClientConfirmation(reflected.roundID));
}

TEST_F(HostPairingExchangeTest, SwappedIdentitiesDoNotConfirm) {
    beginAttempt();
    ClientPairingExchange::RoundOptions swapped;
    swapped.swapIdentities = true;
    auto trace = runRound(rightCode, rightCode, 1, swapped);
    ASSERT_TRUE(std::holds_alternative<PairingRoundRejectedMessage>(trace.reply));
    // Even signed and sent anyway, the headset's confirmation is refused by the host.
    EXPECT_FALSE(host->receiveClientConfirmation(recordedConfirmation(trace), at(2)));
    EXPECT_EQ(host->receiveRoundRejected(std::get<PairingRoundRejectedMessage>(trace.reply), at(2)),
              RoundRejectionOutcome::newRound);
}

TEST_F(HostPairingExchangeTest, TheHeadsetsConfirmationMustCarryItsOwnSignature) {
    beginAttempt();
    auto trace = runRound(rightCode, rightCode);
    auto real = std::get<PairingClientConfirmationMessage>(trace.reply);
    const Bytes& roundHash = *headset->lastRoundTranscriptHash();
    Bytes flipped = real.signature;
    flipped[flipped.size() / 2] ^= 0x01;
    const P256SigningKey strangerKey = P256SigningKey::generate();

    struct Case {
        const char* name;
        Bytes signature;
    };
    const Case cases[] = {
        {"signed for role mac", headsetSignature(PairingRole::mac, roundHash, real.confirmation)},
        {"signed by another key", *strangerKey.signature(confirmationSignaturePayload(
                                      PairingRole::visionPro, roundHash, real.confirmation))},
        {"the host's own signature", trace.serverConfirmation.signature},
        {"a damaged signature", flipped},
        {"no signature", {}},
    };
    for (const auto& item : cases) {
        auto forged = real;
        forged.signature = item.signature;
        EXPECT_FALSE(host->receiveClientConfirmation(forged, at(2))) << item.name;
    }
    EXPECT_EQ(host->protocolState().state(), HostState::awaitingClientConfirmation(real.roundID));
    EXPECT_TRUE(host->receiveClientConfirmation(real, at(2)));
}

TEST_F(HostPairingExchangeTest, TheHeadsetsConfirmationMustBeTheOneItResponded) {
    beginAttempt();
    auto clientChallenge = *headset->openRound(rightCode);
    ASSERT_TRUE(host->receiveClientChallenge(clientChallenge, at(1)));
    auto outcome = host->submitCode(rightCode, at(1));
    auto response = *headset->receiveServerChallenge(*outcome.serverChallenge);
    const Bytes realConfirmation = response.confirmation;

    // A response of the right length but the wrong value is still answered with the host's confirmation.
    auto garbled = response;
    garbled.confirmation[0] ^= 0xFF;
    auto serverConfirmation = host->receiveClientResponse(garbled, at(1));
    ASSERT_TRUE(serverConfirmation.has_value());
    EXPECT_EQ(serverConfirmation->confirmation.size(), 32u);
    Bytes roundHash = *roundTranscriptHash(host->transcriptHash(), clientChallenge.roundID,
                                           clientChallenge.salt, clientChallenge.publicValue,
                                           outcome.serverChallenge->publicValue, garbled.confirmation);

    // Both are validly signed over the round as the host sees it.
    for (const Bytes& value : {realConfirmation, garbled.confirmation}) {
        PairingClientConfirmationMessage confirmation{
            clientChallenge.attemptID, clientChallenge.roundID, value,
            headsetSignature(PairingRole::visionPro, roundHash, value)};
        EXPECT_FALSE(host->receiveClientConfirmation(confirmation, at(2)));
    }
    EXPECT_EQ(host->protocolState().state(), HostState::awaitingClientConfirmation(clientChallenge.roundID));
}

TEST_F(HostPairingExchangeTest, BeginChecksHelloStartKeysAndCertificates) {
    auto candidate = makeHeadset();
    const PairingStartMessage start = candidate->start();
    const SessionHelloMessage hello = candidate->hello();
    const Bytes storedKey = start.signingPublicKey;
    using Failure = HostPairingExchange::BeginFailure;

    struct Case {
        std::string name;
        PairingStartMessage start;
        std::optional<SessionHelloMessage> hello;
        std::optional<Bytes> pairedKey;
        std::optional<Bytes> localCertificate;
        std::optional<Bytes> peerCertificate;
        std::optional<Failure> failure;
    };
    std::vector<Case> cases;
    auto add = [&](std::string name, auto change, std::optional<Failure> failure) {
        Case item{name, start, hello, std::nullopt, hostCertificate, headsetCertificate, failure};
        change(item);
        cases.push_back(std::move(item));
    };
    add(
        "accepted", [](Case&) {}, std::nullopt);
    add(
        "paired before with the same key", [&](Case& c) { c.pairedKey = storedKey; }, std::nullopt);
    add(
        "hello for a compatible newer version", [](Case& c) { c.hello->controlProtocolVersion = 25; },
        std::nullopt);
    add(
        "paired with another key",
        [&](Case& c) { c.pairedKey = P256SigningKey::generate().publicKey().rawRepresentation(); },
        Failure::identityChanged);
    add(
        "no hello", [](Case& c) { c.hello.reset(); }, Failure::failed);
    add(
        "hello without pairing", [](Case& c) { c.hello->wantsPairing = false; }, Failure::failed);
    add(
        "hello of another peer", [](Case& c) { c.hello->peerID = Uuid::random(); }, Failure::failed);
    add(
        "hello too old",
        [](Case& c) {
            c.hello->controlProtocolVersion = c.hello->minimumCompatibleControlProtocolVersion = 18;
        },
        Failure::failed);
    add(
        "hello needs a newer host",
        [](Case& c) {
            c.hello->controlProtocolVersion = 25, c.hello->minimumCompatibleControlProtocolVersion = 20;
        },
        Failure::failed);
    add(
        "start with another version", [](Case& c) { c.start.controlProtocolVersion = 20; }, Failure::failed);
    add(
        "63-byte key", [](Case& c) { c.start.signingPublicKey.pop_back(); }, Failure::failed);
    add(
        "key off the curve", [](Case& c) { c.start.signingPublicKey.back() ^= 1; }, Failure::failed);
    add(
        "no host certificate", [](Case& c) { c.localCertificate.reset(); }, Failure::failed);
    add(
        "no headset certificate", [](Case& c) { c.peerCertificate.reset(); }, Failure::failed);
    // An unusable key is refused before the stored key is compared.
    add(
        "unusable key that differs from the stored one",
        [&](Case& c) {
            c.start.signingPublicKey.back() ^= 1;
            c.pairedKey = storedKey;
        },
        Failure::failed);

    for (const auto& item : cases) {
        auto begun = HostPairingExchange::begin(item.start, item.hello, hostIdentity, hostKey, item.pairedKey,
                                                item.localCertificate, item.peerCertificate, startTime);
        if (item.failure) {
            ASSERT_FALSE(begun.has_value()) << item.name;
            EXPECT_EQ(begun.error(), *item.failure) << item.name;
            continue;
        }
        ASSERT_TRUE(begun.has_value()) << item.name;
        const auto& challenge = begun->challenge;
        EXPECT_EQ(challenge.attemptID, item.start.attemptID) << item.name;
        EXPECT_EQ(challenge.controlProtocolVersion, 19) << item.name;
        EXPECT_EQ(challenge.peerID, hostIdentity.id) << item.name;
        EXPECT_EQ(challenge.displayName, hostIdentity.name) << item.name;
        EXPECT_EQ(challenge.signingPublicKey, hostKey.publicKey().rawRepresentation()) << item.name;
        EXPECT_EQ(challenge.nonce.size(), 32u) << item.name;
        EXPECT_EQ(begun->exchange->transcriptHash(),
                  pairingTranscriptHash(item.start, challenge, headsetCertificate, hostCertificate))
            << item.name;
    }
}

TEST_F(HostPairingExchangeTest, ClientChallengesOfTheWrongShapeAreRefused) {
    beginAttempt();
    const PairingClientChallengeMessage valid{headset->start().attemptID, Uuid::random(), Bytes(16, 1),
                                              Bytes(32, 2)};
    struct Case {
        const char* name;
        PairingClientChallengeMessage message;
    };
    std::vector<Case> cases;
    for (std::size_t length : {15, 17}) {
        auto message = valid;
        message.salt.resize(length);
        cases.push_back({"salt length", message});
    }
    for (std::size_t length : {31, 33}) {
        auto message = valid;
        message.publicValue.resize(length);
        cases.push_back({"share length", message});
    }
    auto otherAttempt = valid;
    otherAttempt.attemptID = Uuid::random();
    cases.push_back({"other attempt", otherAttempt});
    for (const auto& item : cases) {
        EXPECT_FALSE(host->receiveClientChallenge(item.message, at(1))) << item.name;
        EXPECT_EQ(host->protocolState().state(), HostState::awaitingClientChallenge()) << item.name;
    }
    EXPECT_TRUE(host->receiveClientChallenge(valid, at(1)));
    EXPECT_FALSE(host->receiveClientChallenge(valid, at(1)));  // a round is already open
}

TEST_F(HostPairingExchangeTest, OnlySixAsciiDigitsAreTakenAsTheCode) {
    beginAttempt();
    EXPECT_EQ(host->submitCode(rightCode, at(1)).kind, Kind::ignored);  // no round open yet
    auto clientChallenge = *headset->openRound("000000");
    ASSERT_TRUE(host->receiveClientChallenge(clientChallenge, at(1)));
    for (std::string_view code : {"12345", "1234567", "12 456", "12a456", "", "+12345",
                                  "\xD9\xA1\xD9\xA2\xD9\xA3\xD9\xA4\xD9\xA5\xD9\xA6"}) {
        EXPECT_EQ(host->submitCode(code, at(1)).kind, Kind::ignored) << code;
    }
    EXPECT_EQ(host->protocolState().state(), HostState::awaitingCode(clientChallenge.roundID));

    // A round rejection is counted only after the host's confirmation went out.
    EXPECT_EQ(host->receiveRoundRejected({clientChallenge.attemptID, clientChallenge.roundID}, at(1)),
              RoundRejectionOutcome::ignored);
    auto outcome = host->submitCode("000000", at(1));
    ASSERT_EQ(outcome.kind, Kind::sendServerChallenge);
    EXPECT_EQ(outcome.serverChallenge->attemptID, clientChallenge.attemptID);
    EXPECT_EQ(outcome.serverChallenge->roundID, clientChallenge.roundID);
    EXPECT_EQ(outcome.serverChallenge->publicValue.size(), 32u);
    EXPECT_EQ(host->submitCode("000000", at(1)).kind, Kind::ignored);  // already submitted
    EXPECT_EQ(host->receiveRoundRejected({clientChallenge.attemptID, clientChallenge.roundID}, at(1)),
              RoundRejectionOutcome::ignored);
    EXPECT_EQ(host->protocolState().failedRoundCount(), 0);

    auto response = *headset->receiveServerChallenge(*outcome.serverChallenge);
    auto serverConfirmation = host->receiveClientResponse(response, at(1));
    ASSERT_TRUE(serverConfirmation.has_value());
    auto reply = headset->receiveServerConfirmation(*serverConfirmation);
    ASSERT_TRUE(reply && std::holds_alternative<PairingClientConfirmationMessage>(*reply));
    EXPECT_TRUE(host->receiveClientConfirmation(std::get<PairingClientConfirmationMessage>(*reply), at(2)));
}

TEST_F(HostPairingExchangeTest, ACodeComputedOnAWorkerCountsOnlyForItsOpenRoundBeforeTheDeadline) {
    beginAttempt();
    auto clientChallenge = *headset->openRound(rightCode);
    ASSERT_TRUE(host->receiveClientChallenge(clientChallenge, at(1)));
    EXPECT_FALSE(host->prepareCodeSubmission("12345", at(1)));
    EXPECT_FALSE(host->prepareCodeSubmission(rightCode, at(60)));
    auto computation = host->prepareCodeSubmission(rightCode, at(1));
    ASSERT_TRUE(computation);

    BlockingWorkPool pool(1);
    auto work = [computation = std::move(*computation)] { return computation.run(); };
    auto result = runAwaitable(runBlocking(pool, std::move(work)));
    ASSERT_TRUE(result.succeeded);
    EXPECT_EQ(host->protocolState().state(), HostState::awaitingCode(clientChallenge.roundID))
        << "nothing changes until the result is handed back";

    auto otherRound = result;
    otherRound.roundID = Uuid::random();
    EXPECT_EQ(host->completeCodeSubmission(otherRound, at(2)).kind, Kind::ignored);
    EXPECT_EQ(host->completeCodeSubmission(result, at(60)).kind, Kind::ignored);
    auto failed = result;
    failed.succeeded = false;
    EXPECT_EQ(host->completeCodeSubmission(failed, at(2)).kind, Kind::failed);

    auto outcome = host->completeCodeSubmission(result, at(2));
    ASSERT_EQ(outcome.kind, Kind::sendServerChallenge);
    EXPECT_EQ(host->completeCodeSubmission(result, at(2)).kind, Kind::ignored) << "a second result";
    auto response = headset->receiveServerChallenge(*outcome.serverChallenge);
    ASSERT_TRUE(response);
    auto serverConfirmation = host->receiveClientResponse(*response, at(3));
    ASSERT_TRUE(serverConfirmation);
    auto reply = headset->receiveServerConfirmation(*serverConfirmation);
    ASSERT_TRUE(reply && std::holds_alternative<PairingClientConfirmationMessage>(*reply));
    EXPECT_TRUE(host->receiveClientConfirmation(std::get<PairingClientConfirmationMessage>(*reply), at(4)));
}

}  // namespace
}  // namespace quillbridge
