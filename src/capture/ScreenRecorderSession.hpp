#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <asio/awaitable.hpp>

#include "capture/CaptureDisplay.hpp"
#include "core/AsyncStream.hpp"
#include "core/Uuid.hpp"
#include "session/AudioPCMBuffer.hpp"
#include "session/CapturedVideoFrame.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "wire/PairedPeerRecord.hpp"
#include "wire/StreamCodec.hpp"
#include "wire/StreamConfigurationMessage.hpp"

namespace quillbridge {

// What the recorder tells the session about the display it captures.
struct CapturedDisplayReport {
    std::optional<std::uint32_t> displayID;
    int frameRate = 0;
    CaptureRect frame;
    CaptureSize pointSize;
    CaptureSize pixelSize;
    bool operator==(const CapturedDisplayReport&) const = default;
};

// The streaming session as the recorder drives it. Every call hops onto the session's own actor and returns
// to the caller's executor; the streams are consumed by the recorder's main-actor tasks.
class ScreenRecorderSession {
public:
    using State = ScreenStreamBroadcaster::State;
    using PairingPrompt = ScreenStreamBroadcaster::PairingPrompt;

    virtual ~ScreenRecorderSession() = default;

    virtual AsyncStream<State>& updates() = 0;
    virtual AsyncStream<StreamConfigurationMessage>& configurations() = 0;
    // The pairing prompt to show; nothing once it is withdrawn.
    virtual AsyncStream<std::optional<PairingPrompt>>& pairingPrompts() = 0;
    // Whether the headset lends its Persona camera, and its microphone, as it reports them.
    virtual AsyncStream<bool>& personaCameraSharingStates() = 0;
    virtual AsyncStream<bool>& microphoneSharingStates() = 0;
    // Yields after every write of the paired-peer list: read the list again.
    virtual AsyncStream<std::monostate>& pairedPeerChanges() = 0;

    // Whether a headset is connected.
    virtual asio::awaitable<bool> hasConnection() = 0;
    virtual asio::awaitable<void> startObservingKeyboardLayoutChanges() = 0;
    virtual asio::awaitable<void> startListening() = 0;
    virtual asio::awaitable<void> restartListening() = 0;
    virtual asio::awaitable<void> stopListeningIfNotConnected() = 0;
    // Ends any session and stops listening.
    virtual asio::awaitable<void> stop() = 0;
    // Ends the current session with the idle state and no error, clears the pairing prompt and keeps (or
    // brings back) the listener.
    virtual asio::awaitable<void> endSessionKeepingListener() = 0;
    // Keeps the screens awake for the connected headset; false without a connection or when they cannot be
    // kept awake.
    virtual asio::awaitable<bool> wakeDisplayForActiveConnection() = 0;

    // The peer-to-peer flag the next listener is built with.
    virtual asio::awaitable<bool> peerToPeerEnabled() = 0;
    virtual asio::awaitable<void> setPeerToPeerEnabled(bool enabled) = 0;

    virtual asio::awaitable<void> encodeOrDeferVideoFrame(
        std::shared_ptr<const CapturedVideoFrame> frame) = 0;
    virtual asio::awaitable<void> completePendingFrames() = 0;
    virtual asio::awaitable<void> sendAudioBuffer(std::shared_ptr<const AudioPCMBuffer> buffer) = 0;
    virtual asio::awaitable<void> updateCapturedDisplay(CapturedDisplayReport report) = 0;

    // Makes the codec the pending one and resets the encoding pipeline, when it differs from the pending (or,
    // without one, the current) codec.
    virtual asio::awaitable<void> applyVideoCodec(StreamCodec codec) = 0;
    // The same for the encoded frame rate.
    virtual asio::awaitable<void> applyFrameRate(int framesPerSecond) = 0;
    // Rebuilds the encoding pipeline before the next frame, dropping a deferred frame.
    virtual asio::awaitable<void> requestVideoEncodingPipelineReset() = 0;

    // The user's answers to the pairing prompt, and the paired-device list.
    virtual asio::awaitable<void> submitPairingCode(std::string code) = 0;
    virtual asio::awaitable<void> cancelPairing() = 0;
    virtual asio::awaitable<void> forgetPairedPeer(Uuid id) = 0;
    virtual asio::awaitable<std::vector<PairedPeerRecord>> pairedPeers() = 0;

    // What the host wants of the headset's Persona camera and microphone; a revision not above the last
    // one's is ignored.
    virtual asio::awaitable<void> setPersonaCameraRequested(bool isRequested, std::uint64_t revision) = 0;
    virtual asio::awaitable<void> setMicrophoneRequested(bool isRequested, std::uint64_t revision) = 0;
};

}  // namespace quillbridge
