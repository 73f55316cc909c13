#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>

#include "core/Bytes.hpp"
#include "core/Task.hpp"
#include "pairing/P256SigningKey.hpp"
#include "session/QuicConnection.hpp"
#include "support/audio/AacTestDecoder.hpp"
#include "support/headset/DecodedVideoFrame.hpp"
#include "support/headset/HostLocator.hpp"
#include "support/headset/VideoStreamDecoder.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "wire/ClipboardPayloadStreamHeader.hpp"
#include "wire/ClipboardTransferPayload.hpp"
#include "wire/ClipboardTransferResultCode.hpp"
#include "wire/EncodedVideoFrame.hpp"
#include "wire/LocalDeviceIdentity.hpp"
#include "wire/SessionHelloMessage.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {

class LossyUdpRelay;

// A headset for tests, speaking the wire protocol as the headset app does over a real QUIC connection: it
// finds the host, connects with its own certificate, says hello, pairs with a six-digit code it shows (the
// test types that code into the host), reconnects with the signed challenge-response, follows the host's
// certificate rotations, reports that its receiver is ready, receives and decodes the video stream and the
// audio datagrams, answers clock synchronisation, sends input, clipboard and Persona media, and leaves
// with a disconnect request or without a word.
//
// What a paired headset remembers (the host's identifier, name, signing key and its certificate as last
// rotated, and its own identity and signing key) lives in the simulator and survives reconnects; so does the
// TLS identity of its QUIC client.
//
// Every member runs on the executor the simulator was made with, which must be single-threaded (an
// io_context turned by one thread, or a strand): await its coroutines from coroutines on that executor.
// Background tasks (the control reader, the acceptor of host-opened streams, the datagram reader) record
// what arrives; the accessors read those records. Waits are bounded by `Options::responseTimeout` (and
// `pairingCodeTimeout` while the code is shown) and end with HeadsetSimulatorError.
//
// A typical run, in a test that turns the io_context itself:
//
//     HeadsetSimulator headset(context.get_executor(),
//                              ServiceBrowserHostLocator([] { return std::make_unique<AvahiServiceBrowser>();
//                              })
//                                  .locator());
//     run(headset.connect());
//     co_spawn(context, headset.pair(), ...);          // the headset now shows headset.pairingCode()
//     ... wait for the host's pairing prompt, then host.submitPairingCode(*headset.pairingCode()) ...
//     run(headset.sendReceiverReady());
//     ... headset.decodedVideoFrames(), headset.decodedAudioSamples() ...
//     run(headset.disconnect());
//     run(headset.reconnect());                       // signed challenge-response, rotated certificate
class HeadsetSimulator {
public:
    using Case = StreamControlMessage::Case;

    struct Options {
        std::string displayName = "Simulated Headset";
        // The code the headset shows when pairing; empty: six random digits for each round.
        std::string pairingCode;
        // How long any answer of the host may take.
        std::chrono::milliseconds responseTimeout{10000};
        // How long the headset shows its code before giving up (the host's attempt lasts 60 s).
        std::chrono::milliseconds pairingCodeTimeout{60000};
        // The headset's media clock for clock synchronisation; empty: CLOCK_MONOTONIC.
        std::function<std::uint64_t()> headsetTimeNanoseconds;
        // What the clock synchronisation result asks for as the lead of the headset's own media.
        std::uint64_t reverseMediaLeadNanoseconds = 50'000'000;
        // Whether received video frames and audio chunks are acknowledged with receiver reports by
        // themselves (each video frame, every fourth audio chunk).
        bool sendsReceiverReports = true;
        // Connect through a UDP relay on the test loopback, so that vanish() can cut the path without the
        // host hearing a close. The host must then listen on the test loopback address.
        bool connectsThroughRelay = false;
        // The control protocol versions the headset's hello claims.
        std::uint16_t controlProtocolVersion = hostControlProtocolVersion;
        std::uint16_t minimumCompatibleControlProtocolVersion = hostControlProtocolVersion;
        // The QUIC idle time-out the headset offers.
        std::chrono::milliseconds idleTimeout{15000};
    };

    // What the headset remembers of the host it paired with.
    struct PairedHost {
        Uuid peerID;
        std::string displayName;
        // Raw P-256 public key (64 bytes).
        Bytes signingPublicKey;
        // The host's TLS certificate (DER) as last rotated: the next connect expects exactly this one.
        Bytes certificateDER;
    };

    // A video frame as it came off the host's media stream.
    struct ReceivedVideoFrame {
        std::uint64_t frameID = 0;
        std::uint64_t presentationTimeNanoseconds = 0;
        bool isKeyFrame = false;
        std::size_t payloadByteCount = 0;
    };

    // An audio datagram as it came in.
    struct ReceivedAudioChunk {
        std::uint32_t formatRevision = 0;
        std::uint64_t chunkID = 0;
        std::uint64_t presentationTimeNanoseconds = 0;
        std::size_t packetCount = 0;
        // Samples of the first channel that its packets decoded to.
        std::size_t decodedFrameCount = 0;
    };

    HeadsetSimulator(asio::any_io_executor executor, HostLocator locator, Options options);
    HeadsetSimulator(asio::any_io_executor executor, HostLocator locator)
        : HeadsetSimulator(std::move(executor), std::move(locator), Options{}) {}
    ~HeadsetSimulator();
    HeadsetSimulator(const HeadsetSimulator&) = delete;
    HeadsetSimulator& operator=(const HeadsetSimulator&) = delete;

    const LocalDeviceIdentity& identity() const { return identity_; }
    const P256SigningKey& signingKey() const { return signingKey_; }
    const Bytes& certificateDER() const { return client_.identity().certificateDER; }
    const std::optional<PairedHost>& pairedHost() const { return pairedHost_; }
    // Forgets the host (as a headset whose pairing was removed).
    void forgetPairedHost() { pairedHost_.reset(); }
    QuicTestClient& client() { return client_; }
    const std::shared_ptr<QuicConnection>& connection() const { return connection_; }

    // Session.
    // Locates the host and opens the QUIC connection and the control stream. A paired headset accepts only
    // the host certificate it remembers. What is left of a session the host ended is let go first.
    asio::awaitable<void> connect();
    // Sends the headset's hello and returns the host's.
    asio::awaitable<SessionHelloMessage> hello(bool wantsPairing);
    // hello asking to pair, then the whole pairing exchange up to the host's acceptance and certificate
    // rotation. While the host waits for its user, pairingCode() shows the code to type. A wrong code gets
    // the round rejected and a new round with a new code, until the host gives up.
    asio::awaitable<void> pair();
    // The code the headset shows while a pairing round waits for the host's user.
    const std::optional<std::string>& pairingCode() const { return shownPairingCode_; }
    // hello as a paired headset and the signed challenge-response, checking the host's signatures, then
    // the host's certificate rotation.
    asio::awaitable<void> authenticate();
    // connect() and authenticate().
    asio::awaitable<void> reconnect();
    asio::awaitable<void> sendReceiverReady();
    asio::awaitable<void> send(StreamControlMessage message);
    asio::awaitable<void> sendReceiverReport(StreamReceiverReportMessage report);
    asio::awaitable<void> requestKeyFrame(KeyFrameRequestReason reason);
    // Measures the offset to the host clock over `rounds` request-response pairs (the one with the shortest
    // round trip counts), sends the result to the host and returns it.
    asio::awaitable<ClockSynchronizationResultMessage> synchronizeClock(int rounds = 3);
    // Asks to leave and waits for the host's acknowledgement, then closes the connection.
    asio::awaitable<void> disconnect();
    // Closes the connection at once (the host sees a close).
    void close();
    // Drops the connection without a word: the relay path is cut before the connection is let go, so the
    // host hears nothing more. Needs `connectsThroughRelay`.
    void vanish();
    bool isConnected() const;
    // Why the control stream ended (empty while it runs).
    const std::string& controlStreamEndReason() const { return controlEndReason_; }

    // Control messages.
    // The oldest message of the case not yet taken, waiting for one. A `pairingRejected` not yet taken ends
    // the wait with its reason (unless that is the case asked for).
    template <Case C>
    asio::awaitable<StreamControlMessage::PayloadType<C>> receive() {
        auto message = co_await receiveCase(C, options_.responseTimeout);
        co_return *message.template get<C>();
    }
    // Every control message of this connection, in the order received.
    const std::vector<StreamControlMessage>& receivedMessages() const { return history_; }
    std::size_t receivedCount(Case messageCase) const;

    // Video.
    const std::optional<VideoFormatDescriptionMessage>& videoFormat() const { return videoFormat_; }
    const std::vector<ReceivedVideoFrame>& receivedVideoFrames() const { return receivedVideoFrames_; }
    std::size_t decodedVideoFrameCount() const { return decodedVideoFrameCount_; }
    // The last decoded pictures (a few are kept), oldest first.
    const std::deque<DecodedVideoFrame>& decodedVideoFrames() const { return decodedVideoFrames_; }
    // Frames the decoder refused, and the last reason.
    std::size_t undecodableVideoFrameCount() const { return undecodableVideoFrameCount_; }
    const std::string& lastVideoDecodeError() const { return lastVideoDecodeError_; }

    // Audio.
    const std::map<std::uint32_t, AudioStreamFormatAnnouncementMessage>& audioFormats() const {
        return audioFormats_;
    }
    const std::vector<ReceivedAudioChunk>& receivedAudioChunks() const { return receivedAudioChunks_; }
    // The decoded samples of the first channel, in arrival order.
    const std::vector<float>& decodedAudioSamples() const { return decodedAudioSamples_; }
    std::size_t undecodableAudioPacketCount() const { return undecodableAudioPacketCount_; }

    // Waits (bounded by the response time-out) until the condition holds; it is checked after everything
    // the background tasks record.
    asio::awaitable<void> waitUntil(std::function<bool()> condition, std::string what);

    // Input.
    asio::awaitable<void> sendMouseClick(MouseClickMessage message);
    asio::awaitable<void> sendMouseMove(MouseMoveMessage message);
    asio::awaitable<void> sendMouseScroll(MouseScrollMessage message);
    asio::awaitable<void> sendMousePosition(MousePositionMessage message);
    asio::awaitable<void> sendKeyboardEvent(KeyboardEventMessage message);
    asio::awaitable<void> sendTextInput(std::string text);
    asio::awaitable<void> sendSystemAction(RemoteSystemAction action);

    // Clipboard.
    // What a copy from the host gave: `succeeded` with the payload, or the code of the host's refusal.
    struct ClipboardCopyResult {
        ClipboardTransferResultCode result = ClipboardTransferResultCode::failed;
        std::optional<ClipboardTransferPayload> payload;
    };
    // Asks for the host's clipboard.
    asio::awaitable<ClipboardCopyResult> copyFromHost(std::uint64_t transferID);
    // Whether the host has opened the stream of this copy, left unread until copyFromHost takes it.
    bool hasHostClipboardStream(std::uint64_t transferID) const;
    // Pastes onto the host's clipboard on a stream of its own; the host's result.
    asio::awaitable<ClipboardTransferResultCode> pasteToHost(const ClipboardTransferPayload& payload,
                                                             std::uint64_t transferID);

    // Persona camera and microphone.
    // The request the host sent last, if any.
    std::optional<bool> personaCameraRequested() const { return personaCameraRequested_; }
    std::optional<bool> microphoneRequested() const { return microphoneRequested_; }
    // Whether the headset's user switched sharing on, and the formats of what it sends.
    asio::awaitable<void> sendPersonaCameraSharingState(bool isEnabled);
    asio::awaitable<void> sendMicrophoneSharingState(bool isEnabled);
    asio::awaitable<void> sendPersonaCameraFormat(PersonaCameraFormatDescriptionMessage format);
    asio::awaitable<void> sendMicrophoneFormat(MicrophoneFormatMessage format);
    // Sends one frame on the Persona camera stream, opening it (kind byte) first when needed.
    asio::awaitable<void> sendPersonaCameraFrame(const EncodedVideoFrame& frame);
    asio::awaitable<void> endPersonaCameraStream();
    // Sends one chunk of mono 32-bit float samples on the microphone stream, opening it first when needed.
    asio::awaitable<void> sendMicrophoneChunk(std::uint64_t chunkID, std::uint64_t captureTimeNanoseconds,
                                              std::span<const float> samples);
    asio::awaitable<void> endMicrophoneStream();

private:
    struct HostClipboardStream {
        ClipboardPayloadStreamHeader header;
        std::shared_ptr<QuicStream> stream;
    };

    asio::awaitable<StreamControlMessage> receiveCase(Case messageCase, std::chrono::milliseconds timeout);
    asio::awaitable<void> waitForChange(std::chrono::steady_clock::time_point deadline);
    void notifyChange();
    void requireConnection() const;
    asio::awaitable<void> followCertificateRotation();
    std::uint64_t headsetTimeNanoseconds() const;
    void stopSessionTasks();
    void resetSessionRecords();

    // Background tasks; each checks `alive` after every await before touching the simulator.
    asio::awaitable<void> readControlStream(std::shared_ptr<QuicStream> control, std::shared_ptr<bool> alive);
    asio::awaitable<void> acceptHostStreams(std::shared_ptr<QuicConnection> connection,
                                            std::shared_ptr<bool> alive);
    asio::awaitable<void> routeHostStream(std::shared_ptr<QuicStream> stream, std::shared_ptr<bool> alive);
    asio::awaitable<void> readHostStream(std::shared_ptr<QuicStream> stream, std::shared_ptr<bool> alive);
    asio::awaitable<void> readVideoStream(std::shared_ptr<QuicStream> stream, std::shared_ptr<bool> alive);
    asio::awaitable<void> readDatagrams(std::shared_ptr<QuicConnection> connection,
                                        std::shared_ptr<bool> alive);
    asio::awaitable<void> handleControlMessage(const StreamControlMessage& message);
    void takeVideoFormat(const VideoFormatDescriptionMessage& format);
    void decodeVideoFrame(const VideoFrameStreamHeader& header, const Bytes& payload);
    void takeAudioFormat(const AudioStreamFormatAnnouncementMessage& announcement);
    // Handles one datagram; false when its format is not known yet.
    bool takeAudioDatagram(const Bytes& datagram);
    asio::awaitable<void> sendAutomaticReport(bool forVideo);

    asio::any_io_executor executor_;
    HostLocator locator_;
    Options options_;
    LocalDeviceIdentity identity_;
    P256SigningKey signingKey_;
    QuicTestClient client_;
    std::optional<PairedHost> pairedHost_;

    // The connection of the current session.
    std::unique_ptr<LossyUdpRelay> relay_;
    std::shared_ptr<QuicConnection> connection_;
    std::shared_ptr<QuicStream> control_;
    std::shared_ptr<QuicStream> personaStream_;
    std::shared_ptr<QuicStream> microphoneStream_;
    // Marks the tasks of one session, so that a later session's records are not touched by them.
    std::shared_ptr<bool> sessionAlive_;
    Task controlTask_;
    Task acceptTask_;
    Task datagramTask_;
    std::vector<Task> streamTasks_;
    bool controlEnded_ = false;
    std::string controlEndReason_;

    // Waiters for a change of the records.
    std::list<asio::steady_timer*> waiters_;

    // Control messages.
    std::vector<StreamControlMessage> history_;
    std::deque<StreamControlMessage> inbox_;
    std::optional<std::string> shownPairingCode_;
    std::uint32_t nextClockSequenceNumber_ = 1;

    // Video.
    std::optional<VideoFormatDescriptionMessage> videoFormat_;
    std::unique_ptr<VideoStreamDecoder> videoDecoder_;
    bool videoDecoderNeedsKeyFrame_ = true;
    std::vector<ReceivedVideoFrame> receivedVideoFrames_;
    std::deque<std::pair<VideoFrameStreamHeader, Bytes>> framesAwaitingFormat_;
    std::deque<DecodedVideoFrame> decodedVideoFrames_;
    std::size_t decodedVideoFrameCount_ = 0;
    std::size_t undecodableVideoFrameCount_ = 0;
    std::string lastVideoDecodeError_;
    std::optional<VideoFrameStreamHeader> highestVideoFrame_;

    // Audio.
    std::map<std::uint32_t, AudioStreamFormatAnnouncementMessage> audioFormats_;
    std::map<std::uint32_t, std::unique_ptr<AacTestDecoder>> audioDecoders_;
    std::deque<Bytes> datagramsAwaitingFormat_;
    std::vector<ReceivedAudioChunk> receivedAudioChunks_;
    std::vector<float> decodedAudioSamples_;
    std::size_t undecodableAudioPacketCount_ = 0;
    std::optional<std::uint64_t> highestAudioChunkID_;

    // Clipboard streams the host opened, waiting to be read.
    std::deque<HostClipboardStream> hostClipboardStreams_;

    // Persona camera and microphone requests.
    std::optional<bool> personaCameraRequested_;
    std::optional<bool> microphoneRequested_;
};

}  // namespace quillbridge
