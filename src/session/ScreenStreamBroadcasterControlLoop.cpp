#include "session/ScreenStreamBroadcaster.hpp"

#include <ctime>
#include <limits>
#include <string_view>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

namespace {

using Case = StreamControlMessage::Case;
using Gate = ScreenStreamBroadcaster::ControlMessageGate;

constexpr std::array<Gate, StreamControlMessage::caseCount> makeGateTable() {
    std::array<Gate, StreamControlMessage::caseCount> table{};
    table.fill(Gate::any);
    for (Case authorizedCase :
         {Case::streamConfiguration, Case::requestKeyFrame, Case::certificateRotation, Case::receiverReport,
          Case::clockSynchronizationRequest, Case::clockSynchronizationResult,
          Case::personaCameraSharingState, Case::microphoneSharingState, Case::receiverReady,
          Case::mouseClick, Case::mouseMove, Case::mouseScroll, Case::mousePosition, Case::keyboardEvent,
          Case::keyboardTypePreference, Case::textInput, Case::systemAction, Case::clipboardTransferRequest,
          Case::clipboardTransferCancel}) {
        table[static_cast<std::size_t>(authorizedCase)] = Gate::authorized;
    }
    table[static_cast<std::size_t>(Case::personaCameraFormat)] = Gate::authorizedWithCameraRequested;
    table[static_cast<std::size_t>(Case::microphoneFormat)] = Gate::authorizedWithMicrophoneRequested;
    return table;
}

constexpr auto gateTable = makeGateTable();

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ULL +
           static_cast<std::uint64_t>(now.tv_nsec);
}

}  // namespace

ScreenStreamBroadcaster::ControlMessageGate ScreenStreamBroadcaster::gate(
    StreamControlMessage::Case messageCase) {
    return gateTable[static_cast<std::size_t>(messageCase)];
}

std::uint64_t ScreenStreamBroadcaster::hostTimeNanoseconds() const {
    return dependencies_.hostTimeNanoseconds ? dependencies_.hostTimeNanoseconds() : monotonicNanoseconds();
}

asio::awaitable<void> ScreenStreamBroadcaster::sendControlMessage(StreamControlMessage message) {
    auto self = shared_from_this();
    co_await actor_.run(
        [this, &message]() -> asio::awaitable<void> { co_await sendControlMessageOnActor(message); });
}

asio::awaitable<void> ScreenStreamBroadcaster::sendControlMessageOnActor(
    const StreamControlMessage& message) {
    auto stream = controlStream_;
    if (!stream) {
        co_return;
    }
    // Prefix and body in one send, so that concurrent senders' frames never interleave.
    Bytes frame = ControlMessageFraming::encode(message);
    co_await stream->send(std::move(frame), false);
}

asio::awaitable<void> ScreenStreamBroadcaster::sendInline(const StreamControlMessage& message) {
    co_await sendControlMessageOnActor(message);
}

asio::awaitable<void> ScreenStreamBroadcaster::authorizeCurrentSession() {
    auto self = shared_from_this();
    co_await actor_.call([this] {
        if (connection_ && !isTearingDownSession_) {
            isAuthorized_ = true;
        }
    });
}

asio::awaitable<void> ScreenStreamBroadcaster::runControlMessageLoop(
    std::shared_ptr<QuicStream> stream, Uuid sessionID, std::shared_ptr<PeerCertificateCapture> capture) {
    if (sessionID_ != sessionID || controlStream_) {
        co_return;
    }
    controlStream_ = stream;
    if (!pendingPeerCertificate_) {
        auto certificate = co_await capture->takeHandshakeCertificate();
        if (sessionID_ == sessionID) {
            pendingPeerCertificate_ = std::move(certificate);
        }
    }
    // The control stream is adopted: the listener admits the next handshake again, so that the host stays
    // reachable whatever becomes of this connection.
    capture->finishAcceptingConnection();
    if (sessionID_ != sessionID) {
        co_return;
    }

    for (;;) {
        Bytes data;
        std::exception_ptr failure;
        try {
            data = co_await ControlMessageFraming::readMessageData(*stream);
        } catch (...) {
            failure = std::current_exception();
        }
        // Taken as soon as the frame is in, before decoding.
        const std::uint64_t hostReceiveTime = hostTimeNanoseconds();
        if (isCancelled(co_await asio::this_coro::cancellation_state) || sessionID_ != sessionID) {
            co_return;
        }
        if (failure) {
            co_await endLoopWithError(failure, sessionID);
            co_return;
        }
        auto decoded = decodeJson<StreamControlMessage>(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        if (!decoded) {
            co_await endLoopWithError(std::make_exception_ptr(JsonCodingError(decoded.error())), sessionID);
            co_return;
        }
        LoopStep step = LoopStep::readOn;
        try {
            step = co_await dispatch(*decoded, hostReceiveTime, sessionID);
        } catch (...) {
            failure = std::current_exception();
        }
        if (isCancelled(co_await asio::this_coro::cancellation_state) || sessionID_ != sessionID) {
            co_return;
        }
        if (failure) {
            co_await endLoopWithError(failure, sessionID);
            co_return;
        }
        if (step == LoopStep::endLoop) {
            co_return;
        }
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::endLoopWithError(std::exception_ptr error,
                                                                const Uuid& sessionID) {
    if (sessionID_ != sessionID) {
        co_return;
    }
    if (isCancellationError(error)) {
        co_await endSession(nullptr, std::nullopt, true, true);
    } else {
        // Named before it is awaited: GCC 12 mangles a temporary of this type inside co_await.
        std::optional<State> lost = State::failed("Connection lost");
        co_await endSession(error, std::move(lost), true, true);
    }
}

asio::awaitable<ScreenStreamBroadcaster::LoopStep> ScreenStreamBroadcaster::endAfterRefusal(
    bool accepted, const Uuid& sessionID) {
    if (accepted) {
        co_return LoopStep::readOn;
    }
    if (sessionID_ == sessionID) {
        co_await endSession(nullptr, std::nullopt, true, true);
    }
    co_return LoopStep::endLoop;
}

StreamControlMessage ScreenStreamBroadcaster::clockSynchronizationResponse(
    const ClockSynchronizationRequestMessage& request, std::uint64_t hostReceiveTime) const {
    ClockSynchronizationResponseMessage response;
    response.sequenceNumber = request.sequenceNumber;
    response.clientSendTimeNanoseconds = request.clientSendTimeNanoseconds;
    response.hostReceiveTimeNanoseconds = hostReceiveTime;
    response.hostSendTimeNanoseconds = hostTimeNanoseconds();
    return StreamControlMessage::make<Case::clockSynchronizationResponse>(response);
}

void ScreenStreamBroadcaster::applyReceiverReport(const StreamReceiverReportMessage& report) {
    videoPipeline_->noteHighestReceivedFrameID(report.highestReceivedFrameID);
    audioPipeline_->noteHighestReceivedChunkID(report.highestReceivedAudioChunkID);
}

asio::awaitable<ScreenStreamBroadcaster::LoopStep> ScreenStreamBroadcaster::handleReceiverReady(
    const Uuid& sessionID) {
    sessionSetupTimeoutTask_.cancel();
    sessionSetupTimeoutTask_ = Task();
    isReceiverReady_ = true;
    std::exception_ptr failure;
    try {
        co_await videoPipeline_->openMediaStream();
        if (sessionID_ != sessionID) {
            co_return LoopStep::endLoop;
        }
        if (audioPipeline_->hasFormat()) {
            co_await audioPipeline_->sendAudioFormatIfNeeded();
            if (sessionID_ != sessionID) {
                co_return LoopStep::endLoop;
            }
        }
        co_await audioPipeline_->openAudioDatagrams();
    } catch (...) {
        failure = std::current_exception();
    }
    if (sessionID_ != sessionID) {
        co_return LoopStep::endLoop;
    }
    if (failure) {
        startConnectionLostTeardown(failure);
        co_return LoopStep::endLoop;
    }
    beginConnectionActivity();
    wakeDisplayOnActor();
    updates_.yield(State::connected(currentHello_ ? currentHello_->displayName : "Vision Pro"));
    keyboardReporting_->scheduleLayoutRefresh();
    keyboardReporting_->startLockStateReporting();
    videoPipeline_->startSending();
    co_return LoopStep::readOn;
}

asio::awaitable<ScreenStreamBroadcaster::LoopStep> ScreenStreamBroadcaster::dispatch(
    const StreamControlMessage& message, std::uint64_t hostReceiveTime, const Uuid& sessionID) {
    const Case messageCase = message.messageCase();
    switch (gate(messageCase)) {
        case Gate::any:
            break;
        case Gate::authorized:
            if (!isAuthorized_) {
                co_return LoopStep::readOn;
            }
            break;
        case Gate::authorizedWithCameraRequested:
            if (!isAuthorized_ || !inboundStreamRouter_->isPersonaCameraRequested()) {
                co_return LoopStep::readOn;
            }
            break;
        case Gate::authorizedWithMicrophoneRequested:
            if (!isAuthorized_ || !inboundStreamRouter_->isMicrophoneRequested()) {
                co_return LoopStep::readOn;
            }
            break;
    }

    switch (messageCase) {
        case Case::hello:
            co_await handleHello(*message.get<Case::hello>());
            co_return LoopStep::readOn;
        case Case::authenticationResponse: {
            const bool accepted =
                co_await handleAuthenticationResponse(*message.get<Case::authenticationResponse>());
            if (accepted && sessionID_ == sessionID) {
                co_await beginAuthorizedSession();
            }
            co_return co_await endAfterRefusal(accepted, sessionID);
        }
        case Case::pairingStart:
            co_return co_await endAfterRefusal(
                co_await handlePairingStart(*message.get<Case::pairingStart>()), sessionID);
        case Case::pairingClientChallenge:
            co_return co_await endAfterRefusal(
                co_await handlePairingClientChallenge(*message.get<Case::pairingClientChallenge>()),
                sessionID);
        case Case::pairingClientResponse:
            co_return co_await endAfterRefusal(
                co_await handlePairingClientResponse(*message.get<Case::pairingClientResponse>()), sessionID);
        case Case::pairingClientConfirmation: {
            const bool accepted =
                co_await handlePairingClientConfirmation(*message.get<Case::pairingClientConfirmation>());
            if (accepted && sessionID_ == sessionID) {
                co_await beginAuthorizedSession();
            }
            co_return co_await endAfterRefusal(accepted, sessionID);
        }
        case Case::pairingRoundRejected:
            co_return co_await endAfterRefusal(
                co_await continuePairingExchange(*message.get<Case::pairingRoundRejected>()), sessionID);
        case Case::pairingChallenge:
        case Case::pairingServerChallenge:
        case Case::pairingServerConfirmation:
        case Case::pairingAccepted: {
            // Only the host sends these: refuse and end, whether or not the refusal leaves.
            try {
                co_await sendInline(
                    StreamControlMessage::make<Case::pairingRejected>(PairingFailureReason::failed));
            } catch (...) {
            }
            co_return co_await endAfterRefusal(false, sessionID);
        }
        case Case::pairingRejected:
            co_return co_await endAfterRefusal(false, sessionID);
        case Case::streamConfiguration:
            configurations_.yield(*message.get<Case::streamConfiguration>());
            co_return LoopStep::readOn;
        case Case::requestKeyFrame:
            videoPipeline_->requestKeyFrame();
            co_return LoopStep::readOn;
        case Case::certificateRotation:
            co_return co_await endAfterRefusal(
                co_await handleCertificateRotation(*message.get<Case::certificateRotation>()), sessionID);
        case Case::receiverReport:
            applyReceiverReport(*message.get<Case::receiverReport>());
            co_return LoopStep::readOn;
        case Case::clockSynchronizationRequest:
            co_await sendInline(clockSynchronizationResponse(
                *message.get<Case::clockSynchronizationRequest>(), hostReceiveTime));
            co_return LoopStep::readOn;
        case Case::clockSynchronizationResult: {
            const auto& result = *message.get<Case::clockSynchronizationResult>();
            constexpr auto maximumLead = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
            const auto lead =
                static_cast<std::int64_t>(std::min(result.initialReverseMediaLeadNanoseconds, maximumLead));
            if (personaAVTimingCoordinator_) {
                personaAVTimingCoordinator_->applyClockSynchronization(result.visionToMacOffsetNanoseconds,
                                                                       lead);
            }
            co_return LoopStep::readOn;
        }
        case Case::personaCameraSharingState:
            inboundStreamRouter_->setPersonaCameraSharingEnabled(
                message.get<Case::personaCameraSharingState>()->isEnabled);
            co_return LoopStep::readOn;
        case Case::microphoneSharingState:
            inboundStreamRouter_->setMicrophoneSharingEnabled(
                message.get<Case::microphoneSharingState>()->isEnabled);
            co_return LoopStep::readOn;
        case Case::personaCameraFormat:
            co_await inboundStreamRouter_->updatePersonaCameraFormat(
                *message.get<Case::personaCameraFormat>());
            co_return LoopStep::readOn;
        case Case::microphoneFormat:
            co_await inboundStreamRouter_->updateMicrophoneFormat(*message.get<Case::microphoneFormat>());
            co_return LoopStep::readOn;
        case Case::mouseClick:
            scrollMomentum_->stop();
            handleMouseClick(*message.get<Case::mouseClick>());
            co_return LoopStep::readOn;
        case Case::mouseMove:
            handleMouseMove(*message.get<Case::mouseMove>());
            co_return LoopStep::readOn;
        case Case::mouseScroll:
            scrollMomentum_->handleMouseScroll(*message.get<Case::mouseScroll>());
            co_return LoopStep::readOn;
        case Case::mousePosition:
            scrollMomentum_->stop();
            handleMousePosition(*message.get<Case::mousePosition>());
            co_return LoopStep::readOn;
        case Case::keyboardEvent: {
            const auto& event = *message.get<Case::keyboardEvent>();
            handleKeyboardEvent(event);
            if (event.key == RemoteKeyboardKey::capsLock && event.phase == KeyboardEventPhase::pressed) {
                keyboardReporting_->scheduleLayoutRefresh();
            }
            co_return LoopStep::readOn;
        }
        case Case::keyboardTypePreference: {
            const auto& preference = *message.get<Case::keyboardTypePreference>();
            keyboardReporting_->setTypePreference(preference.preference);
            handleKeyboardTypePreference(preference);
            keyboardReporting_->scheduleLayoutRefresh();
            co_return LoopStep::readOn;
        }
        case Case::textInput:
            handleTextInput(*message.get<Case::textInput>());
            co_return LoopStep::readOn;
        case Case::systemAction:
            handleSystemAction(*message.get<Case::systemAction>());
            co_return LoopStep::readOn;
        case Case::clipboardTransferRequest:
            clipboardTransfers_->handleRequest(*message.get<Case::clipboardTransferRequest>());
            co_return LoopStep::readOn;
        case Case::clipboardTransferCancel:
            clipboardTransfers_->handleCancel(*message.get<Case::clipboardTransferCancel>());
            co_return LoopStep::readOn;
        case Case::receiverReady:
            co_return co_await handleReceiverReady(sessionID);
        case Case::sessionDisconnectRequest:
            co_await sendInline(StreamControlMessage::make<Case::sessionDisconnectAcknowledged>());
            co_return co_await endAfterRefusal(false, sessionID);
        case Case::authenticate:
        case Case::authenticationResult:
        case Case::videoFormat:
        case Case::displayGeometry:
        case Case::clockSynchronizationResponse:
        case Case::audioFormat:
        case Case::personaCameraRequest:
        case Case::personaCameraReceiverReport:
        case Case::microphoneRequest:
        case Case::microphoneReceiverReport:
        case Case::heartbeat:
        case Case::sessionDisconnectAcknowledged:
        case Case::keyboardLayout:
        case Case::keyboardLockState:
        case Case::clipboardTransferResult:
            // Host-sent messages and heartbeats: nothing to do.
            co_return LoopStep::readOn;
    }
    co_return LoopStep::readOn;
}

}  // namespace quillbridge
