#include "support/pairing/ClientPairingExchange.hpp"

#include <utility>

#include "pairing/P256PublicKey.hpp"
#include "pairing/PairingCrypto.hpp"
#include "pairing/PairingTranscript.hpp"

namespace quillbridge {

ClientPairingExchange::ClientPairingExchange(LocalDeviceIdentity localIdentity,
                                             P256SigningKey signingPrivateKey, Bytes certificateDER,
                                             std::optional<Uuid> expectedMacPeerID, Date now,
                                             std::optional<Uuid> attemptID)
    : expiresAt_(now.addingSeconds(attemptLifetimeSeconds)),
      start_{
          .attemptID = attemptID.value_or(Uuid::random()),
          .controlProtocolVersion = hostControlProtocolVersion,
          .peerID = localIdentity.id,
          .displayName = localIdentity.name,
          .signingPublicKey = signingPrivateKey.publicKey().rawRepresentation(),
      },
      expectedMacPeerID_(expectedMacPeerID),
      localIdentity_(std::move(localIdentity)),
      signingPrivateKey_(std::move(signingPrivateKey)),
      certificateDER_(std::move(certificateDER)),
      protocolState_(start_.attemptID),
      phase_(AwaitingChallenge{}) {}

SessionHelloMessage ClientPairingExchange::hello() const {
    return {localIdentity_.id, localIdentity_.name, true, hostControlProtocolVersion,
            hostControlProtocolVersion};
}

const ClientPairingExchange::Handshake* ClientPairingExchange::handshake() const {
    return std::visit(
        [](const auto& phase) -> const Handshake* {
            if constexpr (requires { phase.handshake; }) {
                return &phase.handshake;
            } else {
                return nullptr;
            }
        },
        phase_);
}

std::optional<Bytes> ClientPairingExchange::transcriptHash() const {
    if (const auto* current = handshake())
        return current->transcriptHash;
    return std::nullopt;
}

bool ClientPairingExchange::receiveChallenge(const PairingChallengeMessage& challenge,
                                             ByteView hostCertificateDER) {
    if (!std::holds_alternative<AwaitingChallenge>(phase_))
        return false;
    if (expectedMacPeerID_ && challenge.peerID != *expectedMacPeerID_)
        return false;
    if (!P256PublicKey::fromRawRepresentation(challenge.signingPublicKey))
        return false;
    auto hash = pairingTranscriptHash(start_, challenge, certificateDER_, hostCertificateDER);
    if (!hash)
        return false;
    if (!protocolState_.receiveChallenge(challenge.attemptID))
        return false;
    phase_ = ReadyForRound{Handshake{challenge, std::move(*hash)}};
    return true;
}

std::optional<PairingClientChallengeMessage> ClientPairingExchange::openRound(std::string_view code) {
    return openRound(code, RoundOptions{});
}

std::optional<PairingClientChallengeMessage> ClientPairingExchange::openRound(std::string_view code,
                                                                              RoundOptions options) {
    auto* ready = std::get_if<ReadyForRound>(&phase_);
    if (!ready)
        return std::nullopt;
    Uuid roundID = options.roundID.value_or(Uuid::random());
    Bytes salt = options.salt.value_or(randomData(pairingSaltByteCount));
    auto additionalData = spakeAdditionalData(ready->handshake.transcriptHash, roundID, salt);
    if (!additionalData)
        return std::nullopt;

    Bytes clientIdentity = spakeIdentity(PairingRole::visionPro, localIdentity_.id);
    Bytes serverIdentity = spakeIdentity(PairingRole::mac, ready->handshake.challenge.peerID);
    if (options.swapIdentities)
        std::swap(clientIdentity, serverIdentity);
    auto round =
        options.privateScalarSource
            ? SPAKE2Round::create(SPAKE2Round::Role::client, code, salt, clientIdentity, serverIdentity,
                                  options.privateScalarSource)
            : SPAKE2Round::create(SPAKE2Round::Role::client, code, salt, clientIdentity, serverIdentity);
    if (!round)
        return std::nullopt;
    if (!protocolState_.openRound(roundID))
        return std::nullopt;

    PairingClientChallengeMessage message{start_.attemptID, roundID, salt, (*round)->outboundPublicValue()};
    phase_ = AwaitingServerChallenge{
        std::move(ready->handshake),
        Round{roundID, std::move(salt), std::move(*round), std::move(*additionalData)}};
    return message;
}

std::optional<PairingClientResponseMessage> ClientPairingExchange::receiveServerChallenge(
    const PairingServerChallengeMessage& message) {
    auto* awaiting = std::get_if<AwaitingServerChallenge>(&phase_);
    if (!awaiting)
        return std::nullopt;
    if (message.attemptID != start_.attemptID || message.roundID != awaiting->round.roundID)
        return std::nullopt;
    auto& round = awaiting->round;
    auto result = round.pakeRound->finish(message.publicValue, round.additionalData);
    if (!result)
        return std::nullopt;
    auto roundHash = roundTranscriptHash(awaiting->handshake.transcriptHash, round.roundID, round.salt,
                                         round.pakeRound->outboundPublicValue(), message.publicValue,
                                         result->outboundConfirmation);
    if (!roundHash)
        return std::nullopt;
    if (!protocolState_.receiveServerChallenge(message.attemptID, message.roundID))
        return std::nullopt;

    PairingClientResponseMessage response{start_.attemptID, round.roundID, result->outboundConfirmation};
    lastPakeResult_ = *result;
    lastRoundTranscriptHash_ = *roundHash;
    phase_ = AwaitingServerConfirmation{
        std::move(awaiting->handshake),
        ServerChallengeState{std::move(round), std::move(*result), std::move(*roundHash)}};
    return response;
}

std::optional<ClientPairingExchange::ConfirmationReply> ClientPairingExchange::receiveServerConfirmation(
    const PairingServerConfirmationMessage& message) {
    auto* awaiting = std::get_if<AwaitingServerConfirmation>(&phase_);
    if (!awaiting)
        return std::nullopt;
    auto& state = awaiting->state;
    if (message.attemptID != start_.attemptID || message.roundID != state.round.roundID)
        return std::nullopt;
    auto hostKey = P256PublicKey::fromRawRepresentation(awaiting->handshake.challenge.signingPublicKey);
    if (!hostKey)
        return std::nullopt;
    if (!hostKey->isValidSignature(message.signature,
                                   confirmationSignaturePayload(PairingRole::mac, state.roundTranscriptHash,
                                                                message.confirmation))) {
        return std::nullopt;
    }

    if (!constantTimeEqual(message.confirmation, state.pakeResult.expectedPeerConfirmation)) {
        if (!protocolState_.failRound(message.attemptID, message.roundID))
            return std::nullopt;
        PairingRoundRejectedMessage rejected{start_.attemptID, state.round.roundID};
        phase_ = ReadyForRound{std::move(awaiting->handshake)};
        return rejected;
    }

    const Bytes& ownConfirmation = state.pakeResult.outboundConfirmation;
    auto signature = signingPrivateKey_.signature(
        confirmationSignaturePayload(PairingRole::visionPro, state.roundTranscriptHash, ownConfirmation));
    if (!signature)
        return std::nullopt;
    if (!protocolState_.confirm(message.attemptID, message.roundID))
        return std::nullopt;
    PairingClientConfirmationMessage confirmation{start_.attemptID, state.round.roundID, ownConfirmation,
                                                  std::move(*signature)};
    phase_ = AwaitingAcceptance{std::move(awaiting->handshake),
                                AwaitedAcceptance{std::move(state), message.confirmation}};
    return confirmation;
}

bool ClientPairingExchange::receiveAcceptance(const PairingAcceptedMessage& message) {
    auto* awaiting = std::get_if<AwaitingAcceptance>(&phase_);
    if (!awaiting)
        return false;
    const auto& challenge = awaiting->handshake.challenge;
    if (message.attemptID != start_.attemptID || message.peerID != challenge.peerID ||
        message.signingPublicKey != challenge.signingPublicKey) {
        return false;
    }
    const auto& state = awaiting->awaited.serverChallengeState;
    auto payload = acceptancePayload(state.roundTranscriptHash, awaiting->awaited.serverConfirmation,
                                     state.pakeResult.outboundConfirmation);
    auto hostKey = P256PublicKey::fromRawRepresentation(challenge.signingPublicKey);
    if (!payload || !hostKey || !hostKey->isValidSignature(message.serverSignature, *payload))
        return false;
    return protocolState_.accept(message.attemptID);
}

}  // namespace quillbridge
