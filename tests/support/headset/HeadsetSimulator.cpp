#include "support/headset/HeadsetSimulator.hpp"

#include "support/headset/HeadsetSimulatorSupport.hpp"

// The headset simulator's session: connecting, the control stream and its waits, the streams the host opens,
// and input.

namespace quillbridge {

using namespace headset_simulator_detail;

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

}  // namespace quillbridge
