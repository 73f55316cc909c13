#include "capture/ScreenRecorder.hpp"

#include <algorithm>

namespace quillbridge {

namespace {

int hdrMode(bool isHDREnabled, bool usesCanonicalHDR) {
    if (!isHDREnabled) {
        return 0;
    }
    return usesCanonicalHDR ? 2 : 1;
}

}  // namespace

asio::awaitable<void> ScreenRecorder::handleSessionState(State state) {
    using Kind = State::Kind;
    if (state.kind != Kind::localNetworkPermissionGranted) {
        assign(streamingStatus_, state.statusText(), ScreenRecorderProperty::streamingStatus);
    }
    co_await reloadPairedPeers();
    const auto setLocalNetwork = [this](bool resolving, bool granted) {
        assign(isResolvingLocalNetworkPermission_, resolving,
               ScreenRecorderProperty::isResolvingLocalNetworkPermission);
        assign(localNetworkPermissionIsGranted_, granted,
               ScreenRecorderProperty::localNetworkPermissionIsGranted);
        recordPermission(MandatoryPermissionIssue::localNetwork, granted || resolving);
    };
    switch (state.kind) {
        case Kind::connected:
            setLocalNetwork(false, true);
            hasActiveClient_ = true;
            assign(isConnected_, true, ScreenRecorderProperty::isConnected);
            co_await applyConnectionMuteIfNeeded();
            if (isMicrophoneSharingEnabled_) {
                co_await startVirtualMicrophonePassthrough();
            }
            updatePersonaCameraTransportRequest();
            updateMicrophoneTransportRequest();
            co_await startCaptureIfNeeded();
            break;
        case Kind::localNetworkPermissionChecking:
            setLocalNetwork(true, false);
            break;
        case Kind::localNetworkPermissionGranted:
            setLocalNetwork(false, true);
            break;
        case Kind::localNetworkPermissionCheckFailed:
            setLocalNetwork(false, false);
            break;
        case Kind::localNetworkPermissionDenied:
            setLocalNetwork(false, false);
            co_await endSession(true);
            break;
        case Kind::idle:
        case Kind::listening:
        case Kind::failed:
            co_await endSession(false);
            break;
    }
}

asio::awaitable<void> ScreenRecorder::endSession(bool keepsTimingState) {
    hasActiveClient_ = false;
    assign(isConnected_, false, ScreenRecorderProperty::isConnected);
    assign(virtualMicrophoneErrorMessage_, std::optional<std::string>(),
           ScreenRecorderProperty::virtualMicrophoneErrorMessage);
    co_await stopVirtualMicrophonePassthrough();
    updatePersonaCameraTransportRequest();
    updateMicrophoneTransportRequest();
    if (!keepsTimingState && dependencies_.timingCoordinator) {
        dependencies_.timingCoordinator->reset();
    }
    // An expired prompt stays up so that the user sees why pairing ended.
    if (!pairingPrompt_ || !pairingPrompt_->isExpired) {
        assign(pairingPrompt_, std::optional<PairingPrompt>(), ScreenRecorderProperty::pairingPrompt);
    }
    co_await stopCapture();
    co_await stopSystemAudioMute();
    hasPendingConnectionConfiguration_ = false;
    hasHandledConnectionMute_ = false;
}

asio::awaitable<void> ScreenRecorder::applyStreamConfiguration(StreamConfigurationMessage message) {
    const int modeBefore = hdrMode(isHDREnabled_, usesCanonicalHDR_);
    if (!hasHandledConnectionMute_) {
        hasPendingConnectionConfiguration_ = true;
    }
    captureResolution_ = message.resolution;
    captureFrameRate_ = message.frameRate;
    assign(requestedVideoCodec_, message.videoCodec, ScreenRecorderProperty::requestedVideoCodec);
    assign(isHDREnabled_, message.isHDREnabled, ScreenRecorderProperty::isHDREnabled);
    usesCanonicalHDR_ = message.isHDREnabled && message.usesCanonicalHDR;
    mutesHostAudio_ = message.mutesHostAudio;
    const bool hdrModeChanged = hdrMode(isHDREnabled_, usesCanonicalHDR_) != modeBefore;

    co_await applyConnectionMuteIfNeeded();
    co_await session_->applyVideoCodec(effectiveVideoCodec());
    if (hdrModeChanged) {
        co_await session_->requestVideoEncodingPipelineReset();
    }
    co_await session_->applyFrameRate(std::max(1, effectiveFrameRate()));

    if (hdrModeChanged) {
        if (hasActiveClient_ && isRunning_) {
            // The HDR preset needs a new stream.
            co_await stopCapture();
            co_await startCaptureIfNeeded();
        }
    } else {
        co_await updateCapture();
    }
}

}  // namespace quillbridge
