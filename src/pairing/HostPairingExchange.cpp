#include "pairing/HostPairingExchange.hpp"

#include <algorithm>
#include <utility>

#include "pairing/P256PublicKey.hpp"
#include "pairing/PairingCrypto.hpp"
#include "pairing/PairingTranscript.hpp"

namespace quillbridge {
namespace {

bool isSixAsciiDigits(std::string_view code) {
    return code.size() == 6 &&
           std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::expected<HostPairingExchange::Begun, HostPairingExchange::BeginFailure> HostPairingExchange::begin(
    const PairingStartMessage& start, const std::optional<SessionHelloMessage>& hello,
    const LocalDeviceIdentity& localIdentity, const P256SigningKey& signingPrivateKey,
    const std::optional<Bytes>& pairedSigningPublicKey, const std::optional<Bytes>& localCertificateDER,
    const std::optional<Bytes>& peerCertificateDER, Date now, RandomSources randomSources) {
    if (!hello || !hello->wantsPairing || hello->peerID != start.peerID) {
        return std::unexpected(BeginFailure::failed);
    }
    auto version = negotiatedControlProtocolVersion(*hello);
    if (!version || start.controlProtocolVersion != *version)
        return std::unexpected(BeginFailure::failed);
    if (!P256PublicKey::fromRawRepresentation(start.signingPublicKey))
        return std::unexpected(BeginFailure::failed);
    if (!localCertificateDER || !peerCertificateDER)
        return std::unexpected(BeginFailure::failed);
    if (pairedSigningPublicKey && *pairedSigningPublicKey != start.signingPublicKey) {
        return std::unexpected(BeginFailure::identityChanged);
    }

    Bytes nonce(pairingNonceByteCount);
    if (randomSources.bytes) {
        randomSources.bytes(nonce);
    } else {
        nonce = randomData(pairingNonceByteCount);
    }
    PairingChallengeMessage challenge{
        .attemptID = start.attemptID,
        .controlProtocolVersion = *version,
        .peerID = localIdentity.id,
        .displayName = localIdentity.name,
        .signingPublicKey = signingPrivateKey.publicKey().rawRepresentation(),
        .nonce = std::move(nonce),
    };
    auto transcriptHash = pairingTranscriptHash(start, challenge, *peerCertificateDER, *localCertificateDER);
    if (!transcriptHash)
        return std::unexpected(BeginFailure::failed);

    std::unique_ptr<HostPairingExchange> exchange(new HostPairingExchange(
        now.addingSeconds(attemptLifetimeSeconds), start, std::move(*transcriptHash), localIdentity,
        signingPrivateKey, *peerCertificateDER, std::move(randomSources.scalar)));
    return Begun{std::move(exchange), std::move(challenge)};
}

HostPairingExchange::HostPairingExchange(Date expiresAt, PairingStartMessage start, Bytes transcriptHash,
                                         LocalDeviceIdentity localIdentity,
                                         const P256SigningKey& signingPrivateKey, Bytes peerCertificateDER,
                                         SPAKE2Round::ScalarSource scalarSource)
    : expiresAt_(expiresAt),
      start_(std::move(start)),
      transcriptHash_(std::move(transcriptHash)),
      localIdentity_(std::move(localIdentity)),
      signingPrivateKey_(signingPrivateKey),
      peerCertificateDER_(std::move(peerCertificateDER)),
      scalarSource_(std::move(scalarSource)),
      protocolState_(start_.attemptID),
      phase_(AwaitingClientChallenge{}) {}

HostPairingExchange::~HostPairingExchange() = default;

std::optional<HostPairingExchange::PromptInfo> HostPairingExchange::receiveClientChallenge(
    const PairingClientChallengeMessage& message, Date now) {
    if (!std::holds_alternative<AwaitingClientChallenge>(phase_))
        return std::nullopt;
    if (message.attemptID != start_.attemptID)
        return std::nullopt;
    if (message.salt.size() != pairingSaltByteCount || message.publicValue.size() != pairingShareByteCount) {
        return std::nullopt;
    }
    if (!isBeforeDeadline(now))
        return std::nullopt;
    if (!protocolState_.receiveClientChallenge(message.attemptID, message.roundID))
        return std::nullopt;

    phase_ = ClientRound{message};
    return PromptInfo{
        .attemptID = start_.attemptID,
        .peerID = start_.peerID,
        .peerName = start_.displayName,
        .remainingAttempts = maximumFailedRounds - protocolState_.failedRoundCount(),
        .expiresAt = expiresAt_,
    };
}

HostPairingExchange::CodeSubmissionOutcome HostPairingExchange::submitCode(std::string_view code, Date now) {
    auto computation = prepareCodeSubmission(code, now);
    if (!computation)
        return CodeSubmissionOutcome::ignored();
    return completeCodeSubmission(computation->run(), now);
}

std::optional<HostPairingExchange::CodeComputation> HostPairingExchange::prepareCodeSubmission(
    std::string_view code, Date now) const {
    const auto* clientRound = std::get_if<ClientRound>(&phase_);
    if (!clientRound)
        return std::nullopt;
    if (!isBeforeDeadline(now))
        return std::nullopt;
    if (!isSixAsciiDigits(code))
        return std::nullopt;
    const auto& challenge = clientRound->message;
    auto additionalData = spakeAdditionalData(transcriptHash_, challenge.roundID, challenge.salt);
    if (!additionalData)
        return std::nullopt;

    CodeComputation computation;
    computation.roundID = challenge.roundID;
    computation.code = SecretBytes(asBytes(code));
    computation.salt = challenge.salt;
    computation.clientIdentity = spakeIdentity(PairingRole::visionPro, start_.peerID);
    computation.serverIdentity = spakeIdentity(PairingRole::mac, localIdentity_.id);
    computation.clientPublicValue = challenge.publicValue;
    computation.additionalData = std::move(*additionalData);
    computation.scalarSource = scalarSource_;
    return computation;
}

HostPairingExchange::CodeComputation::Result HostPairingExchange::CodeComputation::run() const {
    Result result;
    result.roundID = roundID;
    auto round = scalarSource ? SPAKE2Round::create(SPAKE2Round::Role::server, code.text(), salt,
                                                    clientIdentity, serverIdentity, scalarSource)
                              : SPAKE2Round::create(SPAKE2Round::Role::server, code.text(), salt,
                                                    clientIdentity, serverIdentity);
    if (!round)
        return result;
    auto confirmations = (*round)->finish(clientPublicValue, additionalData);
    if (!confirmations)
        return result;
    result.succeeded = true;
    result.publicValue = (*round)->outboundPublicValue();
    result.pakeResult = std::move(*confirmations);
    return result;
}

HostPairingExchange::CodeSubmissionOutcome HostPairingExchange::completeCodeSubmission(
    CodeComputation::Result result, Date now) {
    // The exchange may have moved on while the computation ran: only the round it was made for takes it.
    const auto* clientRound = std::get_if<ClientRound>(&phase_);
    if (!clientRound || clientRound->message.roundID != result.roundID)
        return CodeSubmissionOutcome::ignored();
    if (!isBeforeDeadline(now))
        return CodeSubmissionOutcome::ignored();
    if (!result.succeeded)
        return CodeSubmissionOutcome::failed();
    if (!protocolState_.submitCode(result.roundID))
        return CodeSubmissionOutcome::ignored();

    PairingServerChallengeMessage reply{
        .attemptID = start_.attemptID,
        .roundID = result.roundID,
        .publicValue = result.publicValue,
    };
    phase_ = HostRound{*clientRound, std::move(result.publicValue), std::move(result.pakeResult)};
    return {CodeSubmissionOutcome::Kind::sendServerChallenge, std::move(reply)};
}

std::optional<PairingServerConfirmationMessage> HostPairingExchange::receiveClientResponse(
    const PairingClientResponseMessage& message, Date now) {
    const auto* hostRound = std::get_if<HostRound>(&phase_);
    if (!hostRound)
        return std::nullopt;
    const auto& challenge = hostRound->clientRound.message;
    if (message.attemptID != start_.attemptID || message.roundID != challenge.roundID)
        return std::nullopt;
    if (message.confirmation.size() != pairingConfirmationByteCount)
        return std::nullopt;
    if (!isBeforeDeadline(now))
        return std::nullopt;

    // Also checks the lengths of the round data it covers.
    auto roundHash = roundTranscriptHash(transcriptHash_, challenge.roundID, challenge.salt,
                                         challenge.publicValue, hostRound->publicValue, message.confirmation);
    if (!roundHash || roundHash->size() != pairingHashByteCount)
        return std::nullopt;
    const Bytes& hostConfirmation = hostRound->pakeResult.outboundConfirmation;
    if (hostConfirmation.size() != pairingConfirmationByteCount)
        return std::nullopt;

    auto signature = signingPrivateKey_.signature(
        confirmationSignaturePayload(PairingRole::mac, *roundHash, hostConfirmation));
    if (!signature)
        return std::nullopt;
    if (!protocolState_.receiveClientResponse(message.attemptID, message.roundID))
        return std::nullopt;

    PairingServerConfirmationMessage reply{
        .attemptID = message.attemptID,
        .roundID = message.roundID,
        .confirmation = hostConfirmation,
        .signature = std::move(*signature),
    };
    phase_ = Verification{*hostRound, message.confirmation, std::move(*roundHash)};
    return reply;
}

std::optional<HostPairingExchange::Acceptance> HostPairingExchange::receiveClientConfirmation(
    const PairingClientConfirmationMessage& message, Date now) {
    const auto* verification = std::get_if<Verification>(&phase_);
    if (!verification)
        return std::nullopt;
    const auto& hostRound = verification->hostRound;
    if (message.attemptID != start_.attemptID || message.roundID != hostRound.clientRound.message.roundID) {
        return std::nullopt;
    }
    if (!isBeforeDeadline(now))
        return std::nullopt;
    if (verification->roundTranscriptHash.size() != pairingHashByteCount ||
        message.confirmation.size() != pairingConfirmationByteCount) {
        return std::nullopt;
    }

    auto peerKey = P256PublicKey::fromRawRepresentation(start_.signingPublicKey);
    if (!peerKey)
        return std::nullopt;
    Bytes signedPayload = confirmationSignaturePayload(
        PairingRole::visionPro, verification->roundTranscriptHash, message.confirmation);
    if (!peerKey->isValidSignature(message.signature, signedPayload))
        return std::nullopt;
    if (!constantTimeEqual(message.confirmation, verification->clientConfirmation))
        return std::nullopt;
    // A wrong code shows here: the headset's confirmation is not the one this side's key expects.
    if (!constantTimeEqual(message.confirmation, hostRound.pakeResult.expectedPeerConfirmation))
        return std::nullopt;

    auto payload = acceptancePayload(verification->roundTranscriptHash,
                                     hostRound.pakeResult.outboundConfirmation, message.confirmation);
    if (!payload)
        return std::nullopt;
    auto serverSignature = signingPrivateKey_.signature(*payload);
    if (!serverSignature)
        return std::nullopt;
    if (!protocolState_.accept(message.attemptID, message.roundID))
        return std::nullopt;

    return Acceptance{
        .message =
            PairingAcceptedMessage{
                .attemptID = start_.attemptID,
                .peerID = localIdentity_.id,
                .displayName = localIdentity_.name,
                .signingPublicKey = signingPrivateKey_.publicKey().rawRepresentation(),
                .serverSignature = std::move(*serverSignature),
            },
        .peerRecord =
            PairedPeerRecord{
                .id = start_.peerID,
                .name = start_.displayName,
                .signingPublicKey = start_.signingPublicKey,
                .tlsCertificate = peerCertificateDER_,
                .lastSeenAt = now,
            },
    };
}

RoundRejectionOutcome HostPairingExchange::receiveRoundRejected(const PairingRoundRejectedMessage& message,
                                                                Date now) {
    if (!std::holds_alternative<Verification>(phase_))
        return RoundRejectionOutcome::ignored;
    if (!isBeforeDeadline(now))
        return RoundRejectionOutcome::ignored;
    if (!protocolState_.failRound(message.attemptID, message.roundID))
        return RoundRejectionOutcome::ignored;
    if (protocolState_.state() == PairingHostStateMachine::State::awaitingClientChallenge()) {
        phase_ = AwaitingClientChallenge{};
        return RoundRejectionOutcome::newRound;
    }
    return RoundRejectionOutcome::rejected;
}

}  // namespace quillbridge
