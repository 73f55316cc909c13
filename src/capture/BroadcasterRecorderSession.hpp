#pragma once

#include <memory>

#include "capture/ScreenRecorderSession.hpp"
#include "session/ScreenStreamBroadcaster.hpp"

namespace quillbridge {

// The recorder's session over the real broadcaster: each call is forwarded to the broadcaster, which runs it
// on its own strand and resumes the caller on the caller's executor; the streams are the broadcaster's own.
class BroadcasterRecorderSession final : public ScreenRecorderSession {
public:
    // `broadcaster` must not be null.
    explicit BroadcasterRecorderSession(std::shared_ptr<ScreenStreamBroadcaster> broadcaster);

    const std::shared_ptr<ScreenStreamBroadcaster>& broadcaster() const { return broadcaster_; }

    AsyncStream<State>& updates() override;
    AsyncStream<StreamConfigurationMessage>& configurations() override;
    AsyncStream<std::optional<PairingPrompt>>& pairingPrompts() override;
    AsyncStream<bool>& personaCameraSharingStates() override;
    AsyncStream<bool>& microphoneSharingStates() override;
    AsyncStream<std::monostate>& pairedPeerChanges() override;

    asio::awaitable<bool> hasConnection() override;
    asio::awaitable<void> startObservingKeyboardLayoutChanges() override;
    asio::awaitable<void> startListening() override;
    asio::awaitable<void> restartListening() override;
    asio::awaitable<void> stopListeningIfNotConnected() override;
    asio::awaitable<void> stop() override;
    asio::awaitable<void> endSessionKeepingListener() override;
    asio::awaitable<bool> wakeDisplayForActiveConnection() override;

    asio::awaitable<bool> peerToPeerEnabled() override;
    asio::awaitable<void> setPeerToPeerEnabled(bool enabled) override;

    asio::awaitable<void> encodeOrDeferVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame) override;
    asio::awaitable<void> completePendingFrames() override;
    asio::awaitable<void> sendAudioBuffer(std::shared_ptr<const AudioPCMBuffer> buffer) override;
    asio::awaitable<void> updateCapturedDisplay(CapturedDisplayReport report) override;

    asio::awaitable<void> applyVideoCodec(StreamCodec codec) override;
    asio::awaitable<void> applyFrameRate(int framesPerSecond) override;
    asio::awaitable<void> requestVideoEncodingPipelineReset() override;

    asio::awaitable<void> submitPairingCode(std::string code) override;
    asio::awaitable<void> cancelPairing() override;
    asio::awaitable<void> forgetPairedPeer(Uuid id) override;
    asio::awaitable<std::vector<PairedPeerRecord>> pairedPeers() override;

    asio::awaitable<void> setPersonaCameraRequested(bool isRequested, std::uint64_t revision) override;
    asio::awaitable<void> setMicrophoneRequested(bool isRequested, std::uint64_t revision) override;

private:
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster_;
};

}  // namespace quillbridge
