#include "session/ScreenStreamBroadcaster.hpp"

// Admission of the headset: hello, reconnect authentication, pairing, certificate rotation and the start of
// an authorised session. Until these are built, each handler only notes what arrived and refuses nothing;
// the session stays unauthorised until authorizeCurrentSession() is called.

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::handleHello(const SessionHelloMessage& hello) {
    currentHello_ = hello;
    logger_.info("Received hello from ", privateValue(hello.displayName));
    co_return;
}

asio::awaitable<bool> ScreenStreamBroadcaster::handleAuthenticationResponse(
    const AuthenticationResponseMessage&) {
    logger_.info("Received an authentication response; reconnect authentication is not available yet");
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::handlePairingStart(const PairingStartMessage&) {
    logger_.info("Received a pairing start; pairing is not available yet");
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::handlePairingClientChallenge(
    const PairingClientChallengeMessage&) {
    logger_.info("Received a pairing client challenge; pairing is not available yet");
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::handlePairingClientResponse(
    const PairingClientResponseMessage&) {
    logger_.info("Received a pairing client response; pairing is not available yet");
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::handlePairingClientConfirmation(
    const PairingClientConfirmationMessage&) {
    logger_.info("Received a pairing client confirmation; pairing is not available yet");
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::continuePairingExchange(const PairingRoundRejectedMessage&) {
    logger_.info("Received a rejected pairing round; pairing is not available yet");
    co_return true;
}

asio::awaitable<bool> ScreenStreamBroadcaster::handleCertificateRotation(const CertificateRotationMessage&) {
    logger_.info("Received a certificate rotation; rotation is not available yet");
    co_return true;
}

asio::awaitable<void> ScreenStreamBroadcaster::beginAuthorizedSession() {
    logger_.info("Authorised session start is not available yet");
    co_return;
}

}  // namespace quillbridge
