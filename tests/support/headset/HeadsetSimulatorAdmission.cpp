#include "support/headset/HeadsetSimulator.hpp"

#include "support/headset/HeadsetSimulatorSupport.hpp"

// Admission: hello, pairing, reconnect authentication and certificate rotation.

namespace quillbridge {

using namespace headset_simulator_detail;

asio::awaitable<SessionHelloMessage> HeadsetSimulator::hello(bool wantsPairing) {
    requireConnection();
    {
        auto message = StreamControlMessage::make<Case::hello>(
            SessionHelloMessage{identity_.id, identity_.name, wantsPairing, options_.controlProtocolVersion,
                                options_.minimumCompatibleControlProtocolVersion});
        co_await send(std::move(message));
    }
    co_return co_await receive<Case::hello>();
}

asio::awaitable<void> HeadsetSimulator::pair() {
    requireConnection();
    const SessionHelloMessage hostHello = co_await hello(true);
    ClientPairingExchange exchange(identity_, signingKey_, certificateDER(), hostHello.peerID, Date::now());
    {
        auto message = StreamControlMessage::make<Case::pairingStart>(exchange.start());
        co_await send(std::move(message));
    }
    const auto challenge = co_await receive<Case::pairingChallenge>();
    if (!exchange.receiveChallenge(challenge, connection_->peerCertificateDER())) {
        throw HeadsetSimulatorError("the host's pairing challenge does not check out");
    }
    for (;;) {
        const std::string code = options_.pairingCode.empty() ? randomPairingCode() : options_.pairingCode;
        const auto round = exchange.openRound(code);
        if (!round) {
            throw HeadsetSimulatorError("no pairing round could be opened");
        }
        {
            auto message = StreamControlMessage::make<Case::pairingClientChallenge>(*round);
            co_await send(std::move(message));
        }
        // The host's user now types the code the headset shows.
        shownPairingCode_ = code;
        notifyChange();
        std::optional<StreamControlMessage> serverChallenge;
        std::exception_ptr failure;
        try {
            serverChallenge = co_await receiveCase(Case::pairingServerChallenge, options_.pairingCodeTimeout);
        } catch (...) {
            failure = std::current_exception();
        }
        shownPairingCode_.reset();
        notifyChange();
        if (failure) {
            std::rethrow_exception(failure);
        }
        const auto response =
            exchange.receiveServerChallenge(*serverChallenge->get<Case::pairingServerChallenge>());
        if (!response) {
            throw HeadsetSimulatorError("the host's pairing server challenge does not check out");
        }
        {
            auto message = StreamControlMessage::make<Case::pairingClientResponse>(*response);
            co_await send(std::move(message));
        }
        const auto confirmation = co_await receive<Case::pairingServerConfirmation>();
        const auto reply = exchange.receiveServerConfirmation(confirmation);
        if (!reply) {
            throw HeadsetSimulatorError("the host's pairing confirmation is not signed as it should be");
        }
        if (const auto* rejected = std::get_if<PairingRoundRejectedMessage>(&*reply)) {
            // The codes differed: say so and start the next round with a new code.
            {
                auto message = StreamControlMessage::make<Case::pairingRoundRejected>(*rejected);
                co_await send(std::move(message));
            }
            continue;
        }
        {
            auto message = StreamControlMessage::make<Case::pairingClientConfirmation>(
                std::get<PairingClientConfirmationMessage>(*reply));
            co_await send(std::move(message));
        }
        break;
    }
    const auto accepted = co_await receive<Case::pairingAccepted>();
    if (!exchange.receiveAcceptance(accepted)) {
        throw HeadsetSimulatorError("the host's pairing acceptance does not check out");
    }
    pairedHost_ = PairedHost{accepted.peerID, accepted.displayName, accepted.signingPublicKey,
                             connection_->peerCertificateDER()};
    co_await followCertificateRotation();
}

asio::awaitable<void> HeadsetSimulator::authenticate() {
    requireConnection();
    if (!pairedHost_) {
        throw HeadsetSimulatorError("the headset is not paired");
    }
    const PairedHost host = *pairedHost_;
    const auto hostKey = P256PublicKey::fromRawRepresentation(host.signingPublicKey);
    if (!hostKey) {
        throw HeadsetSimulatorError("the remembered host signing key does not import");
    }
    const SessionHelloMessage hostHello = co_await hello(false);
    if (hostHello.peerID != host.peerID) {
        throw HeadsetSimulatorError("another host answered: " + hostHello.peerID.string());
    }
    const auto challenge = co_await receive<Case::authenticate>();
    AuthenticationResponseMessage response;
    response.peerID = identity_.id;
    response.displayName = identity_.name;
    const auto signature = signingKey_.signature(SessionAuthentication::signedPayload(
        SessionAuthentication::Side::client, identity_.id, host.peerID, challenge.serverNonce));
    if (!signature) {
        throw HeadsetSimulatorError("signing the host's nonce failed");
    }
    response.clientSignature = *signature;
    response.clientNonce = secureRandomBytes(32);
    {
        auto message = StreamControlMessage::make<Case::authenticationResponse>(response);
        co_await send(std::move(message));
    }
    const auto result = co_await receive<Case::authenticationResult>();
    if (!result.accepted) {
        throw HeadsetSimulatorError("the host refused the authentication", result.reason);
    }
    if (result.peerID != host.peerID) {
        throw HeadsetSimulatorError("the authentication result names another host");
    }
    if (!result.serverSignature ||
        !hostKey->isValidSignature(
            *result.serverSignature,
            SessionAuthentication::signedPayload(SessionAuthentication::Side::server, host.peerID,
                                                 identity_.id, response.clientNonce))) {
        throw HeadsetSimulatorError("the host's signature over the headset's nonce is missing or wrong");
    }
    if (result.certificateSignature &&
        !hostKey->isValidSignature(*result.certificateSignature,
                                   SessionAuthentication::certificateSignaturePayload(
                                       host.peerID, identity_.id, connection_->peerCertificateDER()))) {
        throw HeadsetSimulatorError("the host's certificate signature is wrong");
    }
    if (result.displayName) {
        pairedHost_->displayName = *result.displayName;
    }
    co_await followCertificateRotation();
}

asio::awaitable<void> HeadsetSimulator::followCertificateRotation() {
    const auto rotation = co_await receive<Case::certificateRotation>();
    if (!pairedHost_ || rotation.peerID != pairedHost_->peerID) {
        throw HeadsetSimulatorError("a certificate rotation from another host");
    }
    const auto hostKey = P256PublicKey::fromRawRepresentation(pairedHost_->signingPublicKey);
    if (!hostKey || !hostKey->isValidSignature(rotation.certificateSignature,
                                               SessionAuthentication::certificateSignaturePayload(
                                                   rotation.peerID, identity_.id, rotation.certificateDER))) {
        throw HeadsetSimulatorError("the host's rotated certificate is not signed by its key");
    }
    pairedHost_->certificateDER = rotation.certificateDER;
}

asio::awaitable<void> HeadsetSimulator::reconnect() {
    co_await connect();
    co_await authenticate();
}

}  // namespace quillbridge
