// Admission over the real QUIC transport on loopback: a headset with a real client certificate pairs with
// the code typed on the host (its key derivation on a blocking-work worker), disconnects and comes back
// with reconnect authentication, meeting the rotated host certificate; while its session is authorised no
// other headset gets in. Service discovery is faked (nothing multicasts); everything else is real, on the
// steady clock.

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <variant>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "core/BlockingWorkPool.hpp"
#include "core/SteadyClock.hpp"
#include "pairing/P256SigningKey.hpp"
#include "pairing/PairedPeerStore.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/QuicError.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/quic/LoopbackBroadcasterTest.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "support/pairing/ClientPairingExchange.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/session/LoopbackBroadcasterServices.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

class AdmissionOverQuicTest : public LoopbackBroadcasterTest {
protected:
    struct Headset {
        std::shared_ptr<QuicConnection> connection;
        std::shared_ptr<QuicStream> control;
        // The host's port it connected to.
        std::uint16_t port = 0;
    };

    void SetUp() override {
        auto dependencies = loopbackDependencies(context.get_executor());
        dependencies.blockingWork = pool.get();
        startBroadcaster(std::move(dependencies));
    }

    void TearDown() override {
        stopBroadcaster();
        pool.reset();
    }

    // The port of the published advertisement, once there is one.
    std::optional<std::uint16_t> advertisedPort() {
        for (auto* advertiser : discovery.advertisers()) {
            if (advertiser->isPublished()) {
                return advertiser->advertisement()->port;
            }
        }
        return std::nullopt;
    }

    Headset connect(QuicTestClient& client) {
        std::optional<std::uint16_t> port;
        EXPECT_TRUE(runUntil([&] { return (port = advertisedPort()).has_value(); }));
        Headset headset;
        headset.port = port.value_or(0);
        headset.connection = run(client.connect(headset.port));
        headset.control = run(headset.connection->openStream(QuicStreamDirectionality::bidirectional));
        return headset;
    }

    void send(Headset& headset, const StreamControlMessage& message) {
        run(headset.control->send(ControlMessageFraming::encode(message), false));
    }

    template <Case C>
    auto expect(Headset& headset) {
        auto decoded = readControlMessage(*headset.control);
        if (!decoded || decoded->messageCase() != C) {
            throw std::runtime_error("unexpected control message");
        }
        return *decoded->template get<C>();
    }

    // Pairs the headset with the code typed on the host; returns the certificate the host announced in its
    // rotation. The session is authorised when this returns.
    Bytes pair(Headset& headset, QuicTestClient& client) {
        ClientPairingExchange pairing(identity, key, client.identity().certificateDER, hostID(), Date::now());
        send(headset, StreamControlMessage::make<Case::hello>(pairing.hello()));
        expect<Case::hello>(headset);
        send(headset, StreamControlMessage::make<Case::pairingStart>(pairing.start()));
        EXPECT_TRUE(pairing.receiveChallenge(expect<Case::pairingChallenge>(headset),
                                             headset.connection->peerCertificateDER()));
        auto round = pairing.openRound("246810");
        EXPECT_TRUE(round.has_value());
        send(headset, StreamControlMessage::make<Case::pairingClientChallenge>(round.value()));
        std::optional<ScreenStreamBroadcaster::PairingPrompt> prompt;
        EXPECT_TRUE(runUntil([&] {
            while (broadcaster->pairingPrompts().bufferedCount() > 0) {
                if (auto value = run(broadcaster->pairingPrompts().next()); value && *value) {
                    prompt = *value;
                }
            }
            return prompt.has_value();
        }));
        EXPECT_EQ(prompt.value().peerName, "Loopback Headset");

        run(broadcaster->submitPairingCode("246810"));
        auto response = pairing.receiveServerChallenge(expect<Case::pairingServerChallenge>(headset));
        EXPECT_TRUE(response.has_value());
        send(headset, StreamControlMessage::make<Case::pairingClientResponse>(response.value()));
        auto reply = pairing.receiveServerConfirmation(expect<Case::pairingServerConfirmation>(headset));
        if (!reply || !std::holds_alternative<PairingClientConfirmationMessage>(*reply)) {
            throw std::runtime_error("the host's confirmation did not match");
        }
        send(headset, StreamControlMessage::make<Case::pairingClientConfirmation>(
                          std::get<PairingClientConfirmationMessage>(*reply)));
        EXPECT_TRUE(pairing.receiveAcceptance(expect<Case::pairingAccepted>(headset)));
        Bytes rotated = expect<Case::certificateRotation>(headset).certificateDER;
        expect<Case::displayGeometry>(headset);
        return rotated;
    }

    // Reconnect authentication of the paired headset; returns the host's result.
    AuthenticationResultMessage authenticate(Headset& headset, const Bytes& clientNonce) {
        send(headset, StreamControlMessage::make<Case::hello>(
                          SessionHelloMessage{identity.id, identity.name, false, 19, 19}));
        expect<Case::hello>(headset);
        const Bytes nonce = expect<Case::authenticate>(headset).serverNonce;
        AuthenticationResponseMessage authentication;
        authentication.peerID = identity.id;
        authentication.displayName = identity.name;
        authentication.clientSignature = *key.signature(SessionAuthentication::signedPayload(
            SessionAuthentication::Side::client, identity.id, hostID(), nonce));
        authentication.clientNonce = clientNonce;
        send(headset, StreamControlMessage::make<Case::authenticationResponse>(authentication));
        return expect<Case::authenticationResult>(headset);
    }

    void disconnect(Headset& headset) {
        send(headset, StreamControlMessage::make<Case::sessionDisconnectRequest>());
        expect<Case::sessionDisconnectAcknowledged>(headset);
    }

    // A clock synchronisation round trip: the control conversation is alive.
    void expectAnswers(Headset& headset, std::uint32_t sequenceNumber) {
        send(headset, StreamControlMessage::make<Case::clockSynchronizationRequest>(
                          ClockSynchronizationRequestMessage{sequenceNumber, 1234}));
        const auto response = expect<Case::clockSynchronizationResponse>(headset);
        EXPECT_EQ(response.sequenceNumber, sequenceNumber);
        EXPECT_EQ(headset.connection->state().kind, QuicConnectionState::Kind::ready);
    }

    // A second headset's attempt on the port the authorised session came in on.
    void expectRefused(std::uint16_t port) {
        QuicTestClient intruder;
        try {
            run(intruder.connect(port));
            ADD_FAILURE() << "a second headset connected during an authorised session";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), QuicError::handshakeFailed) << error.what();
        }
    }

    Uuid hostID() const { return broadcaster->localPeerIdentity().id; }

    // Destroyed before the context its callers resume on.
    std::unique_ptr<BlockingWorkPool> pool = std::make_unique<BlockingWorkPool>();
    const LocalDeviceIdentity identity{Uuid::random(), "Loopback Headset"};
    const P256SigningKey key = P256SigningKey::generate();
};

TEST_F(AdmissionOverQuicTest, PairThenReconnectMeetingTheRotatedCertificate) {
    QuicTestClient client;
    Bytes rotatedCertificate;
    {
        auto headset = connect(client);
        rotatedCertificate = pair(headset, client);
        EXPECT_NE(rotatedCertificate, headset.connection->peerCertificateDER());
        // Authorised: the advertisement is withdrawn while the session lasts.
        EXPECT_TRUE(runUntil([&] { return !advertisedPort().has_value(); }));
        disconnect(headset);
    }

    // The next listener run presents the certificate last announced, and the headset authenticates.
    auto headset = connect(client);
    EXPECT_EQ(headset.connection->peerCertificateDER(), rotatedCertificate);
    const Bytes clientNonce(32, 7);
    const auto result = authenticate(headset, clientNonce);
    EXPECT_TRUE(result.accepted);
    ASSERT_TRUE(result.serverSignature.has_value());
    const auto hostKey = PairedPeerStore(defaults, secrets, PairingRole::mac).loadOrCreateSigningKey();
    ASSERT_TRUE(hostKey.has_value());
    EXPECT_TRUE(hostKey->publicKey().isValidSignature(
        *result.serverSignature, SessionAuthentication::signedPayload(SessionAuthentication::Side::server,
                                                                      hostID(), identity.id, clientNonce)));
    expect<Case::certificateRotation>(headset);
}

TEST_F(AdmissionOverQuicTest, AuthorisedSessionRefusesSecondHeadsetAndGoesOn) {
    QuicTestClient client;
    {
        auto headset = connect(client);
        pair(headset, client);
        expectRefused(headset.port);
        expectAnswers(headset, 1);
        disconnect(headset);
    }

    // The same after a reconnect authentication.
    auto headset = connect(client);
    ASSERT_TRUE(authenticate(headset, Bytes(32, 9)).accepted);
    expect<Case::certificateRotation>(headset);
    expect<Case::displayGeometry>(headset);
    expectRefused(headset.port);
    expectAnswers(headset, 2);
    disconnect(headset);
}

}  // namespace
}  // namespace quillbridge
