#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <variant>

#include "core/Bytes.hpp"
#include "core/Date.hpp"
#include "core/Uuid.hpp"
#include "pairing/P256SigningKey.hpp"
#include "pairing/SPAKE2Round.hpp"
#include "support/pairing/PairingClientStateMachine.hpp"
#include "wire/LocalDeviceIdentity.hpp"
#include "wire/PairingAcceptedMessage.hpp"
#include "wire/PairingChallengeMessage.hpp"
#include "wire/PairingClientChallengeMessage.hpp"
#include "wire/PairingClientConfirmationMessage.hpp"
#include "wire/PairingClientResponseMessage.hpp"
#include "wire/PairingRoundRejectedMessage.hpp"
#include "wire/PairingServerChallengeMessage.hpp"
#include "wire/PairingServerConfirmationMessage.hpp"
#include "wire/PairingStartMessage.hpp"
#include "wire/SessionHelloMessage.hpp"

namespace quillbridge {

// The headset's side of one pairing attempt, written from the protocol so that tests can run whole
// attempts against HostPairingExchange in-process. It checks what the headset would check (identifiers,
// the host's signatures and confirmations) and produces the headset's messages. Operations that do not
// fit return nothing and change nothing.
class ClientPairingExchange {
public:
    static constexpr double attemptLifetimeSeconds = 60;

    // How the next round is opened. Unset values are drawn at random.
    struct RoundOptions {
        std::optional<Uuid> roundID;
        std::optional<Bytes> salt;
        SPAKE2Round::ScalarSource privateScalarSource;
        // Builds the round with the two SPAKE2 identities exchanged (a headset that gets the sides wrong).
        bool swapIdentities = false;
    };

    // What the headset answers to the host's confirmation: its own confirmation when the host's matched,
    // a round rejection when it did not.
    using ConfirmationReply = std::variant<PairingClientConfirmationMessage, PairingRoundRejectedMessage>;

    ClientPairingExchange(LocalDeviceIdentity localIdentity, P256SigningKey signingPrivateKey,
                          Bytes certificateDER, std::optional<Uuid> expectedMacPeerID, Date now,
                          std::optional<Uuid> attemptID = std::nullopt);

    // The hello that asks to pair, and the start that opens the attempt.
    SessionHelloMessage hello() const;
    const PairingStartMessage& start() const { return start_; }

    // Takes the host's challenge and builds the pairing transcript hash with the host's certificate.
    bool receiveChallenge(const PairingChallengeMessage& challenge, ByteView hostCertificateDER);

    // Opens a round keyed by the code the user reads on the headset.
    std::optional<PairingClientChallengeMessage> openRound(std::string_view code);
    std::optional<PairingClientChallengeMessage> openRound(std::string_view code, RoundOptions options);

    // Finishes the round with the host's share; returns the headset's key confirmation.
    std::optional<PairingClientResponseMessage> receiveServerChallenge(
        const PairingServerChallengeMessage& message);

    // Checks the host's signature and confirmation. Nothing when the signature or identifiers are wrong.
    std::optional<ConfirmationReply> receiveServerConfirmation(
        const PairingServerConfirmationMessage& message);

    // Checks the host's acceptance: identity, key and the signature over the acceptance payload.
    bool receiveAcceptance(const PairingAcceptedMessage& message);

    const PairingClientStateMachine& protocolState() const { return protocolState_; }
    const LocalDeviceIdentity& localIdentity() const { return localIdentity_; }
    const P256SigningKey& signingPrivateKey() const { return signingPrivateKey_; }
    const Bytes& certificateDER() const { return certificateDER_; }
    Date expiresAt() const { return expiresAt_; }
    // The pairing transcript hash, once the challenge is taken.
    std::optional<Bytes> transcriptHash() const;
    // The values of the round that last reached the host's share (for tests that forge messages).
    const std::optional<SPAKE2Round::Result>& lastPakeResult() const { return lastPakeResult_; }
    const std::optional<Bytes>& lastRoundTranscriptHash() const { return lastRoundTranscriptHash_; }

private:
    struct Handshake {
        PairingChallengeMessage challenge;
        Bytes transcriptHash;
    };
    struct Round {
        Uuid roundID;
        Bytes salt;
        std::unique_ptr<SPAKE2Round> pakeRound;
        Bytes additionalData;
    };
    struct ServerChallengeState {
        Round round;
        SPAKE2Round::Result pakeResult;
        Bytes roundTranscriptHash;
    };
    struct AwaitedAcceptance {
        ServerChallengeState serverChallengeState;
        Bytes serverConfirmation;
    };
    struct AwaitingChallenge {};
    struct ReadyForRound {
        Handshake handshake;
    };
    struct AwaitingServerChallenge {
        Handshake handshake;
        Round round;
    };
    struct AwaitingServerConfirmation {
        Handshake handshake;
        ServerChallengeState state;
    };
    struct AwaitingAcceptance {
        Handshake handshake;
        AwaitedAcceptance awaited;
    };
    using Phase = std::variant<AwaitingChallenge, ReadyForRound, AwaitingServerChallenge,
                               AwaitingServerConfirmation, AwaitingAcceptance>;

    const Handshake* handshake() const;

    Date expiresAt_;
    PairingStartMessage start_;
    std::optional<Uuid> expectedMacPeerID_;
    LocalDeviceIdentity localIdentity_;
    P256SigningKey signingPrivateKey_;
    Bytes certificateDER_;
    PairingClientStateMachine protocolState_;
    Phase phase_;
    std::optional<SPAKE2Round::Result> lastPakeResult_;
    std::optional<Bytes> lastRoundTranscriptHash_;
};

}  // namespace quillbridge
