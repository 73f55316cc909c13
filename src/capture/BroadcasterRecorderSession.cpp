#include "capture/BroadcasterRecorderSession.hpp"

#include <stdexcept>
#include <utility>

namespace quillbridge {

BroadcasterRecorderSession::BroadcasterRecorderSession(std::shared_ptr<ScreenStreamBroadcaster> broadcaster)
    : broadcaster_(std::move(broadcaster)) {
    if (!broadcaster_) {
        throw std::invalid_argument("BroadcasterRecorderSession needs a broadcaster");
    }
}

AsyncStream<ScreenRecorderSession::State>& BroadcasterRecorderSession::updates() {
    return broadcaster_->updates();
}

AsyncStream<StreamConfigurationMessage>& BroadcasterRecorderSession::configurations() {
    return broadcaster_->configurations();
}

AsyncStream<std::optional<ScreenRecorderSession::PairingPrompt>>&
BroadcasterRecorderSession::pairingPrompts() {
    return broadcaster_->pairingPrompts();
}

AsyncStream<bool>& BroadcasterRecorderSession::personaCameraSharingStates() {
    return broadcaster_->personaCameraSharingStates();
}

AsyncStream<bool>& BroadcasterRecorderSession::microphoneSharingStates() {
    return broadcaster_->microphoneSharingStates();
}

AsyncStream<std::monostate>& BroadcasterRecorderSession::pairedPeerChanges() {
    return broadcaster_->pairedPeerChanges();
}

asio::awaitable<bool> BroadcasterRecorderSession::hasConnection() {
    co_return co_await broadcaster_->hasConnection();
}

asio::awaitable<void> BroadcasterRecorderSession::startObservingKeyboardLayoutChanges() {
    co_await broadcaster_->startObservingKeyboardLayoutChanges();
}

asio::awaitable<void> BroadcasterRecorderSession::startListening() {
    co_await broadcaster_->startListening();
}

asio::awaitable<void> BroadcasterRecorderSession::restartListening() {
    co_await broadcaster_->restartListening();
}

asio::awaitable<void> BroadcasterRecorderSession::stopListeningIfNotConnected() {
    co_await broadcaster_->stopListeningIfNotConnected();
}

asio::awaitable<void> BroadcasterRecorderSession::stop() {
    co_await broadcaster_->stop();
}

asio::awaitable<void> BroadcasterRecorderSession::endSessionKeepingListener() {
    co_await broadcaster_->endSession(nullptr, ScreenStreamBroadcaster::State::idle(), true, true);
}

asio::awaitable<bool> BroadcasterRecorderSession::wakeDisplayForActiveConnection() {
    co_return co_await broadcaster_->wakeDisplayForActiveConnection();
}

asio::awaitable<bool> BroadcasterRecorderSession::peerToPeerEnabled() {
    co_return co_await broadcaster_->peerToPeerEnabled();
}

asio::awaitable<void> BroadcasterRecorderSession::setPeerToPeerEnabled(bool enabled) {
    co_await broadcaster_->setPeerToPeerEnabled(enabled);
}

asio::awaitable<void> BroadcasterRecorderSession::encodeOrDeferVideoFrame(
    std::shared_ptr<const CapturedVideoFrame> frame) {
    co_await broadcaster_->encodeOrDeferVideoFrame(std::move(frame));
}

asio::awaitable<void> BroadcasterRecorderSession::completePendingFrames() {
    co_await broadcaster_->completePendingFrames();
}

asio::awaitable<void> BroadcasterRecorderSession::sendAudioBuffer(
    std::shared_ptr<const AudioPCMBuffer> buffer) {
    if (!buffer) {
        co_return;
    }
    co_await broadcaster_->sendAudioDatagrams(*buffer);
}

asio::awaitable<void> BroadcasterRecorderSession::updateCapturedDisplay(CapturedDisplayReport report) {
    ScreenStreamBroadcaster::CapturedDisplay display{
        .displayID = report.displayID,
        .frameRate = report.frameRate,
        .frame = DisplayRect{report.frame.x, report.frame.y, report.frame.width, report.frame.height},
        .pointWidth = report.pointSize.width,
        .pointHeight = report.pointSize.height,
        .pixelWidth = report.pixelSize.width,
        .pixelHeight = report.pixelSize.height,
    };
    co_await broadcaster_->updateCapturedDisplay(std::move(display));
}

asio::awaitable<void> BroadcasterRecorderSession::applyVideoCodec(StreamCodec codec) {
    co_await broadcaster_->setVideoCodec(codec);
}

asio::awaitable<void> BroadcasterRecorderSession::applyFrameRate(int framesPerSecond) {
    co_await broadcaster_->setVideoFrameRate(framesPerSecond);
}

asio::awaitable<void> BroadcasterRecorderSession::requestVideoEncodingPipelineReset() {
    co_await broadcaster_->requestVideoEncodingPipelineReset(true);
}

asio::awaitable<void> BroadcasterRecorderSession::submitPairingCode(std::string code) {
    co_await broadcaster_->submitPairingCode(std::move(code));
}

asio::awaitable<void> BroadcasterRecorderSession::cancelPairing() {
    co_await broadcaster_->cancelPairing();
}

asio::awaitable<void> BroadcasterRecorderSession::forgetPairedPeer(Uuid id) {
    co_await broadcaster_->forgetPairedPeer(id);
}

asio::awaitable<std::vector<PairedPeerRecord>> BroadcasterRecorderSession::pairedPeers() {
    co_return co_await broadcaster_->pairedPeers();
}

asio::awaitable<void> BroadcasterRecorderSession::setPersonaCameraRequested(bool isRequested,
                                                                            std::uint64_t revision) {
    co_await broadcaster_->setPersonaCameraRequested(isRequested, revision);
}

asio::awaitable<void> BroadcasterRecorderSession::setMicrophoneRequested(bool isRequested,
                                                                         std::uint64_t revision) {
    co_await broadcaster_->setMicrophoneRequested(isRequested, revision);
}

}  // namespace quillbridge
