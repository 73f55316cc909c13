#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "core/Bytes.hpp"
#include "core/Date.hpp"
#include "core/SecretBytes.hpp"
#include "core/Uuid.hpp"
#include "pairing/P256SigningKey.hpp"
#include "pairing/PairingHostStateMachine.hpp"
#include "pairing/SPAKE2Round.hpp"
#include "wire/LocalDeviceIdentity.hpp"
#include "wire/PairedPeerRecord.hpp"
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

// The result of a headset's `pairingRoundRejected`.
enum class RoundRejectionOutcome {
    newRound,  // the round is counted; the headset may open another one
    rejected,  // the last allowed round has failed: refuse with "tooManyAttempts"
    ignored,   // the message does not fit the attempt: refuse with "failed"
};

// The host's side of one pairing attempt, from an accepted `pairingStart` to `pairingAccepted` or a
// refusal: up to three SPAKE2 rounds keyed by the 6-digit code the user types on the host, every headset
// message checked against the attempt (identifiers, phase, deadline, lengths, signatures), and the
// replies, the prompt data and the record of the newly paired headset returned to the caller.
//
// The exchange is pure logic: it sends nothing, starts no timer and reads no clock. Its owner (the
// session) passes each message with the current time, sends what comes back, runs the expiry timer for
// `expiresAt()`, stores the peer record and drops the exchange when the attempt ends. No operation
// throws; a refused step returns its failure result and changes nothing. Not safe for concurrent use:
// the owner makes one call at a time.
class HostPairingExchange {
public:
    static constexpr double attemptLifetimeSeconds = 60;
    static constexpr int maximumFailedRounds = PairingHostStateMachine::defaultMaximumFailedRounds;

    // What the code prompt shows.
    struct PromptInfo {
        Uuid attemptID;
        Uuid peerID;
        std::string peerName;
        int remainingAttempts = 0;
        Date expiresAt;
        bool operator==(const PromptInfo&) const = default;
    };

    struct CodeSubmissionOutcome {
        enum class Kind {
            sendServerChallenge,  // send `serverChallenge` and show the prompt as verifying
            ignored,              // nothing to do; a later valid code in this round is still taken
            failed,               // the attempt cannot go on: refuse with "failed"
        };
        Kind kind = Kind::ignored;
        std::optional<PairingServerChallengeMessage> serverChallenge;

        static CodeSubmissionOutcome ignored() { return {Kind::ignored, std::nullopt}; }
        static CodeSubmissionOutcome failed() { return {Kind::failed, std::nullopt}; }
    };

    struct Acceptance {
        PairingAcceptedMessage message;  // to send
        PairedPeerRecord peerRecord;     // to store with the peer store's insert-or-replace
    };

    enum class BeginFailure {
        failed,           // refuse with "failed"
        identityChanged,  // refuse with "identityChanged"
    };

    struct Begun {
        std::unique_ptr<HostPairingExchange> exchange;
        PairingChallengeMessage challenge;  // to send
    };

    // Where an attempt draws its randomness: the challenge nonce, and this side's SPAKE2 scalar of each
    // round. An empty source means the secure generator (the default); fixed sources make an attempt
    // reproducible in tests. Each source must be safe to call from the worker that runs a code computation.
    struct RandomSources {
        std::function<void(std::span<std::uint8_t>)> bytes;
        SPAKE2Round::ScalarSource scalar;
    };

    // The slow half of a code submission (Argon2id and the SPAKE2 step), holding its own copies of what it
    // needs: it can run on a blocking-work worker while the exchange stays with its owner, and nothing
    // breaks if the exchange is gone when it ends.
    class CodeComputation {
    public:
        struct Result {
            Uuid roundID;
            bool succeeded = false;
            Bytes publicValue;
            SPAKE2Round::Result pakeResult;
        };

        // Blocks the calling thread for tens of milliseconds and allocates 64 MiB: run it with runBlocking.
        Result run() const;

    private:
        friend class HostPairingExchange;
        CodeComputation() = default;

        Uuid roundID;
        SecretBytes code;
        Bytes salt;
        Bytes clientIdentity;
        Bytes serverIdentity;
        Bytes clientPublicValue;
        Bytes additionalData;
        SPAKE2Round::ScalarSource scalarSource;
    };

    // Accepts a start and creates the attempt. `hello` is the session's hello from the headset;
    // `pairedSigningPublicKey` the key stored for `start.peerID`, if the headset is paired already;
    // `localCertificateDER` the host's TLS certificate and `peerCertificateDER` the one the headset
    // presented on this connection. The attempt expires 60 s after `now`.
    static std::expected<Begun, BeginFailure> begin(
        const PairingStartMessage& start, const std::optional<SessionHelloMessage>& hello,
        const LocalDeviceIdentity& localIdentity, const P256SigningKey& signingPrivateKey,
        const std::optional<Bytes>& pairedSigningPublicKey, const std::optional<Bytes>& localCertificateDER,
        const std::optional<Bytes>& peerCertificateDER, Date now, RandomSources randomSources = {});

    HostPairingExchange(const HostPairingExchange&) = delete;
    HostPairingExchange& operator=(const HostPairingExchange&) = delete;
    ~HostPairingExchange();

    // Opens a round; nothing when the message does not fit (refuse with "failed").
    std::optional<PromptInfo> receiveClientChallenge(const PairingClientChallengeMessage& message, Date now);

    // Runs the host's SPAKE2 step with the code as typed.
    //
    // This derives the password scalar with Argon2id (64 MiB, 2 passes): it blocks the calling thread for
    // tens of milliseconds (50 to 80 ms on current desktops). Never call it on a thread that serves the
    // network or the user interface: run it on a worker reserved for blocking work and await it from the
    // owner's executor, making no other call on this exchange until it returns.
    CodeSubmissionOutcome submitCode(std::string_view code, Date now);

    // The same in three steps, so that the slow part runs off the owner's executor:
    //
    //     auto computation = exchange->prepareCodeSubmission(code, clock.now());   // on the owner
    //     if (!computation) ...ignored...
    //     auto result = co_await runBlocking(pool, [c = std::move(*computation)] { return c.run(); });
    //     auto outcome = exchange->completeCodeSubmission(std::move(result), clock.now());  // on the owner
    //
    // prepare gives nothing when submitCode would ignore the code. complete checks that the round the
    // computation was made for is still the open one and the attempt has not expired; otherwise the result is
    // ignored. Other calls on the exchange may be made while the computation runs.
    std::optional<CodeComputation> prepareCodeSubmission(std::string_view code, Date now) const;
    CodeSubmissionOutcome completeCodeSubmission(CodeComputation::Result result, Date now);

    // Returns the host's signed confirmation; nothing when the message does not fit (refuse with "failed").
    // The headset's confirmation is only kept here; it is compared when its confirmation message arrives.
    std::optional<PairingServerConfirmationMessage> receiveClientResponse(
        const PairingClientResponseMessage& message, Date now);

    // Verifies the headset and accepts it; nothing when anything does not match (refuse with "failed").
    std::optional<Acceptance> receiveClientConfirmation(const PairingClientConfirmationMessage& message,
                                                        Date now);

    RoundRejectionOutcome receiveRoundRejected(const PairingRoundRejectedMessage& message, Date now);

    Date expiresAt() const { return expiresAt_; }
    const PairingStartMessage& start() const { return start_; }
    const Bytes& transcriptHash() const { return transcriptHash_; }
    const LocalDeviceIdentity& localIdentity() const { return localIdentity_; }
    const Bytes& peerCertificateDER() const { return peerCertificateDER_; }
    const PairingHostStateMachine& protocolState() const { return protocolState_; }

private:
    struct AwaitingClientChallenge {};
    struct ClientRound {
        PairingClientChallengeMessage message;
    };
    struct HostRound {
        ClientRound clientRound;
        Bytes publicValue;
        SPAKE2Round::Result pakeResult;
    };
    struct Verification {
        HostRound hostRound;
        Bytes clientConfirmation;
        Bytes roundTranscriptHash;
    };
    using Phase = std::variant<AwaitingClientChallenge, ClientRound, HostRound, Verification>;

    HostPairingExchange(Date expiresAt, PairingStartMessage start, Bytes transcriptHash,
                        LocalDeviceIdentity localIdentity, const P256SigningKey& signingPrivateKey,
                        Bytes peerCertificateDER, SPAKE2Round::ScalarSource scalarSource);

    bool isBeforeDeadline(Date now) const { return now < expiresAt_; }

    const Date expiresAt_;
    const PairingStartMessage start_;
    const Bytes transcriptHash_;
    const LocalDeviceIdentity localIdentity_;
    const P256SigningKey signingPrivateKey_;
    const Bytes peerCertificateDER_;
    const SPAKE2Round::ScalarSource scalarSource_;
    PairingHostStateMachine protocolState_;
    Phase phase_;
};

}  // namespace quillbridge
