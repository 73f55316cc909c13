#include "support/headset/HeadsetSimulator.hpp"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "core/BigEndian.hpp"
#include "core/Date.hpp"
#include "core/SecureRandom.hpp"
#include "pairing/P256PublicKey.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "support/audio/ElementaryStreamDescriptorReader.hpp"
#include "support/audio/FdkAacTestDecoder.hpp"
#include "support/headset/HeadsetSimulatorError.hpp"
#include "support/pairing/ClientPairingExchange.hpp"
#include "support/quic/LossyUdpRelay.hpp"
#include "support/quic/TestLoopback.hpp"
#include "wire/AudioFrameDatagram.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/InboundStreamKind.hpp"
#include "wire/MicrophoneFrameStreamHeader.hpp"
#include "wire/RawValueEnumeration.hpp"
#include "wire/SessionHelloMessage.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

// Bounds on what one session keeps, so that a long run cannot grow without end.
constexpr std::size_t keptDecodedVideoFrames = 4;
constexpr std::size_t keptFramesAwaitingFormat = 32;
constexpr std::size_t keptDatagramsAwaitingFormat = 256;
constexpr std::size_t keptInboxMessages = 4096;
// The largest video frame the headset takes off the media stream.
constexpr std::uint32_t maximumVideoPayloadBytes = 64u * 1024 * 1024;
// Audio chunks acknowledged together.
constexpr std::uint64_t audioChunksPerReport = 4;

std::string caseName(Case messageCase) {
    return std::string(StreamControlMessage::name(messageCase));
}

std::string randomPairingCode() {
    const Bytes random = secureRandomBytes(6);
    std::string code;
    for (const auto byte : random) {
        code.push_back(static_cast<char>('0' + byte % 10));
    }
    return code;
}

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ull +
           static_cast<std::uint64_t>(now.tv_nsec);
}

bool isAborted(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const asio::system_error& failure) {
        return failure.code() == asio::error::operation_aborted;
    } catch (...) {
        return false;
    }
}

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "unknown error";
    }
}

// The host's media-stream header: the 22-byte layout of VideoFrameStreamHeader, in the version the host
// writes.
std::optional<VideoFrameStreamHeader> readHostVideoHeader(ByteView data) {
    std::size_t cursor = 0;
    VideoFrameStreamHeader header;
    const auto version = readUInt8(data, cursor);
    const auto frameID = readBigEndianUInt64(data, cursor);
    const auto time = readBigEndianUInt64(data, cursor);
    const auto count = readBigEndianUInt32(data, cursor);
    const auto key = readUInt8(data, cursor);
    if (!version || !frameID || !time || !count || !key || *version != VideoFrameStreamHeader::hostVersion) {
        return std::nullopt;
    }
    header.version = *version;
    header.frameID = *frameID;
    header.presentationTimeNanoseconds = *time;
    header.payloadByteCount = *count;
    header.isKeyFrame = (*key & 1) != 0;
    return header;
}

}  // namespace

HeadsetSimulator::HeadsetSimulator(asio::any_io_executor executor, HostLocator locator, Options options)
    : executor_(std::move(executor)),
      locator_(std::move(locator)),
      options_(std::move(options)),
      identity_{Uuid::random(), options_.displayName},
      signingKey_(P256SigningKey::generate()) {}

HeadsetSimulator::~HeadsetSimulator() {
    stopSessionTasks();
    if (connection_) {
        connection_->close(0);
    }
}

// Session.

void HeadsetSimulator::requireConnection() const {
    if (!connection_ || !control_) {
        throw HeadsetSimulatorError("the headset is not connected");
    }
}

bool HeadsetSimulator::isConnected() const {
    return connection_ && !controlEnded_ && connection_->state().kind == QuicConnectionState::Kind::ready;
}

void HeadsetSimulator::stopSessionTasks() {
    if (sessionAlive_) {
        *sessionAlive_ = false;
        sessionAlive_.reset();
    }
    controlTask_.cancel();
    acceptTask_.cancel();
    datagramTask_.cancel();
    for (auto& task : streamTasks_) {
        task.cancel();
    }
    streamTasks_.clear();
}

void HeadsetSimulator::resetSessionRecords() {
    controlEnded_ = false;
    controlEndReason_.clear();
    history_.clear();
    inbox_.clear();
    shownPairingCode_.reset();
    videoFormat_.reset();
    videoDecoder_.reset();
    videoDecoderNeedsKeyFrame_ = true;
    receivedVideoFrames_.clear();
    framesAwaitingFormat_.clear();
    decodedVideoFrames_.clear();
    decodedVideoFrameCount_ = 0;
    undecodableVideoFrameCount_ = 0;
    lastVideoDecodeError_.clear();
    highestVideoFrame_.reset();
    audioFormats_.clear();
    audioDecoders_.clear();
    datagramsAwaitingFormat_.clear();
    receivedAudioChunks_.clear();
    decodedAudioSamples_.clear();
    undecodableAudioPacketCount_ = 0;
    highestAudioChunkID_.reset();
    hostClipboardStreams_.clear();
    personaCameraRequested_.reset();
    microphoneRequested_.reset();
    personaStream_.reset();
    microphoneStream_.reset();
}

asio::awaitable<void> HeadsetSimulator::connect() {
    if (connection_ && isConnected()) {
        throw HeadsetSimulatorError("the headset is already connected");
    }
    if (connection_) {
        // The host ended the last session: let go of what is left of it.
        close();
    }
    // A browse may still show the host's previous listener for a moment after it went (mDNS caches): like
    // the headset app, try again, locating the host anew each time, until the response time runs out.
    const auto deadline = std::chrono::steady_clock::now() + options_.responseTimeout;
    std::shared_ptr<QuicConnection> connection;
    std::unique_ptr<LossyUdpRelay> relay;
    for (;;) {
        std::exception_ptr failure;
        try {
            const HostEndpoint endpoint = co_await locator_();
            QuicTestClient::Options options;
            options.host = endpoint.address;
            options.idleTimeout = options_.idleTimeout;
            if (pairedHost_) {
                options.expectedServerCertificateDER = pairedHost_->certificateDER;
            }
            std::uint16_t port = endpoint.port;
            relay.reset();
            if (options_.connectsThroughRelay) {
                if (endpoint.address != testLoopbackAddress()) {
                    throw HeadsetSimulatorError("the relay needs the host on " + testLoopbackAddress());
                }
                LossyUdpRelay::Options relayOptions;
                relayOptions.lossRate = 0;
                relayOptions.delay = std::chrono::milliseconds(0);
                relay = std::make_unique<LossyUdpRelay>(endpoint.port, relayOptions);
                port = relay->port();
            }
            connection = co_await client_.connect(port, options);
        } catch (const std::system_error&) {
            failure = std::current_exception();
        }
        if (!failure) {
            break;
        }
        if (isAborted(failure) || std::chrono::steady_clock::now() >= deadline) {
            std::rethrow_exception(failure);
        }
        asio::steady_timer pause(executor_, std::chrono::milliseconds(250));
        co_await pause.async_wait(asio::use_awaitable);
    }
    auto control = co_await connection->openStream(QuicStreamDirectionality::bidirectional);

    resetSessionRecords();
    relay_ = std::move(relay);
    connection_ = connection;
    control_ = control;
    sessionAlive_ = std::make_shared<bool>(true);
    const auto alive = sessionAlive_;
    controlTask_ = Task::spawn(
        executor_, [this, control, alive]() { return readControlStream(control, alive); }, "headset control");
    acceptTask_ = Task::spawn(
        executor_, [this, connection, alive]() { return acceptHostStreams(connection, alive); },
        "headset streams");
    datagramTask_ = Task::spawn(
        executor_, [this, connection, alive]() { return readDatagrams(connection, alive); },
        "headset datagrams");
}

asio::awaitable<SessionHelloMessage> HeadsetSimulator::hello(bool wantsPairing) {
    requireConnection();
    {
        auto message = StreamControlMessage::make<Case::hello>(
            SessionHelloMessage{identity_.id, identity_.name, wantsPairing, options_.controlProtocolVersion,
                                options_.minimumCompatibleControlProtocolVersion});
        co_await send(std::move(message));
    }
    co_return co_await receive<Case::hello>();
}

asio::awaitable<void> HeadsetSimulator::pair() {
    requireConnection();
    const SessionHelloMessage hostHello = co_await hello(true);
    ClientPairingExchange exchange(identity_, signingKey_, certificateDER(), hostHello.peerID, Date::now());
    {
        auto message = StreamControlMessage::make<Case::pairingStart>(exchange.start());
        co_await send(std::move(message));
    }
    const auto challenge = co_await receive<Case::pairingChallenge>();
    if (!exchange.receiveChallenge(challenge, connection_->peerCertificateDER())) {
        throw HeadsetSimulatorError("the host's pairing challenge does not check out");
    }
    for (;;) {
        const std::string code = options_.pairingCode.empty() ? randomPairingCode() : options_.pairingCode;
        const auto round = exchange.openRound(code);
        if (!round) {
            throw HeadsetSimulatorError("no pairing round could be opened");
        }
        {
            auto message = StreamControlMessage::make<Case::pairingClientChallenge>(*round);
            co_await send(std::move(message));
        }
        // The host's user now types the code the headset shows.
        shownPairingCode_ = code;
        notifyChange();
        std::optional<StreamControlMessage> serverChallenge;
        std::exception_ptr failure;
        try {
            serverChallenge = co_await receiveCase(Case::pairingServerChallenge, options_.pairingCodeTimeout);
        } catch (...) {
            failure = std::current_exception();
        }
        shownPairingCode_.reset();
        notifyChange();
        if (failure) {
            std::rethrow_exception(failure);
        }
        const auto response =
            exchange.receiveServerChallenge(*serverChallenge->get<Case::pairingServerChallenge>());
        if (!response) {
            throw HeadsetSimulatorError("the host's pairing server challenge does not check out");
        }
        {
            auto message = StreamControlMessage::make<Case::pairingClientResponse>(*response);
            co_await send(std::move(message));
        }
        const auto confirmation = co_await receive<Case::pairingServerConfirmation>();
        const auto reply = exchange.receiveServerConfirmation(confirmation);
        if (!reply) {
            throw HeadsetSimulatorError("the host's pairing confirmation is not signed as it should be");
        }
        if (const auto* rejected = std::get_if<PairingRoundRejectedMessage>(&*reply)) {
            // The codes differed: say so and start the next round with a new code.
            {
                auto message = StreamControlMessage::make<Case::pairingRoundRejected>(*rejected);
                co_await send(std::move(message));
            }
            continue;
        }
        {
            auto message = StreamControlMessage::make<Case::pairingClientConfirmation>(
                std::get<PairingClientConfirmationMessage>(*reply));
            co_await send(std::move(message));
        }
        break;
    }
    const auto accepted = co_await receive<Case::pairingAccepted>();
    if (!exchange.receiveAcceptance(accepted)) {
        throw HeadsetSimulatorError("the host's pairing acceptance does not check out");
    }
    pairedHost_ = PairedHost{accepted.peerID, accepted.displayName, accepted.signingPublicKey,
                             connection_->peerCertificateDER()};
    co_await followCertificateRotation();
}

asio::awaitable<void> HeadsetSimulator::authenticate() {
    requireConnection();
    if (!pairedHost_) {
        throw HeadsetSimulatorError("the headset is not paired");
    }
    const PairedHost host = *pairedHost_;
    const auto hostKey = P256PublicKey::fromRawRepresentation(host.signingPublicKey);
    if (!hostKey) {
        throw HeadsetSimulatorError("the remembered host signing key does not import");
    }
    const SessionHelloMessage hostHello = co_await hello(false);
    if (hostHello.peerID != host.peerID) {
        throw HeadsetSimulatorError("another host answered: " + hostHello.peerID.string());
    }
    const auto challenge = co_await receive<Case::authenticate>();
    AuthenticationResponseMessage response;
    response.peerID = identity_.id;
    response.displayName = identity_.name;
    const auto signature = signingKey_.signature(SessionAuthentication::signedPayload(
        SessionAuthentication::Side::client, identity_.id, host.peerID, challenge.serverNonce));
    if (!signature) {
        throw HeadsetSimulatorError("signing the host's nonce failed");
    }
    response.clientSignature = *signature;
    response.clientNonce = secureRandomBytes(32);
    {
        auto message = StreamControlMessage::make<Case::authenticationResponse>(response);
        co_await send(std::move(message));
    }
    const auto result = co_await receive<Case::authenticationResult>();
    if (!result.accepted) {
        throw HeadsetSimulatorError("the host refused the authentication", result.reason);
    }
    if (result.peerID != host.peerID) {
        throw HeadsetSimulatorError("the authentication result names another host");
    }
    if (!result.serverSignature ||
        !hostKey->isValidSignature(
            *result.serverSignature,
            SessionAuthentication::signedPayload(SessionAuthentication::Side::server, host.peerID,
                                                 identity_.id, response.clientNonce))) {
        throw HeadsetSimulatorError("the host's signature over the headset's nonce is missing or wrong");
    }
    if (result.certificateSignature &&
        !hostKey->isValidSignature(*result.certificateSignature,
                                   SessionAuthentication::certificateSignaturePayload(
                                       host.peerID, identity_.id, connection_->peerCertificateDER()))) {
        throw HeadsetSimulatorError("the host's certificate signature is wrong");
    }
    if (result.displayName) {
        pairedHost_->displayName = *result.displayName;
    }
    co_await followCertificateRotation();
}

asio::awaitable<void> HeadsetSimulator::followCertificateRotation() {
    const auto rotation = co_await receive<Case::certificateRotation>();
    if (!pairedHost_ || rotation.peerID != pairedHost_->peerID) {
        throw HeadsetSimulatorError("a certificate rotation from another host");
    }
    const auto hostKey = P256PublicKey::fromRawRepresentation(pairedHost_->signingPublicKey);
    if (!hostKey || !hostKey->isValidSignature(rotation.certificateSignature,
                                               SessionAuthentication::certificateSignaturePayload(
                                                   rotation.peerID, identity_.id, rotation.certificateDER))) {
        throw HeadsetSimulatorError("the host's rotated certificate is not signed by its key");
    }
    pairedHost_->certificateDER = rotation.certificateDER;
}

asio::awaitable<void> HeadsetSimulator::reconnect() {
    co_await connect();
    co_await authenticate();
}

asio::awaitable<void> HeadsetSimulator::send(StreamControlMessage message) {
    requireConnection();
    auto control = control_;
    Bytes frame = ControlMessageFraming::encode(message);
    co_await control->send(std::move(frame), false);
}

asio::awaitable<void> HeadsetSimulator::sendReceiverReady() {
    return send(StreamControlMessage::make<Case::receiverReady>());
}

asio::awaitable<void> HeadsetSimulator::sendReceiverReport(StreamReceiverReportMessage report) {
    return send(StreamControlMessage::make<Case::receiverReport>(std::move(report)));
}

asio::awaitable<void> HeadsetSimulator::requestKeyFrame(KeyFrameRequestReason reason) {
    return send(StreamControlMessage::make<Case::requestKeyFrame>(KeyFrameRequestMessage{reason}));
}

std::uint64_t HeadsetSimulator::headsetTimeNanoseconds() const {
    return options_.headsetTimeNanoseconds ? options_.headsetTimeNanoseconds() : monotonicNanoseconds();
}

asio::awaitable<ClockSynchronizationResultMessage> HeadsetSimulator::synchronizeClock(int rounds) {
    requireConnection();
    std::optional<std::int64_t> bestOffset;
    std::int64_t bestRoundTrip = std::numeric_limits<std::int64_t>::max();
    for (int round = 0; round < std::max(rounds, 1); ++round) {
        const std::uint32_t sequenceNumber = nextClockSequenceNumber_++;
        const std::uint64_t sent = headsetTimeNanoseconds();
        {
            auto message = StreamControlMessage::make<Case::clockSynchronizationRequest>(
                ClockSynchronizationRequestMessage{sequenceNumber, sent});
            co_await send(std::move(message));
        }
        ClockSynchronizationResponseMessage response;
        do {
            response = co_await receive<Case::clockSynchronizationResponse>();
        } while (response.sequenceNumber != sequenceNumber);
        const std::uint64_t received = headsetTimeNanoseconds();
        if (response.clientSendTimeNanoseconds != sent ||
            response.hostSendTimeNanoseconds < response.hostReceiveTimeNanoseconds) {
            throw HeadsetSimulatorError("the host's clock synchronisation response is inconsistent");
        }
        const auto hostReceive = static_cast<std::int64_t>(response.hostReceiveTimeNanoseconds);
        const auto hostSend = static_cast<std::int64_t>(response.hostSendTimeNanoseconds);
        const auto headsetSend = static_cast<std::int64_t>(sent);
        const auto headsetReceive = static_cast<std::int64_t>(received);
        const std::int64_t roundTrip = (headsetReceive - headsetSend) - (hostSend - hostReceive);
        const std::int64_t offset = ((hostReceive - headsetSend) + (hostSend - headsetReceive)) / 2;
        if (roundTrip < bestRoundTrip) {
            bestRoundTrip = roundTrip;
            bestOffset = offset;
        }
    }
    const ClockSynchronizationResultMessage result{*bestOffset, options_.reverseMediaLeadNanoseconds};
    {
        auto message = StreamControlMessage::make<Case::clockSynchronizationResult>(result);
        co_await send(std::move(message));
    }
    co_return result;
}

asio::awaitable<void> HeadsetSimulator::disconnect() {
    {
        auto message = StreamControlMessage::make<Case::sessionDisconnectRequest>();
        co_await send(std::move(message));
    }
    co_await receive<Case::sessionDisconnectAcknowledged>();
    // The host ends the session after its acknowledgement; give it the chance to close first, as a
    // headset that lets the host finish does.
    try {
        std::function<bool()> ended = [this] { return controlEnded_; };
        co_await waitUntil(std::move(ended), std::string("the host to close the connection"));
    } catch (const HeadsetSimulatorError&) {
        // A host that keeps the connection open is closed on below.
    }
    close();
}

void HeadsetSimulator::close() {
    stopSessionTasks();
    if (connection_) {
        connection_->close(0);
    }
    personaStream_.reset();
    microphoneStream_.reset();
    control_.reset();
    connection_.reset();
    relay_.reset();
    controlEnded_ = true;
    if (controlEndReason_.empty()) {
        controlEndReason_ = "closed by the headset";
    }
    notifyChange();
}

void HeadsetSimulator::vanish() {
    if (!relay_) {
        throw HeadsetSimulatorError("vanishing needs the relay path (connectsThroughRelay)");
    }
    // Cut the path first: the close that releasing the connection sends reaches nobody.
    relay_.reset();
    close();
    controlEndReason_ = "vanished";
}

// Control messages.

std::size_t HeadsetSimulator::receivedCount(Case messageCase) const {
    return static_cast<std::size_t>(std::count_if(history_.begin(), history_.end(), [&](const auto& message) {
        return message.messageCase() == messageCase;
    }));
}

void HeadsetSimulator::notifyChange() {
    for (auto* timer : waiters_) {
        timer->cancel();
    }
}

asio::awaitable<void> HeadsetSimulator::waitForChange(std::chrono::steady_clock::time_point deadline) {
    asio::steady_timer timer(executor_, deadline);
    waiters_.push_back(&timer);
    const auto position = std::prev(waiters_.end());
    asio::error_code error;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, error));
    waiters_.erase(position);
    if (isCancelled(co_await asio::this_coro::cancellation_state)) {
        throw asio::system_error(asio::error::operation_aborted);
    }
}

asio::awaitable<void> HeadsetSimulator::waitUntil(std::function<bool()> condition, std::string what) {
    const auto deadline = std::chrono::steady_clock::now() + options_.responseTimeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            throw HeadsetSimulatorError("timed out waiting for " + what);
        }
        co_await waitForChange(deadline);
    }
}

asio::awaitable<StreamControlMessage> HeadsetSimulator::receiveCase(Case messageCase,
                                                                    std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (auto message = inbox_.begin(); message != inbox_.end(); ++message) {
            if (message->messageCase() == messageCase) {
                StreamControlMessage taken = std::move(*message);
                inbox_.erase(message);
                co_return taken;
            }
        }
        for (auto message = inbox_.begin(); message != inbox_.end(); ++message) {
            if (const auto* reason = message->get<Case::pairingRejected>()) {
                const PairingFailureReason rejected = *reason;
                inbox_.erase(message);
                throw HeadsetSimulatorError("the host rejected the headset (" +
                                                std::string(rawValue(rejected)) + ") while it waited for " +
                                                caseName(messageCase),
                                            rejected);
            }
        }
        if (controlEnded_) {
            throw HeadsetSimulatorError("the control stream ended (" + controlEndReason_ +
                                        ") while waiting for " + caseName(messageCase));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw HeadsetSimulatorError("no " + caseName(messageCase) + " from the host in time");
        }
        co_await waitForChange(deadline);
    }
}

asio::awaitable<void> HeadsetSimulator::readControlStream(std::shared_ptr<QuicStream> control,
                                                          std::shared_ptr<bool> alive) {
    for (;;) {
        Bytes data;
        std::exception_ptr failure;
        try {
            data = co_await ControlMessageFraming::readMessageData(*control);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!*alive) {
            co_return;
        }
        if (failure) {
            if (isAborted(failure)) {
                co_return;
            }
            controlEnded_ = true;
            controlEndReason_ = describe(failure);
            notifyChange();
            co_return;
        }
        auto message = decodeJson<StreamControlMessage>(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        if (!message) {
            controlEnded_ = true;
            controlEndReason_ = "the host sent a control message that does not decode";
            notifyChange();
            co_return;
        }
        history_.push_back(*message);
        inbox_.push_back(*message);
        while (inbox_.size() > keptInboxMessages) {
            inbox_.pop_front();
        }
        co_await handleControlMessage(*message);
        if (!*alive) {
            co_return;
        }
        notifyChange();
    }
}

asio::awaitable<void> HeadsetSimulator::handleControlMessage(const StreamControlMessage& message) {
    if (const auto* format = message.get<Case::videoFormat>()) {
        takeVideoFormat(*format);
    } else if (const auto* announcement = message.get<Case::audioFormat>()) {
        takeAudioFormat(*announcement);
    } else if (const auto* request = message.get<Case::personaCameraRequest>()) {
        personaCameraRequested_ = request->isEnabled;
    } else if (const auto* request = message.get<Case::microphoneRequest>()) {
        microphoneRequested_ = request->isEnabled;
    } else if (const auto* clockRequest = message.get<Case::clockSynchronizationRequest>()) {
        // A host that asks for the headset's clock gets it, stamped as the host stamps its own answers.
        const std::uint64_t received = headsetTimeNanoseconds();
        ClockSynchronizationResponseMessage response{clockRequest->sequenceNumber,
                                                     clockRequest->clientSendTimeNanoseconds, received,
                                                     headsetTimeNanoseconds()};
        auto control = control_;
        if (control) {
            try {
                Bytes frame = ControlMessageFraming::encode(
                    StreamControlMessage::make<Case::clockSynchronizationResponse>(response));
                co_await control->send(std::move(frame), false);
            } catch (const std::exception&) {
                // The control reader sees the stream end.
            }
        }
    }
}

// Host-opened streams.

asio::awaitable<void> HeadsetSimulator::acceptHostStreams(std::shared_ptr<QuicConnection> connection,
                                                          std::shared_ptr<bool> alive) {
    for (;;) {
        std::shared_ptr<QuicStream> stream;
        try {
            stream = co_await connection->acceptStream();
        } catch (const std::system_error&) {
            co_return;
        }
        if (!*alive || !stream) {
            co_return;
        }
        std::erase_if(streamTasks_, [](const Task& task) { return task.isFinished(); });
        streamTasks_.push_back(Task::spawn(
            executor_, [this, stream, alive]() { return routeHostStream(stream, alive); }, "headset stream"));
    }
}

asio::awaitable<void> HeadsetSimulator::routeHostStream(std::shared_ptr<QuicStream> stream,
                                                        std::shared_ptr<bool> alive) {
    try {
        co_await readHostStream(stream, alive);
    } catch (const std::exception&) {
        // A stream that breaks off ends with its connection or was reset by the host; a cancellation
        // ends here as well.
    }
}

asio::awaitable<void> HeadsetSimulator::readHostStream(std::shared_ptr<QuicStream> stream,
                                                       std::shared_ptr<bool> alive) {
    const auto kind = co_await stream->receiveExactly(1);
    if (!*alive || kind.data.size() != 1) {
        co_return;
    }
    switch (kind.data[0]) {
        case wireByte(InboundStreamKind::video):
            co_await readVideoStream(stream, alive);
            break;
        case wireByte(InboundStreamKind::clipboardPaste): {
            const auto opening =
                co_await stream->receiveExactly(ClipboardPayloadStreamHeader::encodedByteCount);
            if (!*alive) {
                co_return;
            }
            const auto header = ClipboardPayloadStreamHeader::decode(opening.data);
            if (!header || header->operation != ClipboardTransferOperation::copyFromMac) {
                co_await ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::failed,
                                                                         *stream);
                co_return;
            }
            hostClipboardStreams_.push_back({*header, stream});
            notifyChange();
            break;
        }
        default:
            stream->stopSending(0);
            break;
    }
}

asio::awaitable<void> HeadsetSimulator::readVideoStream(std::shared_ptr<QuicStream> stream,
                                                        std::shared_ptr<bool> alive) {
    for (;;) {
        const auto headerBytes = co_await stream->receiveExactly(VideoFrameStreamHeader::byteCount);
        if (!*alive || headerBytes.data.size() < VideoFrameStreamHeader::byteCount) {
            co_return;
        }
        const auto header = readHostVideoHeader(headerBytes.data);
        if (!header || header->payloadByteCount > maximumVideoPayloadBytes) {
            lastVideoDecodeError_ = "the media stream carries a frame header the headset cannot read";
            stream->stopSending(0);
            notifyChange();
            co_return;
        }
        auto payload = co_await stream->receiveExactly(header->payloadByteCount);
        if (!*alive || payload.data.size() < header->payloadByteCount) {
            co_return;
        }
        receivedVideoFrames_.push_back(
            {header->frameID, header->presentationTimeNanoseconds, header->isKeyFrame, payload.data.size()});
        if (!highestVideoFrame_ || header->frameID > highestVideoFrame_->frameID) {
            highestVideoFrame_ = *header;
        }
        if (videoDecoder_) {
            decodeVideoFrame(*header, payload.data);
        } else {
            framesAwaitingFormat_.emplace_back(*header, std::move(payload.data));
            while (framesAwaitingFormat_.size() > keptFramesAwaitingFormat) {
                framesAwaitingFormat_.pop_front();
            }
        }
        notifyChange();
        if (options_.sendsReceiverReports) {
            co_await sendAutomaticReport(true);
            if (!*alive) {
                co_return;
            }
        }
    }
}

void HeadsetSimulator::takeVideoFormat(const VideoFormatDescriptionMessage& format) {
    videoFormat_ = format;
    videoDecoder_ = VideoStreamDecoder::make(format);
    videoDecoderNeedsKeyFrame_ = true;
    if (!videoDecoder_) {
        lastVideoDecodeError_ = "no decoder for the announced video format";
        return;
    }
    auto waiting = std::move(framesAwaitingFormat_);
    framesAwaitingFormat_.clear();
    for (const auto& [header, payload] : waiting) {
        decodeVideoFrame(header, payload);
    }
}

void HeadsetSimulator::decodeVideoFrame(const VideoFrameStreamHeader& header, const Bytes& payload) {
    // A decoder starts at a key frame; what comes before one cannot be shown.
    if (videoDecoderNeedsKeyFrame_ && !header.isKeyFrame) {
        return;
    }
    videoDecoderNeedsKeyFrame_ = false;
    auto picture = videoDecoder_->decode(header, payload);
    if (!picture) {
        if (!videoDecoder_->lastError().empty()) {
            ++undecodableVideoFrameCount_;
            lastVideoDecodeError_ = videoDecoder_->lastError();
        }
        return;
    }
    ++decodedVideoFrameCount_;
    decodedVideoFrames_.push_back(std::move(*picture));
    while (decodedVideoFrames_.size() > keptDecodedVideoFrames) {
        decodedVideoFrames_.pop_front();
    }
}

asio::awaitable<void> HeadsetSimulator::sendAutomaticReport(bool forVideo) {
    auto control = control_;
    if (!control) {
        co_return;
    }
    StreamReceiverReportMessage report;
    if (highestVideoFrame_) {
        report.highestReceivedFrameID = highestVideoFrame_->frameID;
        report.highestReceivedFramePresentationTimeNanoseconds =
            highestVideoFrame_->presentationTimeNanoseconds;
    }
    report.highestReceivedAudioChunkID = highestAudioChunkID_;
    if (!forVideo && !report.highestReceivedAudioChunkID) {
        co_return;
    }
    try {
        Bytes frame = ControlMessageFraming::encode(StreamControlMessage::make<Case::receiverReport>(report));
        co_await control->send(std::move(frame), false);
    } catch (const std::exception&) {
        // The control reader sees the stream end.
    }
}

// Audio.

asio::awaitable<void> HeadsetSimulator::readDatagrams(std::shared_ptr<QuicConnection> connection,
                                                      std::shared_ptr<bool> alive) {
    for (;;) {
        Bytes datagram;
        try {
            datagram = co_await connection->receiveDatagram();
        } catch (const std::system_error&) {
            co_return;
        }
        if (!*alive) {
            co_return;
        }
        const auto chunksBefore = receivedAudioChunks_.size();
        if (!takeAudioDatagram(datagram)) {
            datagramsAwaitingFormat_.push_back(std::move(datagram));
            while (datagramsAwaitingFormat_.size() > keptDatagramsAwaitingFormat) {
                datagramsAwaitingFormat_.pop_front();
            }
        }
        notifyChange();
        if (options_.sendsReceiverReports && receivedAudioChunks_.size() > chunksBefore &&
            receivedAudioChunks_.back().chunkID % audioChunksPerReport == audioChunksPerReport - 1) {
            co_await sendAutomaticReport(false);
            if (!*alive) {
                co_return;
            }
        }
    }
}

void HeadsetSimulator::takeAudioFormat(const AudioStreamFormatAnnouncementMessage& announcement) {
    audioFormats_[announcement.revision] = announcement;
    std::unique_ptr<AacTestDecoder> decoder;
    if (announcement.format.magicCookie) {
        if (const auto descriptor = readElementaryStreamDescriptor(*announcement.format.magicCookie)) {
            decoder = FdkAacTestDecoder::make(descriptor->audioSpecificConfig);
        }
    }
    audioDecoders_[announcement.revision] = std::move(decoder);
    auto waiting = std::move(datagramsAwaitingFormat_);
    datagramsAwaitingFormat_.clear();
    for (auto& datagram : waiting) {
        if (!takeAudioDatagram(datagram)) {
            datagramsAwaitingFormat_.push_back(std::move(datagram));
        }
    }
}

bool HeadsetSimulator::takeAudioDatagram(const Bytes& datagram) {
    std::size_t cursor = 0;
    const auto kind = readUInt8(datagram, cursor);
    const auto revision = readBigEndianUInt32(datagram, cursor);
    const auto version = readUInt8(datagram, cursor);
    const auto chunkID = readBigEndianUInt64(datagram, cursor);
    const auto time = readBigEndianUInt64(datagram, cursor);
    const auto packetCount = readBigEndianUInt16(datagram, cursor);
    const auto descriptionsBytes = readBigEndianUInt32(datagram, cursor);
    const auto payloadBytes = readBigEndianUInt32(datagram, cursor);
    if (!kind || *kind != AudioFrameDatagram::kindByte || !revision || !version ||
        *version != AudioFrameStreamHeader::currentProtocolVersion || !chunkID || !time || !packetCount ||
        !descriptionsBytes || !payloadBytes ||
        *descriptionsBytes != *packetCount * AudioPacketDescription::byteCount ||
        datagram.size() - cursor != static_cast<std::size_t>(*descriptionsBytes) + *payloadBytes) {
        // Not an audio datagram the headset can read: counted as undecodable, never retried.
        ++undecodableAudioPacketCount_;
        return true;
    }
    const auto decoder = audioDecoders_.find(*revision);
    if (decoder == audioDecoders_.end()) {
        return false;
    }
    std::vector<std::uint32_t> packetSizes;
    for (std::uint16_t packet = 0; packet < *packetCount; ++packet) {
        packetSizes.push_back(readBigEndianUInt32(datagram, cursor).value_or(0));
        cursor += 4;
    }
    ReceivedAudioChunk chunk{*revision, *chunkID, *time, *packetCount, 0};
    const ByteView payload = ByteView(datagram).subspan(cursor);
    std::size_t offset = 0;
    for (const auto size : packetSizes) {
        if (size > payload.size() - offset) {
            ++undecodableAudioPacketCount_;
            break;
        }
        const ByteView packet = payload.subspan(offset, size);
        offset += size;
        auto decoded = decoder->second ? decoder->second->decode(packet) : std::nullopt;
        if (!decoded || decoded->channels.empty()) {
            ++undecodableAudioPacketCount_;
            continue;
        }
        chunk.decodedFrameCount += decoded->channels[0].size();
        decodedAudioSamples_.insert(decodedAudioSamples_.end(), decoded->channels[0].begin(),
                                    decoded->channels[0].end());
    }
    receivedAudioChunks_.push_back(chunk);
    if (!highestAudioChunkID_ || *chunkID > *highestAudioChunkID_) {
        highestAudioChunkID_ = *chunkID;
    }
    return true;
}

// Input.

asio::awaitable<void> HeadsetSimulator::sendMouseClick(MouseClickMessage message) {
    return send(StreamControlMessage::make<Case::mouseClick>(std::move(message)));
}

asio::awaitable<void> HeadsetSimulator::sendMouseMove(MouseMoveMessage message) {
    return send(StreamControlMessage::make<Case::mouseMove>(std::move(message)));
}

asio::awaitable<void> HeadsetSimulator::sendMouseScroll(MouseScrollMessage message) {
    return send(StreamControlMessage::make<Case::mouseScroll>(std::move(message)));
}

asio::awaitable<void> HeadsetSimulator::sendMousePosition(MousePositionMessage message) {
    return send(StreamControlMessage::make<Case::mousePosition>(std::move(message)));
}

asio::awaitable<void> HeadsetSimulator::sendKeyboardEvent(KeyboardEventMessage message) {
    return send(StreamControlMessage::make<Case::keyboardEvent>(std::move(message)));
}

asio::awaitable<void> HeadsetSimulator::sendTextInput(std::string text) {
    return send(StreamControlMessage::make<Case::textInput>(TextInputMessage{std::move(text)}));
}

asio::awaitable<void> HeadsetSimulator::sendSystemAction(RemoteSystemAction action) {
    return send(StreamControlMessage::make<Case::systemAction>(SystemActionMessage{action}));
}

// Clipboard.

asio::awaitable<HeadsetSimulator::ClipboardCopyResult> HeadsetSimulator::copyFromHost(
    std::uint64_t transferID) {
    {
        auto message = StreamControlMessage::make<Case::clipboardTransferRequest>(
            ClipboardTransferRequestMessage{transferID, ClipboardTransferOperation::copyFromMac});
        co_await send(std::move(message));
    }
    std::optional<HostClipboardStream> opened;
    std::optional<ClipboardTransferResultCode> refusal;
    std::function<bool()> arrived = [&] {
        for (auto stream = hostClipboardStreams_.begin(); stream != hostClipboardStreams_.end(); ++stream) {
            if (stream->header.transferID == transferID) {
                opened = std::move(*stream);
                hostClipboardStreams_.erase(stream);
                return true;
            }
        }
        for (auto message = inbox_.begin(); message != inbox_.end(); ++message) {
            const auto* result = message->get<Case::clipboardTransferResult>();
            if (result && result->transferID == transferID) {
                refusal = result->result;
                inbox_.erase(message);
                return true;
            }
        }
        return controlEnded_;
    };
    std::string what = "the host's clipboard copy " + std::to_string(transferID);
    co_await waitUntil(std::move(arrived), std::move(what));
    if (refusal) {
        co_return ClipboardCopyResult{*refusal, std::nullopt};
    }
    if (!opened) {
        throw HeadsetSimulatorError("the control stream ended (" + controlEndReason_ +
                                    ") during a clipboard copy");
    }
    std::optional<ClipboardTransferPayload> payload;
    std::exception_ptr failure;
    try {
        payload =
            co_await ClipboardPayloadStreamCodec::read(*opened->stream, opened->header.payloadByteCount);
    } catch (...) {
        failure = std::current_exception();
    }
    co_await ClipboardPayloadStreamCodec::sendTransferResult(
        failure ? ClipboardTransferResultCode::failed : ClipboardTransferResultCode::succeeded,
        *opened->stream);
    if (failure) {
        std::rethrow_exception(failure);
    }
    co_return ClipboardCopyResult{ClipboardTransferResultCode::succeeded, std::move(payload)};
}

bool HeadsetSimulator::hasHostClipboardStream(std::uint64_t transferID) const {
    return std::any_of(
        hostClipboardStreams_.begin(), hostClipboardStreams_.end(),
        [&](const HostClipboardStream& stream) { return stream.header.transferID == transferID; });
}

asio::awaitable<ClipboardTransferResultCode> HeadsetSimulator::pasteToHost(
    const ClipboardTransferPayload& payload, std::uint64_t transferID) {
    requireConnection();
    auto connection = connection_;
    auto stream = co_await connection->openStream(QuicStreamDirectionality::bidirectional);
    stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
    ClipboardPayloadStreamHeader header;
    header.operation = ClipboardTransferOperation::pasteToMac;
    header.transferID = transferID;
    header.payloadByteCount = static_cast<std::uint32_t>(payload.encodedByteCount());
    Bytes opening = header.encodedData();
    opening.insert(opening.begin(), wireByte(InboundStreamKind::clipboardPaste));
    co_await stream->send(std::move(opening), false);
    co_await ClipboardPayloadStreamCodec::write(payload, *stream);
    co_return co_await ClipboardPayloadStreamCodec::receiveTransferResult(*stream);
}

// Persona camera and microphone.

asio::awaitable<void> HeadsetSimulator::sendPersonaCameraSharingState(bool isEnabled) {
    return send(StreamControlMessage::make<Case::personaCameraSharingState>(
        PersonaCameraSharingStateMessage{isEnabled}));
}

asio::awaitable<void> HeadsetSimulator::sendMicrophoneSharingState(bool isEnabled) {
    return send(
        StreamControlMessage::make<Case::microphoneSharingState>(MicrophoneSharingStateMessage{isEnabled}));
}

asio::awaitable<void> HeadsetSimulator::sendPersonaCameraFormat(
    PersonaCameraFormatDescriptionMessage format) {
    return send(StreamControlMessage::make<Case::personaCameraFormat>(std::move(format)));
}

asio::awaitable<void> HeadsetSimulator::sendMicrophoneFormat(MicrophoneFormatMessage format) {
    return send(StreamControlMessage::make<Case::microphoneFormat>(std::move(format)));
}

asio::awaitable<void> HeadsetSimulator::sendPersonaCameraFrame(const EncodedVideoFrame& frame) {
    requireConnection();
    if (!personaStream_) {
        auto connection = connection_;
        auto stream = co_await connection->openStream(QuicStreamDirectionality::unidirectional);
        Bytes opening(1, wireByte(InboundStreamKind::personaCamera));
        co_await stream->send(std::move(opening), false);
        personaStream_ = stream;
    }
    VideoFrameStreamHeader header;
    header.version = VideoFrameStreamHeader::readableVersion;
    header.frameID = frame.frameID;
    header.presentationTimeNanoseconds = frame.presentationTimeNanoseconds;
    header.payloadByteCount = static_cast<std::uint32_t>(frame.payload.size());
    header.isKeyFrame = frame.isKeyFrame;
    Bytes data = header.encodedData();
    appendBytes(data, frame.payload);
    auto stream = personaStream_;
    co_await stream->send(std::move(data), false);
}

asio::awaitable<void> HeadsetSimulator::endPersonaCameraStream() {
    if (auto stream = std::exchange(personaStream_, nullptr)) {
        co_await stream->send({}, true);
    }
}

asio::awaitable<void> HeadsetSimulator::sendMicrophoneChunk(std::uint64_t chunkID,
                                                            std::uint64_t captureTimeNanoseconds,
                                                            std::span<const float> samples) {
    requireConnection();
    if (!microphoneStream_) {
        auto connection = connection_;
        auto stream = co_await connection->openStream(QuicStreamDirectionality::unidirectional);
        Bytes opening(1, wireByte(InboundStreamKind::microphone));
        co_await stream->send(std::move(opening), false);
        microphoneStream_ = stream;
    }
    Bytes data;
    appendBigEndian(data, MicrophoneFrameStreamHeader::supportedProtocolVersion);
    appendBigEndian(data, chunkID);
    appendBigEndian(data, captureTimeNanoseconds);
    appendBigEndian(data, static_cast<std::uint32_t>(samples.size()));
    appendBigEndian(data, static_cast<std::uint32_t>(samples.size() * sizeof(float)));
    // Samples in the headset's (little-endian) memory order.
    const std::size_t start = data.size();
    data.resize(start + samples.size() * sizeof(float));
    std::memcpy(data.data() + start, samples.data(), samples.size() * sizeof(float));
    auto stream = microphoneStream_;
    co_await stream->send(std::move(data), false);
}

asio::awaitable<void> HeadsetSimulator::endMicrophoneStream() {
    if (auto stream = std::exchange(microphoneStream_, nullptr)) {
        co_await stream->send({}, true);
    }
}

}  // namespace quillbridge
