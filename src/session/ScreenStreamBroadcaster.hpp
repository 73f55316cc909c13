#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/PersonaCameraReceiver.hpp"
#include "bridge/VisionMicrophoneReceiver.hpp"
#include "core/Actor.hpp"
#include "core/AsyncStream.hpp"
#include "core/BlockingWorkPool.hpp"
#include "core/Clock.hpp"
#include "core/Date.hpp"
#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"
#include "core/Task.hpp"
#include "core/Uuid.hpp"
#include "input/MouseEventPoster.hpp"
#include "pairing/DefaultsStore.hpp"
#include "pairing/HostPairingExchange.hpp"
#include "pairing/P256SigningKey.hpp"
#include "pairing/PairedPeerStore.hpp"
#include "pairing/PeerCertificateCapture.hpp"
#include "pairing/SecretStore.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "pairing/TLSIdentity.hpp"
#include "session/AudioConverterFactory.hpp"
#include "session/AudioPCMAccumulator.hpp"
#include "session/AudioPipeline.hpp"
#include "session/CapturedDisplay.hpp"
#include "session/CapturedVideoFrame.hpp"
#include "session/ClipboardTransferService.hpp"
#include "session/ClipboardTransfers.hpp"
#include "session/ConnectionPowerActivity.hpp"
#include "session/DisplayWaker.hpp"
#include "session/HostFormFactor.hpp"
#include "session/InboundStreamRouter.hpp"
#include "session/KeyboardLayoutChangeObserver.hpp"
#include "session/KeyboardReporting.hpp"
#include "session/KeyboardReportingService.hpp"
#include "session/Listener.hpp"
#include "session/PeerStoreWriteOrder.hpp"
#include "session/QuicTransport.hpp"
#include "session/RemoteInputSink.hpp"
#include "session/ScreenStreamBroadcasterDependencies.hpp"
#include "session/ScreenStreamBroadcasterState.hpp"
#include "session/ScrollMomentum.hpp"
#include "session/ServiceAdvertiser.hpp"
#include "session/ServiceBrowser.hpp"
#include "session/SessionContext.hpp"
#include "session/SessionErrors.hpp"
#include "session/VideoColorProperties.hpp"
#include "session/VideoEncoder.hpp"
#include "session/VideoEncoderFactory.hpp"
#include "session/VideoPipeline.hpp"
#include "wire/AudioStreamFormatAnnouncementMessage.hpp"
#include "wire/ClipboardTransferOperation.hpp"
#include "wire/EncodedVideoFrame.hpp"
#include "wire/KeyboardLayoutSnapshot.hpp"
#include "wire/KeyboardLockStateMessage.hpp"
#include "wire/KeyboardTypePreference.hpp"
#include "wire/LocalDeviceIdentity.hpp"
#include "wire/SessionHelloMessage.hpp"
#include "wire/StreamCodec.hpp"
#include "wire/StreamConfigurationMessage.hpp"
#include "wire/StreamControlMessage.hpp"
#include "wire/VideoFormatDescriptionMessage.hpp"

namespace quillbridge {

// The host's network session: one actor (a strand) that owns the advertised QUIC listener, the one
// accepted headset connection and its streams, the control conversation and everything that crosses the
// connection. Every session ends through endSession(). Create it with create(); all public awaitables may
// be awaited from any executor and run on the broadcaster's strand.
class ScreenStreamBroadcaster : public std::enable_shared_from_this<ScreenStreamBroadcaster> {
public:
    using State = ScreenStreamBroadcasterState;

    // The pairing code prompt shown while a headset pairs.
    struct PairingPrompt {
        Uuid id;
        Uuid peerID;
        std::string peerName;
        int remainingAttempts = 0;
        Date expiresAt;
        bool isExpired = false;
        bool isVerifying = false;

        bool operator==(const PairingPrompt&) const = default;
    };

    // Which control messages are handled before the headset is authorised.
    enum class ControlMessageGate {
        // Handled whatever the authorisation.
        any,
        // Dropped silently until the session is authorised.
        authorized,
        // Authorised and the host asked for the Persona camera.
        authorizedWithCameraRequested,
        // Authorised and the host asked for the microphone.
        authorizedWithMicrophoneRequested,
    };
    static ControlMessageGate gate(StreamControlMessage::Case messageCase);

    static std::shared_ptr<ScreenStreamBroadcaster> create(ScreenStreamBroadcasterDependencies dependencies);
    ~ScreenStreamBroadcaster();
    ScreenStreamBroadcaster(const ScreenStreamBroadcaster&) = delete;
    ScreenStreamBroadcaster& operator=(const ScreenStreamBroadcaster&) = delete;

    // Outputs, in the order they are created.
    AsyncStream<State>& updates() { return updates_; }
    AsyncStream<StreamConfigurationMessage>& configurations() { return configurations_; }
    AsyncStream<bool>& personaCameraSharingStates() { return personaCameraSharingStates_; }
    AsyncStream<bool>& microphoneSharingStates() { return microphoneSharingStates_; }
    AsyncStream<std::optional<PairingPrompt>>& pairingPrompts() { return pairingPrompts_; }
    // Yields once after every write of the paired-peer list has ended, also one that went on after the
    // session that asked for it ended: whoever shows the list reads it again.
    AsyncStream<std::monostate>& pairedPeerChanges() { return *pairedPeerChanges_; }

    asio::any_io_executor executor() const { return actor_.executor(); }
    const LocalDeviceIdentity& localPeerIdentity() const { return localPeerIdentity_; }

    // Starts the Local Network probe and, unless one runs, the listener.
    asio::awaitable<void> startListening();
    // Cancels probe and listener and starts both again.
    asio::awaitable<void> restartListening();
    // Stops the listener and the probe and ends any session. A teardown already under way when it is called
    // no longer restarts the listener. The owner calls it before releasing the broadcaster: the listener and
    // the probe keep it alive while they run.
    asio::awaitable<void> stop();
    // Stops the listener and the probe unless a headset is connected; a teardown under way then no longer
    // restarts the listener either.
    asio::awaitable<void> stopListeningIfNotConnected();

    // The one teardown of a session. A second teardown while one runs returns at once. Runs to its end
    // even when the awaiting coroutine is cancelled.
    asio::awaitable<void> endSession(std::exception_ptr error, std::optional<State> state,
                                     bool clearPairingPrompt, bool restartListening);

    // Audio: takes one captured PCM buffer (its presentationTimeNanoseconds is the host time of its first
    // frame), cuts it into 512-frame chunks, compresses them and sends each as one audio datagram. Audio
    // that arrives while no headset is ready for it is dropped, not queued. Never throws: failures end in a
    // log line, in forgetting the datagram flow, or in ending the session.
    asio::awaitable<void> sendAudioDatagrams(AudioPCMBuffer buffer);

    // Declares user activity for the connected headset; false without a connection or when the system
    // refused.
    asio::awaitable<bool> wakeDisplayForActiveConnection();

    // Sends one control message on the control stream; nothing (and no error) without one. Throws the
    // encoding or send error.
    asio::awaitable<void> sendControlMessage(StreamControlMessage message);

    // Opens the authorisation gate of the current session: what reconnect authentication and pairing do
    // once the headset proved itself.
    asio::awaitable<void> authorizeCurrentSession();

    // Admission: the user's answers to the pairing prompt. A code that is not six digits, or one typed
    // while no attempt waits for it, changes nothing. Cancelling ends the session only while an attempt is
    // open; otherwise it just dismisses the prompt. Forgetting the connected headset ends its session with
    // "Pairing removed".
    asio::awaitable<void> submitPairingCode(std::string code);
    asio::awaitable<void> cancelPairing();
    asio::awaitable<void> forgetPairedPeer(Uuid id);

    // Video: what the capture side and the host coordinator hand to the session.
    using CapturedDisplay = quillbridge::CapturedDisplay;
    // Submits a captured frame (status complete or absent) to the encoder, or keeps it as the one frame
    // waiting for the encoder when the pipeline cannot take it now; it then replaces any frame kept before.
    asio::awaitable<void> encodeOrDeferVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame);
    // For a captured frame with status idle: asks the encoder to finish the frames it holds.
    asio::awaitable<void> completePendingFrames();
    // Takes in a change of the captured display or its frame rate.
    asio::awaitable<void> updateCapturedDisplay(CapturedDisplay display);
    // The codec of the next encoder, taken over by a pipeline reset that drops the waiting frame.
    asio::awaitable<void> setVideoCodec(StreamCodec codec);
    // Rebuilds the encoder as soon as nothing is in flight.
    asio::awaitable<void> requestVideoEncodingPipelineReset(bool dropDeferredFrame);

    // What the host wants of the headset's Persona camera and microphone. A call whose revision is not
    // above the last one's is ignored; a change is told to an authorised headset, and turning one off
    // resets its receiver.
    asio::awaitable<void> setPersonaCameraRequested(bool isRequested, std::uint64_t revision);
    asio::awaitable<void> setMicrophoneRequested(bool isRequested, std::uint64_t revision);

    // Host coordination: what the capture side reads and sets on the session.
    // Starts observing the host's keyboard layout, once: each change restarts the debounced layout refresh.
    asio::awaitable<void> startObservingKeyboardLayoutChanges();
    // Whether a headset connection exists, admitted or not.
    asio::awaitable<bool> hasConnection();
    // The peer-to-peer flag the next listener is built with. Setting it leaves a running listener alone.
    asio::awaitable<bool> peerToPeerEnabled();
    asio::awaitable<void> setPeerToPeerEnabled(bool enabled);
    // The paired headsets as the store holds them now.
    asio::awaitable<std::vector<PairedPeerRecord>> pairedPeers();
    // The frame rate of the next encoder (at least 1), taken over by a pipeline reset that drops the waiting
    // frame; nothing happens when it equals the pending (or, without one, the current) frame rate.
    asio::awaitable<void> setVideoFrameRate(int framesPerSecond);

private:
    friend struct ScreenStreamBroadcasterTestAccess;
    // Audio.
    friend struct ScreenStreamBroadcasterAudioTestAccess;
    // The loopback stream tests.
    friend struct ScreenStreamBroadcasterLoopbackTestAccess;
    enum class LoopStep { readOn, endLoop };

    explicit ScreenStreamBroadcaster(ScreenStreamBroadcasterDependencies dependencies);
    void initialize();

    // Everything below runs on the strand.

    // Lifecycle.
    void stopOnActor(bool& needsTeardown);
    void beginConnectionActivity();
    void endConnectionActivity();
    void startSessionSetupTimeout(const Uuid& sessionID);
    bool handleTransportError(const std::exception_ptr& error) const;
    void startConnectionLostTeardown(std::exception_ptr error);
    asio::awaitable<void> runEndSession(std::exception_ptr error, std::optional<State> state,
                                        bool clearPairingPrompt, bool restartListening);
    void closeAfterFlush(std::shared_ptr<QuicConnection> connection,
                         std::shared_ptr<QuicStream> controlStream);
    void spawnDetached(std::string name, std::function<asio::awaitable<void>()> body);

    // Connection.
    asio::awaitable<void> accept(std::shared_ptr<QuicConnection> connection,
                                 std::shared_ptr<PeerCertificateCapture> capture);
    asio::awaitable<void> runInboundStreamLoop(std::shared_ptr<QuicConnection> connection, Uuid sessionID,
                                               std::shared_ptr<PeerCertificateCapture> capture);
    asio::awaitable<void> handleInboundStream(std::shared_ptr<QuicStream> stream, Uuid sessionID,
                                              std::shared_ptr<PeerCertificateCapture> capture);
    asio::awaitable<void> handleConnectionState(QuicConnectionState state, Uuid sessionID);
    bool wakeDisplayOnActor();

    // Control loop.
    asio::awaitable<void> runControlMessageLoop(std::shared_ptr<QuicStream> stream, Uuid sessionID,
                                                std::shared_ptr<PeerCertificateCapture> capture);
    asio::awaitable<LoopStep> dispatch(const StreamControlMessage& message, std::uint64_t hostReceiveTime,
                                       const Uuid& sessionID);
    asio::awaitable<void> sendControlMessageOnActor(const StreamControlMessage& message);
    asio::awaitable<void> sendInline(const StreamControlMessage& message);
    asio::awaitable<LoopStep> endAfterRefusal(bool accepted, const Uuid& sessionID);
    asio::awaitable<void> endLoopWithError(std::exception_ptr error, const Uuid& sessionID);
    StreamControlMessage clockSynchronizationResponse(const ClockSynchronizationRequestMessage& request,
                                                      std::uint64_t hostReceiveTime) const;
    void applyReceiverReport(const StreamReceiverReportMessage& report);
    asio::awaitable<LoopStep> handleReceiverReady(const Uuid& sessionID);
    std::uint64_t hostTimeNanoseconds() const;

    // Admission (hello, authentication, pairing, rotation, authorised start).
    asio::awaitable<void> handleHello(const SessionHelloMessage& hello);
    asio::awaitable<bool> handleAuthenticationResponse(const AuthenticationResponseMessage& response);
    asio::awaitable<bool> handlePairingStart(const PairingStartMessage& message);
    asio::awaitable<bool> handlePairingClientChallenge(const PairingClientChallengeMessage& message);
    asio::awaitable<bool> handlePairingClientResponse(const PairingClientResponseMessage& message);
    asio::awaitable<bool> handlePairingClientConfirmation(const PairingClientConfirmationMessage& message);
    asio::awaitable<bool> continuePairingExchange(const PairingRoundRejectedMessage& message);
    asio::awaitable<bool> handleCertificateRotation(const CertificateRotationMessage& message);
    asio::awaitable<void> beginAuthorizedSession();
    void endAdmission(bool clearPairingPrompt);
    SessionAuthentication::HostVerification verifyAuthenticationResponse(
        const AuthenticationResponseMessage& response, Date now) const;
    asio::awaitable<void> sendPairingRejectedIgnoringFailure(PairingFailureReason reason);
    asio::awaitable<bool> sendPairingMessage(const StreamControlMessage& message);
    void publishPairingPrompt(std::optional<PairingPrompt> prompt);
    void schedulePairingCodeExpiry(const Uuid& attemptID, Date expiresAt);
    void cancelPairingCodeExpiry();
    asio::awaitable<void> expirePairingCode(Uuid attemptID);
    asio::awaitable<void> submitPairingCodeOnActor(std::string code);
    asio::awaitable<void> cancelPairingOnActor();
    asio::awaitable<void> forgetPairedPeerOnActor(Uuid id);
    // Writes to the paired-peer list: on a blocking-work worker when there is a pool (the actor moves on
    // meanwhile, so callers re-check their session afterwards), else in place. A failure is logged; a write
    // whose caller stops waiting (its session ended) still ends, and reports only its own failure. Every
    // write that ran is announced on pairedPeerChanges().
    asio::awaitable<void> writePeerStore(std::function<void(PairedPeerStore&)> write);
    // Saves the newer state of a record already stored; a record removed meanwhile stays removed.
    asio::awaitable<void> updateStoredPeer(PairedPeerRecord record);
    asio::awaitable<void> sendCertificateRotation(Uuid peerID);
    // Wall-clock time that moves with the injected clock (so that tests drive expiry with a manual clock).
    Date currentDate() const;

    // Remote input.
    void handleMouseClick(const MouseClickMessage& message);
    void handleMouseMove(const MouseMoveMessage& message);
    void handleMousePosition(const MousePositionMessage& message);
    void handleKeyboardEvent(const KeyboardEventMessage& message);
    void handleKeyboardTypePreference(const KeyboardTypePreferenceMessage& message);
    void handleTextInput(const TextInputMessage& message);
    void handleSystemAction(const SystemActionMessage& message);
    void releaseRemoteInput();

    ScreenStreamBroadcasterDependencies dependencies_;
    Actor actor_;

    // Outputs.
    AsyncStream<State> updates_;
    AsyncStream<StreamConfigurationMessage> configurations_;
    AsyncStream<bool> personaCameraSharingStates_;
    AsyncStream<bool> microphoneSharingStates_;
    AsyncStream<std::optional<PairingPrompt>> pairingPrompts_;
    // Shared with the peer-store writes that run on blocking-work workers.
    std::shared_ptr<AsyncStream<std::monostate>> pairedPeerChanges_ =
        std::make_shared<AsyncStream<std::monostate>>();

    // Collaborators.
    Logger logger_{"ScreenStreamBroadcaster"};
    // What the components below see of the session.
    class Context;
    std::unique_ptr<Context> context_;
    std::unique_ptr<PairedPeerStore> peerStore_;
    // Peer-store writes that run on blocking-work workers keep the order they were issued in.
    std::shared_ptr<PeerStoreWriteOrder> peerStoreWriteOrder_ = PeerStoreWriteOrder::create();
    LocalDeviceIdentity localPeerIdentity_;
    std::optional<P256SigningKey> localSigningPrivateKey_;
    std::optional<TLSIdentity> tlsIdentity_;
    std::optional<Bytes> tlsCertificateDER_;
    std::shared_ptr<PersonaAVTimingCoordinator> personaAVTimingCoordinator_;

    // Components.
    std::unique_ptr<Listener> listener_;
    std::unique_ptr<KeyboardReporting> keyboardReporting_;
    std::unique_ptr<ScrollMomentum> scrollMomentum_;
    std::unique_ptr<ClipboardTransfers> clipboardTransfers_;
    std::unique_ptr<AudioPipeline> audioPipeline_;
    std::unique_ptr<VideoPipeline> videoPipeline_;
    std::unique_ptr<InboundStreamRouter> inboundStreamRouter_;

    // Connection and streams.
    std::shared_ptr<QuicConnection> connection_;
    std::shared_ptr<QuicStream> controlStream_;
    Task inboundStreamTask_;
    // The per-stream handlers of the inbound stream loop (the control loop first).
    std::vector<Task> inboundStreamHandlerTasks_;
    Uuid sessionID_;
    bool isTearingDownSession_ = false;
    bool isReceiverReady_ = false;
    bool isAuthorized_ = false;
    Task sessionSetupTimeoutTask_;
    // Teardowns run as tasks of their own so that a cancelled caller cannot cut one short.
    std::vector<Task> teardownTasks_;
    // Connections being flushed and closed after their session ended.
    std::vector<Task> closingConnectionTasks_;

    // Power.
    std::unique_ptr<ConnectionPowerActivity::Token> connectionPowerActivity_;
    std::uint32_t displayWakeActivityID_ = 0;

    // Pairing and authentication.
    std::optional<SessionHelloMessage> currentHello_;
    std::optional<Bytes> currentServerNonce_;
    std::optional<Bytes> pendingPeerCertificate_;
    std::optional<PairingPrompt> currentPairingPrompt_;
    std::unique_ptr<HostPairingExchange> pairingExchange_;
    Task pairingCodeExpiryTask_;

    // Admission.
    // A code is being checked off the actor; further codes wait for its outcome.
    bool isVerifyingPairingCode_ = false;
    Date dateAnchor_ = Date::now();
    Clock::TimePoint clockAnchor_ =
        dependencies_.clock != nullptr ? dependencies_.clock->now() : Clock::TimePoint{};

    // Keyboard and scrolling.
};

// The name the host advertises: the system's display name trimmed, "Mac" when that leaves nothing.
std::string hostDisplayName(std::string_view systemName);

}  // namespace quillbridge
