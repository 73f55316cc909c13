#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <system_error>
#include <utility>

#include <asio/error.hpp>

#include "core/SecureRandom.hpp"
#include "pairing/GeneratedTLSIdentity.hpp"
#include "pairing/P256PublicKey.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/VideoCompressionSupport.hpp"

// Admission of the headset: the hello exchange, reconnect authentication of a paired headset, pairing on
// the session with the code the user types, certificate rotation in both directions, and the start of an
// authorised session. Everything here runs on the broadcaster's strand; only message writes (and, with a
// blocking-work pool, the code's key derivation, the identity rotation and the peer-store writes, on its
// workers) suspend, so every step after one re-checks that its session is still current.

namespace quillbridge {

namespace {

constexpr std::size_t serverNonceByteCount = 32;

// Whether the error only says that the caller stopped waiting for work on the blocking-work pool (its session
// ended): the work itself went on to its end.
bool isAbandonedWait(const std::exception& error) {
    const auto* systemError = dynamic_cast<const std::system_error*>(&error);
    return systemError != nullptr && systemError->code() == asio::error::operation_aborted;
}

// Applies one write to the paired-peer list; a failure is logged where it happens.
void applyPeerStoreWrite(PairedPeerStore& store, const std::function<void(PairedPeerStore&)>& write) {
    try {
        write(store);
    } catch (const std::exception& error) {
        Logger("ScreenStreamBroadcaster").error("Could not save the paired headsets: ", error.what());
    }
}

AuthenticationResultMessage refusal(PairingFailureReason reason) {
    AuthenticationResultMessage result;
    result.accepted = false;
    result.reason = reason;
    return result;
}

}  // namespace

Date ScreenStreamBroadcaster::currentDate() const {
    const auto elapsed = std::chrono::duration<double>(dependencies_.clock->now() - clockAnchor_).count();
    return dateAnchor_.addingSeconds(elapsed);
}

// Hello and reconnect authentication.

asio::awaitable<void> ScreenStreamBroadcaster::handleHello(const SessionHelloMessage& hello) {
    currentHello_ = hello;
    logger_.info("Received hello from ", privateValue(hello.displayName));
    const Uuid sessionID = sessionID_;

    SessionHelloMessage own;
    own.peerID = localPeerIdentity_.id;
    own.displayName = localPeerIdentity_.name;
    own.wantsPairing = false;
    own.controlProtocolVersion = hostControlProtocolVersion;
    own.minimumCompatibleControlProtocolVersion = hostControlProtocolVersion;
    // A failed write takes the control loop's error path.
    const StreamControlMessage ownHello = StreamControlMessage::make<StreamControlMessage::Case::hello>(own);
    co_await sendInline(ownHello);
    if (sessionID_ != sessionID) {
        co_return;
    }

    if (!negotiatedControlProtocolVersion(hello)) {
        logger_.error("Refusing headset with control protocol version ", hello.controlProtocolVersion,
                      " (minimum ", hello.minimumCompatibleControlProtocolVersion, ")");
        co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::incompatibleVersion);
        if (sessionID_ == sessionID) {
            co_await endSession(nullptr, std::nullopt, true, true);
        }
        co_return;
    }
    if (hello.wantsPairing) {
        // The headset opens the attempt with pairingStart.
        co_return;
    }
    if (!peerStore_->peer(hello.peerID)) {
        // The session stays: the headset may still ask to pair.
        const StreamControlMessage outgoing =
            StreamControlMessage::make<StreamControlMessage::Case::pairingRejected>(
                PairingFailureReason::unpaired);
        co_await sendInline(outgoing);
        co_return;
    }
    currentServerNonce_ = secureRandomBytes(serverNonceByteCount);
    const StreamControlMessage outgoing =
        StreamControlMessage::make<StreamControlMessage::Case::authenticate>(
            AuthenticationChallengeMessage{*currentServerNonce_});
    co_await sendInline(outgoing);
}

SessionAuthentication::HostVerification ScreenStreamBroadcaster::verifyAuthenticationResponse(
    const AuthenticationResponseMessage& response, Date now) const {
    using Verification = SessionAuthentication::HostVerification;
    const Verification rejected{Verification::Rejected{refusal(PairingFailureReason::identityChanged)}};

    const auto& nonce = currentServerNonce_;
    const auto stored = peerStore_->peer(response.peerID);
    if (!nonce || !stored || !currentHello_ || currentHello_->peerID != response.peerID) {
        return rejected;
    }
    const auto peerKey = P256PublicKey::fromRawRepresentation(stored->signingPublicKey);
    if (!peerKey) {
        return rejected;
    }
    // A signature that does not parse as DER is as invalid as one that does not verify.
    const Bytes payload = SessionAuthentication::signedPayload(
        SessionAuthentication::Side::client, response.peerID, localPeerIdentity_.id, *nonce);
    if (!peerKey->isValidSignature(response.clientSignature, payload)) {
        return rejected;
    }

    PairedPeerRecord updated = *stored;
    const auto& captured = pendingPeerCertificate_;
    if (captured) {
        if (stored->tlsCertificate && *stored->tlsCertificate != *captured) {
            // A new certificate must be vouched for by the signing key recorded at pairing.
            if (!response.certificateSignature) {
                return rejected;
            }
            const Bytes certificatePayload = SessionAuthentication::certificateSignaturePayload(
                response.peerID, localPeerIdentity_.id, *captured);
            if (!peerKey->isValidSignature(*response.certificateSignature, certificatePayload)) {
                return rejected;
            }
            updated.tlsCertificate = *captured;
        } else if (!stored->tlsCertificate) {
            updated.tlsCertificate = *captured;
        }
    }
    updated.name = response.displayName;
    updated.lastSeenAt = now;

    AuthenticationResultMessage result;
    result.accepted = true;
    result.serverSignature = localSigningPrivateKey_->signature(SessionAuthentication::signedPayload(
        SessionAuthentication::Side::server, localPeerIdentity_.id, response.peerID, response.clientNonce));
    if (tlsCertificateDER_) {
        result.certificateSignature =
            localSigningPrivateKey_->signature(SessionAuthentication::certificateSignaturePayload(
                localPeerIdentity_.id, response.peerID, *tlsCertificateDER_));
    }
    result.peerID = localPeerIdentity_.id;
    result.displayName = localPeerIdentity_.name;
    return Verification{Verification::Accepted{std::move(result), std::move(updated)}};
}

asio::awaitable<bool> ScreenStreamBroadcaster::handleAuthenticationResponse(
    const AuthenticationResponseMessage& response) {
    using Case = StreamControlMessage::Case;
    const Uuid sessionID = sessionID_;
    if (!localSigningPrivateKey_) {
        logger_.error("Cannot authenticate the headset without a local signing key");
        try {
            const StreamControlMessage outgoing =
                StreamControlMessage::make<Case::authenticationResult>(refusal(PairingFailureReason::failed));
            co_await sendInline(outgoing);
        } catch (const std::exception&) {
        }
        co_return false;
    }

    auto verification = verifyAuthenticationResponse(response, currentDate());
    if (auto* rejected =
            std::get_if<SessionAuthentication::HostVerification::Rejected>(&verification.outcome)) {
        logger_.error("Reconnect authentication refused for ", privateValue(response.displayName));
        try {
            const StreamControlMessage outgoing =
                StreamControlMessage::make<Case::authenticationResult>(rejected->result);
            co_await sendInline(outgoing);
        } catch (const std::exception&) {
        }
        co_return false;
    }
    auto& accepted = std::get<SessionAuthentication::HostVerification::Accepted>(verification.outcome);
    // Everything that decides the outcome happens before the first write.
    co_await updateStoredPeer(accepted.updatedPeer);
    if (sessionID_ != sessionID) {
        // The session ended while the record was saved.
        co_return false;
    }
    isAuthorized_ = true;
    currentServerNonce_.reset();
    logger_.info("Reconnect authentication accepted for ", privateValue(response.displayName));
    try {
        const StreamControlMessage outgoing =
            StreamControlMessage::make<Case::authenticationResult>(accepted.result);
        co_await sendInline(outgoing);
    } catch (const std::exception& error) {
        logger_.error("Failed to send the authentication result: ", error.what());
    }
    if (sessionID_ == sessionID) {
        co_await sendCertificateRotation(response.peerID);
    }
    co_return true;
}

// Pairing.

asio::awaitable<void> ScreenStreamBroadcaster::sendPairingRejectedIgnoringFailure(
    PairingFailureReason reason) {
    try {
        const StreamControlMessage outgoing =
            StreamControlMessage::make<StreamControlMessage::Case::pairingRejected>(reason);
        co_await sendInline(outgoing);
    } catch (const std::exception&) {
        // The session ends anyway.
    }
}

asio::awaitable<bool> ScreenStreamBroadcaster::sendPairingMessage(const StreamControlMessage& message) {
    try {
        co_await sendInline(message);
    } catch (const std::exception& error) {
        logger_.error("Failed to send a pairing message: ", error.what());
        co_return false;
    }
    co_return true;
}

void ScreenStreamBroadcaster::publishPairingPrompt(std::optional<PairingPrompt> prompt) {
    currentPairingPrompt_ = std::move(prompt);
    pairingPrompts_.yield(currentPairingPrompt_);
}

void ScreenStreamBroadcaster::cancelPairingCodeExpiry() {
    pairingCodeExpiryTask_.cancel();
    pairingCodeExpiryTask_ = Task();
}

void ScreenStreamBroadcaster::schedulePairingCodeExpiry(const Uuid& attemptID, Date expiresAt) {
    cancelPairingCodeExpiry();
    const double seconds =
        std::max(0.0, expiresAt.secondsSinceReferenceDate - currentDate().secondsSinceReferenceDate);
    const auto delay = std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(seconds));
    std::weak_ptr<ScreenStreamBroadcaster> weakSelf = shared_from_this();
    pairingCodeExpiryTask_ = Task::spawn(
        actor_.executor(),
        [weakSelf, attemptID, delay, clock = dependencies_.clock]() -> asio::awaitable<void> {
            co_await clock->sleepFor(delay);
            auto self = weakSelf.lock();
            if (!self) {
                co_return;
            }
            // The expiry ends the session, whose teardown cancels this task: it runs as a task of its own.
            self->spawnDetached("pairing code expiry", [self, attemptID]() -> asio::awaitable<void> {
                co_await self->expirePairingCode(attemptID);
            });
        },
        "pairing code expiry timer");
}

asio::awaitable<void> ScreenStreamBroadcaster::expirePairingCode(Uuid attemptID) {
    if (!pairingExchange_ || pairingExchange_->start().attemptID != attemptID) {
        co_return;
    }
    logger_.info("The pairing code expired");
    if (currentPairingPrompt_) {
        PairingPrompt expired = *currentPairingPrompt_;
        expired.isExpired = true;
        expired.isVerifying = false;
        publishPairingPrompt(expired);
    }
    pairingCodeExpiryTask_ = Task();
    const Uuid sessionID = sessionID_;
    co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::expired);
    if (sessionID_ == sessionID) {
        // The expired prompt stays on screen.
        co_await endSession(nullptr, std::nullopt, false, true);
    }
}

asio::awaitable<bool> ScreenStreamBroadcaster::handlePairingStart(const PairingStartMessage& message) {
    // The set-up time-out does not run while the user types the code.
    sessionSetupTimeoutTask_.cancel();
    sessionSetupTimeoutTask_ = Task();

    if (pairingExchange_ || !localSigningPrivateKey_) {
        logger_.error(pairingExchange_ ? "Refusing a second pairing attempt in the same session"
                                       : "Cannot pair without a local signing key");
        co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::failed);
        co_return false;
    }
    std::optional<Bytes> pairedKey;
    if (auto stored = peerStore_->peer(message.peerID)) {
        pairedKey = stored->signingPublicKey;
    }
    auto begun =
        HostPairingExchange::begin(message, currentHello_, localPeerIdentity_, *localSigningPrivateKey_,
                                   pairedKey, tlsCertificateDER_, pendingPeerCertificate_, currentDate());
    if (!begun) {
        const bool identityChanged = begun.error() == HostPairingExchange::BeginFailure::identityChanged;
        logger_.error(identityChanged ? "Refusing to pair: the headset presents another signing key"
                                      : "Refusing to pair: the pairing start does not fit the session");
        co_await sendPairingRejectedIgnoringFailure(identityChanged ? PairingFailureReason::identityChanged
                                                                    : PairingFailureReason::failed);
        co_return false;
    }
    pairingExchange_ = std::move(begun->exchange);
    schedulePairingCodeExpiry(message.attemptID, pairingExchange_->expiresAt());
    logger_.info("Pairing attempt opened by ", privateValue(message.displayName));
    const Uuid sessionID = sessionID_;
    const StreamControlMessage outgoing =
        StreamControlMessage::make<StreamControlMessage::Case::pairingChallenge>(begun->challenge);
    const bool sent = co_await sendPairingMessage(outgoing);
    if (!sent) {
        if (sessionID_ == sessionID) {
            pairingExchange_.reset();
            cancelPairingCodeExpiry();
        }
        co_return false;
    }
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::handlePairingClientChallenge(
    const PairingClientChallengeMessage& message) {
    std::optional<HostPairingExchange::PromptInfo> info;
    if (pairingExchange_) {
        info = pairingExchange_->receiveClientChallenge(message, currentDate());
    }
    if (!info) {
        co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::failed);
        co_return false;
    }
    schedulePairingCodeExpiry(info->attemptID, info->expiresAt);
    publishPairingPrompt(PairingPrompt{info->attemptID, info->peerID, info->peerName, info->remainingAttempts,
                                       info->expiresAt, false, false});
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::handlePairingClientResponse(
    const PairingClientResponseMessage& message) {
    std::optional<PairingServerConfirmationMessage> confirmation;
    if (pairingExchange_) {
        confirmation = pairingExchange_->receiveClientResponse(message, currentDate());
    }
    if (!confirmation) {
        co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::failed);
        co_return false;
    }
    const StreamControlMessage outgoing =
        StreamControlMessage::make<StreamControlMessage::Case::pairingServerConfirmation>(*confirmation);
    co_return co_await sendPairingMessage(outgoing);
}

asio::awaitable<bool> ScreenStreamBroadcaster::handlePairingClientConfirmation(
    const PairingClientConfirmationMessage& message) {
    std::optional<HostPairingExchange::Acceptance> acceptance;
    if (pairingExchange_) {
        acceptance = pairingExchange_->receiveClientConfirmation(message, currentDate());
    }
    if (!acceptance) {
        co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::failed);
        co_return false;
    }
    const Uuid sessionID = sessionID_;
    // The headset hears of the acceptance before anything is stored: a pairing it never learnt of must not
    // be remembered.
    const StreamControlMessage outgoing =
        StreamControlMessage::make<StreamControlMessage::Case::pairingAccepted>(acceptance->message);
    if (!co_await sendPairingMessage(outgoing)) {
        co_return false;
    }
    if (sessionID_ != sessionID || !pairingExchange_) {
        // Cancelled or ended while the acceptance was written.
        co_return false;
    }
    // The attempt is decided: it can no longer expire.
    cancelPairingCodeExpiry();
    std::function<void(PairedPeerStore&)> save = [record = acceptance->peerRecord](PairedPeerStore& store) {
        store.upsert(record);
    };
    co_await writePeerStore(std::move(save));
    if (sessionID_ != sessionID || !pairingExchange_) {
        // Cancelled or ended while the record was saved.
        co_return false;
    }
    publishPairingPrompt(std::nullopt);
    pairingExchange_.reset();
    isAuthorized_ = true;
    // The newly paired headset now has the usual time to report that it is ready.
    startSessionSetupTimeout(sessionID_);
    logger_.info("Paired with ", privateValue(acceptance->peerRecord.name));
    co_await sendCertificateRotation(acceptance->peerRecord.id);
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::continuePairingExchange(
    const PairingRoundRejectedMessage& message) {
    if (!pairingExchange_) {
        co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::failed);
        co_return false;
    }
    switch (pairingExchange_->receiveRoundRejected(message, currentDate())) {
        case RoundRejectionOutcome::newRound:
            co_return true;
        case RoundRejectionOutcome::rejected:
            logger_.error("Pairing refused after too many wrong codes");
            co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::tooManyAttempts);
            co_return false;
        case RoundRejectionOutcome::ignored:
            break;
    }
    co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::failed);
    co_return false;
}

asio::awaitable<void> ScreenStreamBroadcaster::submitPairingCode(std::string code) {
    auto self = shared_from_this();
    co_await actor_.run(
        [this, &code]() -> asio::awaitable<void> { co_await submitPairingCodeOnActor(code); });
}

asio::awaitable<void> ScreenStreamBroadcaster::submitPairingCodeOnActor(std::string code) {
    if (!pairingExchange_ || isVerifyingPairingCode_) {
        co_return;
    }
    const Uuid sessionID = sessionID_;
    const Uuid attemptID = pairingExchange_->start().attemptID;
    auto computation = pairingExchange_->prepareCodeSubmission(code, currentDate());
    if (!computation) {
        // Not six digits, or no round waits for a code: the prompt stays as it is.
        co_return;
    }

    isVerifyingPairingCode_ = true;
    HostPairingExchange::CodeComputation::Result result;
    std::exception_ptr failure;
    if (dependencies_.blockingWork != nullptr) {
        auto work = [prepared = std::move(*computation)] { return prepared.run(); };
        try {
            result = co_await runBlocking(*dependencies_.blockingWork, std::move(work));
        } catch (...) {
            failure = std::current_exception();
        }
    } else {
        result = computation->run();
    }
    isVerifyingPairingCode_ = false;
    // The attempt may have ended, been cancelled or replaced meanwhile.
    if (sessionID_ != sessionID || !pairingExchange_ || pairingExchange_->start().attemptID != attemptID) {
        co_return;
    }
    if (failure) {
        logger_.error("Could not check the pairing code: ", errorDescription(failure));
        co_return;
    }

    auto outcome = pairingExchange_->completeCodeSubmission(std::move(result), currentDate());
    switch (outcome.kind) {
        case HostPairingExchange::CodeSubmissionOutcome::Kind::ignored:
            co_return;
        case HostPairingExchange::CodeSubmissionOutcome::Kind::failed:
            co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::failed);
            if (sessionID_ == sessionID) {
                co_await endSession(nullptr, std::nullopt, true, true);
            }
            co_return;
        case HostPairingExchange::CodeSubmissionOutcome::Kind::sendServerChallenge:
            break;
    }
    if (currentPairingPrompt_) {
        PairingPrompt verifying = *currentPairingPrompt_;
        verifying.isVerifying = true;
        publishPairingPrompt(verifying);
    }
    const StreamControlMessage outgoing =
        StreamControlMessage::make<StreamControlMessage::Case::pairingServerChallenge>(
            *outcome.serverChallenge);
    const bool sent = co_await sendPairingMessage(outgoing);
    if (!sent && sessionID_ == sessionID) {
        co_await endSession(nullptr, std::nullopt, true, true);
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::cancelPairing() {
    auto self = shared_from_this();
    co_await actor_.run([this]() -> asio::awaitable<void> { co_await cancelPairingOnActor(); });
}

asio::awaitable<void> ScreenStreamBroadcaster::cancelPairingOnActor() {
    const bool isAttemptOpen = pairingExchange_ != nullptr;
    cancelPairingCodeExpiry();
    publishPairingPrompt(std::nullopt);
    if (!isAttemptOpen) {
        // Only a prompt left over from an ended attempt is dismissed; whatever session runs now (another
        // headset, or the same one reconnected) is not this prompt's to end.
        co_return;
    }
    logger_.info("Pairing cancelled on the host");
    const Uuid sessionID = sessionID_;
    co_await sendPairingRejectedIgnoringFailure(PairingFailureReason::canceled);
    if (sessionID_ == sessionID) {
        co_await endSession(nullptr, std::nullopt, true, true);
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::forgetPairedPeer(Uuid id) {
    auto self = shared_from_this();
    co_await actor_.run([this, id]() -> asio::awaitable<void> { co_await forgetPairedPeerOnActor(id); });
}

asio::awaitable<void> ScreenStreamBroadcaster::forgetPairedPeerOnActor(Uuid id) {
    std::function<void(PairedPeerStore&)> remove = [id](PairedPeerStore& store) { store.removePeer(id); };
    co_await writePeerStore(std::move(remove));
    // Asked once the removal is saved: the session may have changed meanwhile, and the forgotten headset
    // may even have come back.
    const bool isCurrentHeadset = currentHello_ && currentHello_->peerID == id;
    if (!isCurrentHeadset) {
        co_return;
    }
    auto self = shared_from_this();
    spawnDetached("pairing removal", [self]() -> asio::awaitable<void> {
        std::optional<State> removed = State::failed("Pairing removed");
        co_await self->endSession(nullptr, std::move(removed), true, true);
    });
}

// Peer-store writes.

asio::awaitable<void> ScreenStreamBroadcaster::writePeerStore(std::function<void(PairedPeerStore&)> write) {
    if (dependencies_.blockingWork == nullptr) {
        applyPeerStoreWrite(*peerStore_, write);
        pairedPeerChanges_->yield({});
        co_return;
    }
    // The job owns what it uses: a store of its own over the same settings and secrets, its turn (which ends
    // when the job ends or is dropped unrun) and the stream it announces the write on. It logs its own
    // failure, since its caller may stop waiting while it runs.
    auto work = [turn = peerStoreWriteOrder_->take(), defaults = dependencies_.defaults,
                 secrets = dependencies_.secrets, write = std::move(write),
                 changes = pairedPeerChanges_]() mutable {
        turn.wait();
        PairedPeerStore store(*defaults, *secrets, PairingRole::mac);
        applyPeerStoreWrite(store, write);
        turn.end();
        changes->yield({});
    };
    try {
        co_await runBlocking(*dependencies_.blockingWork, std::move(work));
    } catch (const std::exception& error) {
        if (!isAbandonedWait(error)) {
            logger_.error("Could not save the paired headsets: ", error.what());
        }
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::updateStoredPeer(PairedPeerRecord record) {
    // Named before it is awaited (GCC 12 loses the captures of such a lambda written inside co_await).
    std::function<void(PairedPeerStore&)> update = [record = std::move(record)](PairedPeerStore& store) {
        if (store.peer(record.id)) {
            store.upsert(record);
        }
    };
    co_await writePeerStore(std::move(update));
}

// Certificate rotation.

asio::awaitable<void> ScreenStreamBroadcaster::sendCertificateRotation(Uuid peerID) {
    if (!localSigningPrivateKey_) {
        co_return;
    }
    const Uuid sessionID = sessionID_;
    std::optional<GeneratedTLSIdentity::Loaded> rotated;
    if (dependencies_.blockingWork != nullptr) {
        auto work = [secrets = dependencies_.secrets, localID = localPeerIdentity_.id] {
            return GeneratedTLSIdentity::rotate(*secrets, localID);
        };
        try {
            rotated = co_await runBlocking(*dependencies_.blockingWork, std::move(work));
        } catch (const std::exception& error) {
            if (!isAbandonedWait(error)) {
                logger_.error("Could not rotate the TLS identity: ", error.what());
            }
            co_return;
        }
    } else {
        rotated = GeneratedTLSIdentity::rotate(*dependencies_.secrets, localPeerIdentity_.id);
    }
    if (!rotated) {
        logger_.error("Could not rotate the TLS identity");
        co_return;
    }
    auto signature = localSigningPrivateKey_->signature(SessionAuthentication::certificateSignaturePayload(
        localPeerIdentity_.id, peerID, rotated->certificateDER));
    if (!signature) {
        logger_.error("Could not sign the rotated TLS certificate");
        co_return;
    }
    // The running listener keeps the old identity; the next listener run presents this one.
    tlsIdentity_ = rotated->identity;
    tlsCertificateDER_ = rotated->certificateDER;
    if (sessionID_ != sessionID) {
        co_return;
    }
    try {
        const StreamControlMessage outgoing =
            StreamControlMessage::make<StreamControlMessage::Case::certificateRotation>(
                CertificateRotationMessage{localPeerIdentity_.id, rotated->certificateDER,
                                           std::move(*signature)});
        co_await sendInline(outgoing);
    } catch (const std::exception& error) {
        logger_.error("Failed to send the certificate rotation: ", error.what());
    }
}

asio::awaitable<bool> ScreenStreamBroadcaster::handleCertificateRotation(
    const CertificateRotationMessage& message) {
    const Uuid sessionID = sessionID_;
    if (!currentHello_ || currentHello_->peerID != message.peerID) {
        co_return false;
    }
    auto stored = peerStore_->peer(message.peerID);
    if (!stored) {
        co_return false;
    }
    const auto peerKey = P256PublicKey::fromRawRepresentation(stored->signingPublicKey);
    if (!peerKey ||
        !peerKey->isValidSignature(message.certificateSignature,
                                   SessionAuthentication::certificateSignaturePayload(
                                       message.peerID, localPeerIdentity_.id, message.certificateDER))) {
        logger_.error("Refusing the headset's certificate rotation: the signature does not verify");
        co_return false;
    }
    stored->tlsCertificate = message.certificateDER;
    stored->lastSeenAt = currentDate();
    co_await updateStoredPeer(std::move(*stored));
    // A session that ended while the record was saved is not this handler's to go on with.
    co_return sessionID_ == sessionID;
}

// Session end: the hello, the challenge, the captured certificate and any pairing attempt go; the prompt
// stays on screen unless told otherwise, and is published either way.
void ScreenStreamBroadcaster::endAdmission(bool clearPairingPrompt) {
    currentHello_.reset();
    currentServerNonce_.reset();
    pendingPeerCertificate_.reset();
    pairingExchange_.reset();
    pairingCodeExpiryTask_.cancel();
    pairingCodeExpiryTask_ = Task();
    if (clearPairingPrompt) {
        currentPairingPrompt_.reset();
    }
    pairingPrompts_.yield(currentPairingPrompt_);
}

// Authorised session start.

asio::awaitable<void> ScreenStreamBroadcaster::beginAuthorizedSession() {
    // No other headset can connect while this session lasts: the probe and the listener stop (the
    // advertisement is withdrawn; the live connection goes on). Listening resumes at the session's end.
    listener_->pause();
    co_await videoPipeline_->announceDisplayAndFormat();
}

}  // namespace quillbridge
