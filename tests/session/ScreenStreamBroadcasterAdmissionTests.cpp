// Admission of a headset with fakes: the hello exchange, reconnect authentication, pairing with the code
// typed on the host, certificate rotation both ways and the start of the authorised session.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>

#include "core/BlockingWorkPool.hpp"
#include "pairing/DefaultsStore.hpp"
#include "pairing/P256SigningKey.hpp"
#include "pairing/PairedPeerStore.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "session/ScreenStreamBroadcasterFixture.hpp"
#include "support/pairing/ClientPairingExchange.hpp"

namespace quillbridge {
namespace {

using Prompt = ScreenStreamBroadcaster::PairingPrompt;

// What the fixture's headsets present in their TLS handshake.
const Bytes headsetCertificate{0x30, 0x82, 0x01};

class AdmissionTest : public ScreenStreamBroadcasterFixture {
protected:
    struct KnownHeadset {
        Uuid id = Uuid::random();
        std::string name = "Vision";
        P256SigningKey key = P256SigningKey::generate();
    };

    void SetUp() override {
        ScreenStreamBroadcasterFixture::SetUp();
        startListening();
        updates();
    }

    PairedPeerStore store() { return PairedPeerStore(defaults, secrets, PairingRole::mac); }
    P256PublicKey hostKey() { return store().loadOrCreateSigningKey()->publicKey(); }
    Uuid hostID() { return broadcaster->localPeerIdentity().id; }

    KnownHeadset addKnownHeadset(std::optional<Bytes> certificate, std::optional<Bytes> storedKey = {}) {
        KnownHeadset headset;
        store().upsert(PairedPeerRecord{headset.id, "Old name",
                                        storedKey.value_or(headset.key.publicKey().rawRepresentation()),
                                        std::move(certificate), std::nullopt});
        return headset;
    }

    Headset connectWith(const Bytes& certificate) {
        Headset headset;
        headset.connection = listener()->connect(certificate);
        drain();
        headset.control = run(headset.connection->openStream(QuicStreamDirectionality::bidirectional));
        drain();
        return headset;
    }

    static SessionHelloMessage helloFrom(const Uuid& id, bool wantsPairing = false,
                                         std::uint16_t version = 19, std::uint16_t minimum = 19) {
        return SessionHelloMessage{id, "Vision", wantsPairing, version, minimum};
    }

    // The next message from the host, which must be of this case.
    template <Case C>
    auto expect(Headset& headset) {
        auto message = receive(headset);
        EXPECT_TRUE(message.has_value()) << "nothing sent";
        using Payload = std::decay_t<decltype(*message->template get<C>())>;
        if (!message || message->messageCase() != C) {
            ADD_FAILURE() << "unexpected message case " << (message ? int(message->messageCase()) : -1);
            return Payload{};
        }
        return Payload(*message->template get<C>());
    }

    // Sends hello and returns the nonce of the host's challenge.
    Bytes challenge(Headset& headset, const Uuid& id) {
        send(headset, StreamControlMessage::make<Case::hello>(helloFrom(id)));
        expect<Case::hello>(headset);
        return expect<Case::authenticate>(headset).serverNonce;
    }

    AuthenticationResponseMessage responseFor(const KnownHeadset& headset, const Bytes& nonce) {
        AuthenticationResponseMessage response;
        response.peerID = headset.id;
        response.displayName = "New name";
        response.clientSignature = *headset.key.signature(SessionAuthentication::signedPayload(
            SessionAuthentication::Side::client, headset.id, hostID(), nonce));
        response.clientNonce = Bytes(32, 0x5A);
        return response;
    }

    Bytes certificateSignature(const KnownHeadset& headset, const Bytes& certificate) {
        return *headset.key.signature(
            SessionAuthentication::certificateSignaturePayload(headset.id, hostID(), certificate));
    }

    std::optional<Prompt> lastPrompt() {
        auto prompts = taken(broadcaster->pairingPrompts());
        EXPECT_FALSE(prompts.empty()) << "no prompt published";
        return prompts.empty() ? std::nullopt : prompts.back();
    }
};

// Hello.

TEST_F(AdmissionTest, HelloAnswersWithOwnHelloThenChecksVersionsAndPairing) {
    struct Row {
        std::uint16_t version;
        std::uint16_t minimum;
        bool known;
        bool wantsPairing;
        std::optional<Case> answer;  // after the host's hello
        bool ends;
    };
    const std::vector<Row> rows{
        {19, 19, false, false, Case::pairingRejected, false},  // unpaired: told so, session kept
        {25, 19, true, false, Case::authenticate, false},      // newer headset, compatible
        {18, 18, true, false, Case::pairingRejected, true},    // too old
        {19, 20, true, false, Case::pairingRejected, true},    // needs a newer host
        {19, 19, false, true, std::nullopt, false},            // waits for pairingStart
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.version << "/" << row.minimum << " known " << row.known);
        const Uuid id = row.known ? addKnownHeadset(headsetCertificate).id : Uuid::random();
        auto headset = connectWith(headsetCertificate);
        send(headset, StreamControlMessage::make<Case::hello>(
                          helloFrom(id, row.wantsPairing, row.version, row.minimum)));
        const auto own = expect<Case::hello>(headset);
        EXPECT_EQ(own.peerID, hostID());
        EXPECT_EQ(own.displayName, "Studio Host");
        EXPECT_FALSE(own.wantsPairing);
        EXPECT_EQ(own.controlProtocolVersion, 19);
        EXPECT_EQ(own.minimumCompatibleControlProtocolVersion, 19);
        auto answer = receive(headset);
        if (!row.answer) {
            EXPECT_FALSE(answer.has_value());
        } else {
            ASSERT_TRUE(answer.has_value());
            EXPECT_EQ(answer->messageCase(), *row.answer);
            if (*row.answer == Case::pairingRejected) {
                EXPECT_EQ(
                    *answer->get<Case::pairingRejected>(),
                    row.ends ? PairingFailureReason::incompatibleVersion : PairingFailureReason::unpaired);
            } else {
                EXPECT_EQ(answer->get<Case::authenticate>()->serverNonce.size(), 32u);
            }
        }
        EXPECT_EQ(isClosed(headset), row.ends);
        run(broadcaster->stop());
        startListening();
    }
}

// Reconnect authentication.

TEST_F(AdmissionTest, AcceptedReconnectSignsStoresRotatesAndStartsTheSession) {
    auto known = addKnownHeadset(headsetCertificate);
    Access::setCapturedDisplayPointSize(*broadcaster, 1440.5, 899.4);
    const Bytes hostCertificate = *Access::tlsCertificateDER(*broadcaster);
    auto headset = connectWith(headsetCertificate);
    const Bytes nonce = challenge(headset, known.id);
    const auto response = responseFor(known, nonce);
    send(headset, StreamControlMessage::make<Case::authenticationResponse>(response));

    const auto result = expect<Case::authenticationResult>(headset);
    EXPECT_TRUE(result.accepted);
    EXPECT_FALSE(result.reason.has_value());
    EXPECT_EQ(result.peerID, hostID());
    EXPECT_EQ(result.displayName, "Studio Host");
    ASSERT_TRUE(result.serverSignature && result.certificateSignature);
    EXPECT_TRUE(hostKey().isValidSignature(
        *result.serverSignature,
        SessionAuthentication::signedPayload(SessionAuthentication::Side::server, hostID(), known.id,
                                             response.clientNonce)));
    EXPECT_TRUE(hostKey().isValidSignature(
        *result.certificateSignature,
        SessionAuthentication::certificateSignaturePayload(hostID(), known.id, hostCertificate)));

    const auto rotation = expect<Case::certificateRotation>(headset);
    EXPECT_EQ(rotation.peerID, hostID());
    EXPECT_NE(rotation.certificateDER, hostCertificate);
    EXPECT_EQ(Access::tlsCertificateDER(*broadcaster), rotation.certificateDER);
    EXPECT_TRUE(hostKey().isValidSignature(
        rotation.certificateSignature,
        SessionAuthentication::certificateSignaturePayload(hostID(), known.id, rotation.certificateDER)));

    const auto geometry = expect<Case::displayGeometry>(headset);
    EXPECT_EQ(geometry.pointWidth, 1441);
    EXPECT_EQ(geometry.pointHeight, 899);
    EXPECT_FALSE(receive(headset).has_value()) << "no video format before one was announced";

    EXPECT_TRUE(Access::isAuthorized(*broadcaster));
    const auto record = store().peer(known.id);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->name, "New name");
    EXPECT_TRUE(record->lastSeenAt.has_value());

    // The listener is down and the advertisement withdrawn while the session lasts; the next listener run,
    // after the session, presents the rotated certificate.
    EXPECT_FALSE(Access::isListenerReady(*broadcaster));
    EXPECT_TRUE(discovery.advertisers().empty());
    const int listens = transport.listenCount();
    headset.connection->close(0);
    drain();
    EXPECT_FALSE(Access::hasConnection(*broadcaster));
    EXPECT_EQ(transport.listenCount(), listens + 1);
    EXPECT_EQ(listener()->parameters().identity.certificateDER, rotation.certificateDER);
}

TEST_F(AdmissionTest, EveryFailedReconnectCheckIsRefusedAsIdentityChanged) {
    enum class Fault {
        noNonce,
        unknownPeer,
        otherHeadsetsHello,
        badStoredKey,
        malformedSignature,
        wrongSignature
    };
    for (Fault fault : {Fault::noNonce, Fault::unknownPeer, Fault::otherHeadsetsHello, Fault::badStoredKey,
                        Fault::malformedSignature, Fault::wrongSignature}) {
        SCOPED_TRACE(int(fault));
        auto known = addKnownHeadset(
            headsetCertificate, fault == Fault::badStoredKey ? std::optional(Bytes(64, 0)) : std::nullopt);
        auto other = addKnownHeadset(headsetCertificate);
        const auto before = store().peer(known.id);
        auto headset = connectWith(headsetCertificate);
        Bytes nonce(32, 1);
        if (fault == Fault::noNonce) {
            send(headset, StreamControlMessage::make<Case::hello>(helloFrom(known.id, true)));
            expect<Case::hello>(headset);
        } else {
            nonce = challenge(headset, fault == Fault::otherHeadsetsHello ? other.id : known.id);
        }
        auto response = responseFor(known, nonce);
        if (fault == Fault::unknownPeer) {
            KnownHeadset stranger;
            response = responseFor(stranger, nonce);
        } else if (fault == Fault::malformedSignature) {
            response.clientSignature = Bytes{0x30, 0x01, 0x00};
        } else if (fault == Fault::wrongSignature) {
            response.clientSignature = *other.key.signature(SessionAuthentication::signedPayload(
                SessionAuthentication::Side::client, known.id, hostID(), nonce));
        }
        send(headset, StreamControlMessage::make<Case::authenticationResponse>(response));

        const auto result = expect<Case::authenticationResult>(headset);
        EXPECT_FALSE(result.accepted);
        EXPECT_EQ(result.reason, PairingFailureReason::identityChanged);
        EXPECT_FALSE(result.serverSignature || result.certificateSignature || result.peerID ||
                     result.displayName);
        EXPECT_TRUE(isClosed(headset));
        EXPECT_FALSE(Access::isAuthorized(*broadcaster));
        EXPECT_EQ(store().peer(known.id), before) << "a refused reconnect changes no record";
        startListening();
    }
}

TEST_F(AdmissionTest, PresentedCertificateIsCheckedAgainstTheStoredOne) {
    const Bytes stored{0x30, 0x82, 0x02};
    enum class Proof { none, valid, overOtherCertificate };
    struct Row {
        std::optional<Bytes> storedCertificate;
        Proof proof;
        bool accepted;
        std::optional<Bytes> afterwards;
    };
    const std::vector<Row> rows{
        {std::nullopt, Proof::none, true, headsetCertificate},  // first certificate adopted
        {headsetCertificate, Proof::none, true, headsetCertificate},
        {stored, Proof::none, false, stored},
        {stored, Proof::valid, true, headsetCertificate},
        {stored, Proof::overOtherCertificate, false, stored},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "stored " << row.storedCertificate.has_value() << " proof " << int(row.proof));
        auto known = addKnownHeadset(row.storedCertificate);
        auto headset = connectWith(headsetCertificate);
        auto response = responseFor(known, challenge(headset, known.id));
        if (row.proof == Proof::valid) {
            response.certificateSignature = certificateSignature(known, headsetCertificate);
        } else if (row.proof == Proof::overOtherCertificate) {
            response.certificateSignature = certificateSignature(known, stored);
        }
        send(headset, StreamControlMessage::make<Case::authenticationResponse>(response));
        const auto result = expect<Case::authenticationResult>(headset);
        EXPECT_EQ(result.accepted, row.accepted);
        EXPECT_EQ(store().peer(known.id)->tlsCertificate, row.afterwards);
        run(broadcaster->stop());
        startListening();
    }
}

TEST_F(AdmissionTest, SecondResponseAfterAcceptanceIsRefusedBecauseTheNonceIsSpent) {
    auto known = addKnownHeadset(headsetCertificate);
    auto headset = connectWith(headsetCertificate);
    const auto response = responseFor(known, challenge(headset, known.id));
    send(headset, StreamControlMessage::make<Case::authenticationResponse>(response));
    EXPECT_TRUE(expect<Case::authenticationResult>(headset).accepted);
    expect<Case::certificateRotation>(headset);
    expect<Case::displayGeometry>(headset);
    send(headset, StreamControlMessage::make<Case::authenticationResponse>(response));
    EXPECT_EQ(expect<Case::authenticationResult>(headset).reason, PairingFailureReason::identityChanged);
    EXPECT_TRUE(isClosed(headset));
}

// Headset rotation.

TEST_F(AdmissionTest, HeadsetRotationIsStoredOnlyWhenAuthorisedAndSigned) {
    const Bytes next{0x30, 0x82, 0x09};
    struct Row {
        bool authorise;
        bool signedByHeadset;
        bool namesSessionHeadset;
        bool stored;
        bool ends;
    };
    const std::vector<Row> rows{
        {true, true, true, true, false},
        {false, true, true, false, false},  // before authorisation: dropped
        {true, false, true, false, true},   // signed by another key
        {true, true, false, false, true},   // another headset's identifier
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.authorise << row.signedByHeadset << row.namesSessionHeadset);
        auto known = addKnownHeadset(headsetCertificate);
        auto other = addKnownHeadset(headsetCertificate);
        auto headset = connectWith(headsetCertificate);
        const auto response = responseFor(known, challenge(headset, known.id));
        if (row.authorise) {
            send(headset, StreamControlMessage::make<Case::authenticationResponse>(response));
            expect<Case::authenticationResult>(headset);
            expect<Case::certificateRotation>(headset);
            expect<Case::displayGeometry>(headset);
        }
        const auto& signer = row.signedByHeadset ? known : other;
        const auto& named = row.namesSessionHeadset ? known : other;
        CertificateRotationMessage rotation{
            named.id, next,
            *signer.key.signature(
                SessionAuthentication::certificateSignaturePayload(named.id, hostID(), next))};
        if (!row.signedByHeadset) {
            rotation.certificateSignature = certificateSignature(other, next);
        }
        send(headset, StreamControlMessage::make<Case::certificateRotation>(rotation));
        EXPECT_EQ(store().peer(known.id)->tlsCertificate == next, row.stored);
        EXPECT_EQ(store().peer(other.id)->tlsCertificate, headsetCertificate);
        EXPECT_EQ(isClosed(headset), row.ends);
        run(broadcaster->stop());
        startListening();
        if (row.stored) {
            // The new certificate then passes a reconnect without a certificate signature.
            auto again = connectWith(next);
            send(again, StreamControlMessage::make<Case::authenticationResponse>(
                            responseFor(known, challenge(again, known.id))));
            EXPECT_TRUE(expect<Case::authenticationResult>(again).accepted);
            run(broadcaster->stop());
            startListening();
        }
    }
}

// Authorised session start.

TEST_F(AdmissionTest, KnownVideoFormatIsRepeatedWithAKeyFrameAtAuthorisation) {
    auto known = addKnownHeadset(headsetCertificate);
    auto headset = connectWith(headsetCertificate);
    const auto response = responseFor(known, challenge(headset, known.id));
    VideoFormatDescriptionMessage format;
    format.width = 2880;
    format.height = 1800;
    Access::lastFormatMessage(*broadcaster) = format;
    Access::forceNextKeyFrame(*broadcaster) = false;
    send(headset, StreamControlMessage::make<Case::authenticationResponse>(response));
    expect<Case::authenticationResult>(headset);
    expect<Case::certificateRotation>(headset);
    expect<Case::displayGeometry>(headset);
    EXPECT_EQ(expect<Case::videoFormat>(headset).width, 2880);
    EXPECT_TRUE(Access::forceNextKeyFrame(*broadcaster));
}

// Pairing.

class PairingTest : public AdmissionTest {
protected:
    void SetUp() override {
        AdmissionTest::SetUp();
        headset = connectWith(headsetCertificate);
    }

    // Hello and start; the challenge taken by the headset.
    void open(std::optional<Bytes> storedKey = {}) {
        identity = LocalDeviceIdentity{Uuid::random(), "Vision"};
        if (storedKey) {
            store().upsert(PairedPeerRecord{identity.id, "Vision", *storedKey, std::nullopt, std::nullopt});
        }
        client =
            std::make_unique<ClientPairingExchange>(identity, key, headsetCertificate, hostID(), Date::now());
        send(headset, StreamControlMessage::make<Case::hello>(client->hello()));
        expect<Case::hello>(headset);
        send(headset, StreamControlMessage::make<Case::pairingStart>(client->start()));
    }

    void openAndTakeChallenge() {
        open();
        const auto challenge = expect<Case::pairingChallenge>(headset);
        ASSERT_TRUE(client->receiveChallenge(challenge, *Access::tlsCertificateDER(*broadcaster)));
    }

    void openRound(const std::string& code = "123456") {
        auto round = client->openRound(code);
        ASSERT_TRUE(round.has_value());
        send(headset, StreamControlMessage::make<Case::pairingClientChallenge>(*round));
    }

    // The user types `typed`; the headset answers the host's round. True when the round matched.
    bool runRound(const std::string& typed) {
        run(broadcaster->submitPairingCode(typed));
        const auto serverChallenge = expect<Case::pairingServerChallenge>(headset);
        auto response = client->receiveServerChallenge(serverChallenge);
        EXPECT_TRUE(response.has_value());
        send(headset, StreamControlMessage::make<Case::pairingClientResponse>(*response));
        auto reply = client->receiveServerConfirmation(expect<Case::pairingServerConfirmation>(headset));
        EXPECT_TRUE(reply.has_value());
        if (auto* rejected = std::get_if<PairingRoundRejectedMessage>(&*reply)) {
            send(headset, StreamControlMessage::make<Case::pairingRoundRejected>(*rejected));
            return false;
        }
        send(headset, StreamControlMessage::make<Case::pairingClientConfirmation>(
                          std::get<PairingClientConfirmationMessage>(*reply)));
        return true;
    }

    Headset headset;
    LocalDeviceIdentity identity;
    P256SigningKey key = P256SigningKey::generate();
    std::unique_ptr<ClientPairingExchange> client;
};

TEST_F(PairingTest, RightCodeAfterAWrongOnePairsAuthorisesAndRotates) {
    openAndTakeChallenge();
    openRound();
    auto prompt = lastPrompt();
    ASSERT_TRUE(prompt.has_value());
    EXPECT_EQ(prompt->id, client->start().attemptID);
    EXPECT_EQ(prompt->peerID, identity.id);
    EXPECT_EQ(prompt->peerName, "Vision");
    EXPECT_EQ(prompt->remainingAttempts, 3);
    EXPECT_FALSE(prompt->isExpired || prompt->isVerifying);

    // Codes that are not six digits change nothing.
    for (const char* code : {"12345", "1234567", "12a456"}) {
        run(broadcaster->submitPairingCode(code));
        EXPECT_FALSE(receive(headset).has_value()) << code;
    }
    EXPECT_EQ(broadcaster->pairingPrompts().bufferedCount(), 0u);

    EXPECT_FALSE(runRound("654321"));
    EXPECT_FALSE(isClosed(headset));
    openRound();
    prompt = lastPrompt();
    ASSERT_TRUE(prompt.has_value());
    EXPECT_EQ(prompt->remainingAttempts, 2);
    EXPECT_FALSE(prompt->isVerifying);

    EXPECT_TRUE(runRound("123456"));
    EXPECT_TRUE(client->receiveAcceptance(expect<Case::pairingAccepted>(headset)));
    const auto rotation = expect<Case::certificateRotation>(headset);
    EXPECT_EQ(Access::tlsCertificateDER(*broadcaster), rotation.certificateDER);
    expect<Case::displayGeometry>(headset);

    EXPECT_TRUE(Access::isAuthorized(*broadcaster));
    EXPECT_FALSE(Access::hasPairingAttempt(*broadcaster));
    EXPECT_FALSE(lastPrompt().has_value());
    const auto record = store().peer(identity.id);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->signingPublicKey, key.publicKey().rawRepresentation());
    EXPECT_EQ(record->tlsCertificate, headsetCertificate);
    EXPECT_TRUE(discovery.advertisers().empty());

    // The set-up time-out runs again: a paired headset that never reports ready is dropped.
    clock.advance(std::chrono::seconds(11));
    drain();
    EXPECT_TRUE(isClosed(headset));
}

TEST_F(PairingTest, ThirdWrongCodeEndsWithTooManyAttempts) {
    openAndTakeChallenge();
    for (int round = 0; round < 3; ++round) {
        openRound();
        EXPECT_FALSE(runRound("000000"));
    }
    EXPECT_EQ(expect<Case::pairingRejected>(headset), PairingFailureReason::tooManyAttempts);
    EXPECT_TRUE(isClosed(headset));
    EXPECT_FALSE(store().peer(identity.id).has_value());
}

TEST_F(PairingTest, ExpiryKeepsTheExpiredPromptAfterTheSessionEnds) {
    openAndTakeChallenge();
    openRound();
    lastPrompt();
    clock.advance(std::chrono::seconds(59));
    drain();
    EXPECT_FALSE(isClosed(headset));
    clock.advance(std::chrono::seconds(1));
    drain();
    EXPECT_EQ(expect<Case::pairingRejected>(headset), PairingFailureReason::expired);
    EXPECT_TRUE(isClosed(headset));
    const auto prompts = taken(broadcaster->pairingPrompts());
    ASSERT_FALSE(prompts.empty());
    ASSERT_TRUE(prompts.back().has_value());
    EXPECT_TRUE(prompts.back()->isExpired);
    EXPECT_FALSE(store().peer(identity.id).has_value());
}

TEST_F(PairingTest, CancelWithAnOpenAttemptEndsTheSession) {
    openAndTakeChallenge();
    openRound();
    run(broadcaster->cancelPairing());
    drain();
    EXPECT_EQ(expect<Case::pairingRejected>(headset), PairingFailureReason::canceled);
    EXPECT_TRUE(isClosed(headset));
    EXPECT_FALSE(lastPrompt().has_value());
}

TEST_F(PairingTest, DismissingAnExpiredPromptLeavesTheNextSessionAlone) {
    openAndTakeChallenge();
    openRound();
    clock.advance(std::chrono::seconds(60));
    drain();
    ASSERT_TRUE(isClosed(headset));
    // A paired headset reconnects while the expired prompt is still on screen.
    auto known = addKnownHeadset(headsetCertificate);
    auto next = connectWith(headsetCertificate);
    send(next, StreamControlMessage::make<Case::authenticationResponse>(
                   responseFor(known, challenge(next, known.id))));
    EXPECT_TRUE(expect<Case::authenticationResult>(next).accepted);
    taken(broadcaster->pairingPrompts());

    run(broadcaster->cancelPairing());
    drain();
    EXPECT_FALSE(lastPrompt().has_value());
    EXPECT_FALSE(isClosed(next));
    EXPECT_TRUE(Access::isAuthorized(*broadcaster));
}

TEST_F(PairingTest, RefusedStartsAndSecondAttempt) {
    // A second start in the same session is refused.
    openAndTakeChallenge();
    send(headset, StreamControlMessage::make<Case::pairingStart>(client->start()));
    EXPECT_EQ(expect<Case::pairingRejected>(headset), PairingFailureReason::failed);
    EXPECT_TRUE(isClosed(headset));

    // A known headset presenting another signing key.
    startListening();
    headset = connectWith(headsetCertificate);
    open(P256SigningKey::generate().publicKey().rawRepresentation());
    EXPECT_EQ(expect<Case::pairingRejected>(headset), PairingFailureReason::identityChanged);
    EXPECT_TRUE(isClosed(headset));

    // A start without a hello asking to pair.
    startListening();
    headset = connectWith(headsetCertificate);
    send(headset, StreamControlMessage::make<Case::pairingStart>(client->start()));
    EXPECT_EQ(expect<Case::pairingRejected>(headset), PairingFailureReason::failed);
    EXPECT_TRUE(isClosed(headset));
}

TEST_F(PairingTest, ForgettingTheConnectedHeadsetEndsItsSession) {
    openAndTakeChallenge();
    const auto bystander = addKnownHeadset(std::nullopt);
    run(broadcaster->forgetPairedPeer(bystander.id));
    drain();
    EXPECT_FALSE(store().peer(bystander.id).has_value());
    EXPECT_FALSE(isClosed(headset));

    updates();
    run(broadcaster->forgetPairedPeer(identity.id));
    drain();
    EXPECT_TRUE(isClosed(headset));
    const auto states = updates();
    EXPECT_NE(std::find(states.begin(), states.end(), State::failed("Pairing removed")), states.end());
}

// The code's key derivation runs on a worker; the attempt may end before it returns.
class PairingOffActorTest : public PairingTest {
protected:
    void adjust(ScreenStreamBroadcasterDependencies& dependencies) override {
        dependencies.blockingWork = &pool;
    }

    // Submits the code without waiting; returns the flag set once the submission has finished.
    std::shared_ptr<bool> submitInBackground(const std::string& code) {
        auto done = std::make_shared<bool>(false);
        asio::co_spawn(context, broadcaster->submitPairingCode(code),
                       [done](std::exception_ptr) { *done = true; });
        return done;
    }

    bool runUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            context.restart();
            context.run_one_for(std::chrono::milliseconds(5));
        }
        drain();
        return true;
    }

    // Destroyed before the fixture's context, which its callers resume on.
    BlockingWorkPool pool;
};

TEST_F(PairingOffActorTest, CancelWhileTheCodeIsCheckedDropsTheLateResult) {
    openAndTakeChallenge();
    openRound();
    auto done = submitInBackground("123456");
    run(broadcaster->cancelPairing());
    drain();
    EXPECT_EQ(expect<Case::pairingRejected>(headset), PairingFailureReason::canceled);
    ASSERT_TRUE(runUntil([&] { return *done; }));
    EXPECT_FALSE(receive(headset).has_value()) << "no server challenge for a cancelled attempt";
    EXPECT_FALSE(lastPrompt().has_value());

    // The next attempt takes its code as usual.
    headset = connectWith(headsetCertificate);
    openAndTakeChallenge();
    openRound();
    done = submitInBackground("123456");
    ASSERT_TRUE(runUntil([&] { return *done; }));
    expect<Case::pairingServerChallenge>(headset);
}

// Peer-store writes off the actor.

// The fixture's defaults behind a gate: while it is closed, writes wait on the worker that makes them, so
// a test can act while a write is in flight. Records the threads writes ran on.
class GatedDefaultsStore final : public DefaultsStore {
public:
    explicit GatedDefaultsStore(DefaultsStore& inner) : inner_(inner) {}

    std::optional<DefaultsValue> value(std::string_view key) const override { return inner_.value(key); }
    bool setValue(std::string_view key, DefaultsValue value) override {
        waitForGate();
        return inner_.setValue(key, std::move(value));
    }
    bool removeValue(std::string_view key) override {
        waitForGate();
        return inner_.removeValue(key);
    }

    void close() {
        std::lock_guard lock(mutex_);
        isOpen_ = false;
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            isOpen_ = true;
        }
        changed_.notify_all();
    }
    int waitingCount() const {
        std::lock_guard lock(mutex_);
        return waiting_;
    }
    std::vector<std::thread::id> writerThreads() const {
        std::lock_guard lock(mutex_);
        return writers_;
    }
    void forgetWriterThreads() {
        std::lock_guard lock(mutex_);
        writers_.clear();
    }

private:
    void waitForGate() {
        std::unique_lock lock(mutex_);
        writers_.push_back(std::this_thread::get_id());
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return isOpen_; });
        --waiting_;
    }

    DefaultsStore& inner_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool isOpen_ = true;
    int waiting_ = 0;
    std::vector<std::thread::id> writers_;
};

class PeerStoreOffActorTest : public AdmissionTest {
protected:
    void adjust(ScreenStreamBroadcasterDependencies& dependencies) override {
        dependencies.blockingWork = &pool;
        dependencies.defaults = &gated;
    }

    void TearDown() override {
        gated.open();
        AdmissionTest::TearDown();
    }

    // Turns the context until the condition holds (workers answer in their own time).
    bool runUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            context.restart();
            context.run_one_for(std::chrono::milliseconds(5));
        }
        drain();
        return true;
    }

    // The next message from the host, waiting for workers as long as needed.
    template <Case C>
    auto await(Headset& headset) {
        std::optional<StreamControlMessage> message;
        bool done = false;
        asio::co_spawn(context, ControlMessageFraming::readMessageData(*headset.control),
                       [&](std::exception_ptr error, Bytes data) {
                           if (!error) {
                               auto decoded = decodeJson<StreamControlMessage>(
                                   std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
                               if (decoded) {
                                   message = *decoded;
                               }
                           }
                           done = true;
                       });
        EXPECT_TRUE(runUntil([&] { return done; }));
        using Payload = std::decay_t<decltype(*message->template get<C>())>;
        if (!message || message->messageCase() != C) {
            ADD_FAILURE() << "unexpected message case " << (message ? int(message->messageCase()) : -1);
            return Payload{};
        }
        return Payload(*message->template get<C>());
    }

    // Sends hello and the signed response, with writes held at the gate once the challenge is out.
    void respondWithGateClosed(Headset& headset, const KnownHeadset& known) {
        send(headset, StreamControlMessage::make<Case::hello>(helloFrom(known.id)));
        expect<Case::hello>(headset);
        const Bytes nonce = expect<Case::authenticate>(headset).serverNonce;
        gated.close();
        send(headset, StreamControlMessage::make<Case::authenticationResponse>(responseFor(known, nonce)));
        ASSERT_TRUE(runUntil([&] { return gated.waitingCount() == 1; }));
    }

    GatedDefaultsStore gated{defaults};
    // Destroyed before the fixture's context, which its callers resume on.
    BlockingWorkPool pool;
};

TEST_F(PeerStoreOffActorTest, AcceptedReconnectAndRotationAreStoredByWorkers) {
    // The host's own identifier was stored at start-up, in place.
    gated.forgetWriterThreads();
    auto known = addKnownHeadset(std::nullopt);
    auto headset = connectWith(headsetCertificate);
    send(headset, StreamControlMessage::make<Case::authenticationResponse>(
                      responseFor(known, challenge(headset, known.id))));
    EXPECT_TRUE(await<Case::authenticationResult>(headset).accepted);
    await<Case::certificateRotation>(headset);
    await<Case::displayGeometry>(headset);
    EXPECT_TRUE(Access::isAuthorized(*broadcaster));
    auto record = store().peer(known.id);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->name, "New name");
    EXPECT_EQ(record->tlsCertificate, headsetCertificate);

    // The headset's own rotation.
    const Bytes rotated{0x30, 0x82, 0x02};
    send(headset, StreamControlMessage::make<Case::certificateRotation>(
                      CertificateRotationMessage{known.id, rotated, certificateSignature(known, rotated)}));
    ASSERT_TRUE(runUntil([&] { return store().peer(known.id)->tlsCertificate == rotated; }));
    EXPECT_FALSE(isClosed(headset));

    const auto writers = gated.writerThreads();
    ASSERT_FALSE(writers.empty());
    for (const auto& writer : writers) {
        EXPECT_NE(writer, std::this_thread::get_id()) << "a peer-store write ran on the actor";
    }
}

TEST_F(PeerStoreOffActorTest, SessionEndedWhileTheRecordIsSavedIsNotAuthorised) {
    auto known = addKnownHeadset(headsetCertificate);
    auto headset = connectWith(headsetCertificate);
    respondWithGateClosed(headset, known);
    auto& changes = broadcaster->pairedPeerChanges();
    while (changes.bufferedCount() > 0) {
        run(changes.next());
    }
    ScopedLogCapture logs;
    headset.connection->close(0);
    drain();
    ASSERT_FALSE(Access::hasConnection(*broadcaster));

    gated.open();
    ASSERT_TRUE(runUntil([&] { return store().peer(known.id)->name == "New name"; }));
    EXPECT_FALSE(Access::isAuthorized(*broadcaster));
    // The write that went on after its session ended is no failure, and it is announced once it ended.
    ASSERT_TRUE(runUntil([&] { return changes.bufferedCount() == 1; }));
    for (const auto& line : logs.messages("ScreenStreamBroadcaster")) {
        EXPECT_FALSE(line.starts_with("Could not save the paired headsets")) << line;
    }
    // Listening resumed for the next headset and stays up: the late result starts no session.
    ASSERT_NE(listener(), nullptr);
    EXPECT_FALSE(listener()->isStopped());
    EXPECT_NE(listener()->connect(headsetCertificate), nullptr);
}

TEST_F(PeerStoreOffActorTest, ForgettingWhileTheRecordIsSavedLeavesItForgotten) {
    auto known = addKnownHeadset(headsetCertificate);
    auto headset = connectWith(headsetCertificate);
    ScopedLogCapture logs;
    respondWithGateClosed(headset, known);

    // The user forgets the headset while its reconnect is being recorded.
    bool forgotten = false;
    asio::co_spawn(context, broadcaster->forgetPairedPeer(known.id),
                   [&](std::exception_ptr) { forgotten = true; });
    drain();
    EXPECT_FALSE(forgotten);
    gated.open();
    ASSERT_TRUE(runUntil([&] { return forgotten && isClosed(headset); }));
    EXPECT_FALSE(store().peer(known.id).has_value());
    const auto states = updates();
    EXPECT_NE(std::find(states.begin(), states.end(), State::failed("Pairing removed")), states.end());
    // Work that went on after its session ended (the record's save, the identity's rotation) is no failure.
    for (const auto& line : logs.messages("ScreenStreamBroadcaster")) {
        EXPECT_FALSE(line.starts_with("Could not")) << line;
    }
    // Work that went on after its session ended (the record's save, the identity's rotation) is no failure.
    for (const auto& line : logs.messages("ScreenStreamBroadcaster")) {
        EXPECT_FALSE(line.starts_with("Could not")) << line;
    }
}

TEST_F(PeerStoreOffActorTest, PairingAcceptanceIsStoredByAWorker) {
    auto headset = connectWith(headsetCertificate);
    const LocalDeviceIdentity identity{Uuid::random(), "Vision"};
    const auto key = P256SigningKey::generate();
    ClientPairingExchange client(identity, key, headsetCertificate, hostID(), Date::now());
    send(headset, StreamControlMessage::make<Case::hello>(client.hello()));
    expect<Case::hello>(headset);
    send(headset, StreamControlMessage::make<Case::pairingStart>(client.start()));
    ASSERT_TRUE(client.receiveChallenge(expect<Case::pairingChallenge>(headset),
                                        *Access::tlsCertificateDER(*broadcaster)));
    auto round = client.openRound("123456");
    ASSERT_TRUE(round.has_value());
    send(headset, StreamControlMessage::make<Case::pairingClientChallenge>(*round));
    lastPrompt();
    bool submitted = false;
    asio::co_spawn(context, broadcaster->submitPairingCode("123456"),
                   [&](std::exception_ptr) { submitted = true; });
    auto response = client.receiveServerChallenge(await<Case::pairingServerChallenge>(headset));
    ASSERT_TRUE(response.has_value() && submitted);
    send(headset, StreamControlMessage::make<Case::pairingClientResponse>(*response));
    auto reply = client.receiveServerConfirmation(await<Case::pairingServerConfirmation>(headset));
    ASSERT_TRUE(reply && std::holds_alternative<PairingClientConfirmationMessage>(*reply));

    gated.close();
    send(headset, StreamControlMessage::make<Case::pairingClientConfirmation>(
                      std::get<PairingClientConfirmationMessage>(*reply)));
    EXPECT_TRUE(client.receiveAcceptance(await<Case::pairingAccepted>(headset)));
    ASSERT_TRUE(runUntil([&] { return gated.waitingCount() == 1; }));
    // Not authorised, and the prompt still up, until the record is saved.
    EXPECT_FALSE(Access::isAuthorized(*broadcaster));
    EXPECT_TRUE(Access::hasPairingAttempt(*broadcaster));

    gated.open();
    await<Case::certificateRotation>(headset);
    await<Case::displayGeometry>(headset);
    EXPECT_TRUE(Access::isAuthorized(*broadcaster));
    EXPECT_FALSE(lastPrompt().has_value());
    ASSERT_TRUE(store().peer(identity.id).has_value());
    EXPECT_EQ(store().peer(identity.id)->signingPublicKey, key.publicKey().rawRepresentation());
}

}  // namespace
}  // namespace quillbridge
