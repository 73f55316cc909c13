#include "session/InboundStreamRouter.hpp"

#include <exception>
#include <utility>

#include <asio/this_coro.hpp>

#include "session/PersonaCameraTransportError.hpp"
#include "session/SessionErrors.hpp"
#include "wire/InboundStreamKind.hpp"
#include "wire/MicrophoneFrameStreamHeader.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

// Streams the headset opens after authorisation, routed by their kind byte: the Persona camera, the
// microphone and clipboard pastes. Also the host's requests for the camera and the microphone.

namespace quillbridge {

namespace {

constexpr std::uint32_t maximumPersonaFramePayloadByteCount = 8 * 1024 * 1024;
constexpr std::uint32_t maximumMicrophoneChunkPayloadByteCount = 256 * 1024;
// The code a refused or abandoned media stream is stopped with.
constexpr std::uint64_t abandonedMediaStreamErrorCode = 0;

asio::awaitable<bool> isCurrentCoroutineCancelled() {
    co_return isCancelled(co_await asio::this_coro::cancellation_state);
}

}  // namespace

InboundStreamRouter::InboundStreamRouter(SessionContext& session,
                                         const ScreenStreamBroadcasterDependencies& dependencies,
                                         ClipboardTransfers& clipboardTransfers, SharingStateOutputs outputs)
    : session_(session),
      clipboardTransfers_(clipboardTransfers),
      outputs_(outputs),
      personaCameraReceiver_(dependencies.personaCameraReceiver),
      microphoneReceiver_(dependencies.microphoneReceiver) {}

asio::awaitable<void> InboundStreamRouter::setPersonaCameraRequested(bool isRequested,
                                                                     std::uint64_t revision) {
    if (revision <= latestPersonaCameraRequestRevision_) {
        co_return;
    }
    latestPersonaCameraRequestRevision_ = revision;
    if (isRequested == isPersonaCameraRequested_) {
        co_return;
    }
    isPersonaCameraRequested_ = isRequested;
    if (!isRequested && personaCameraReceiver_) {
        co_await personaCameraReceiver_->reset();
    }
    if (session_.isAuthorizedWithControlStream()) {
        try {
            co_await session_.sendControlMessage(
                StreamControlMessage::make<StreamControlMessage::Case::personaCameraRequest>(
                    PersonaCameraRequestMessage{isRequested}));
        } catch (const std::exception&) {
            // The request stays stored; the headset learns it with the next session.
        }
    }
}

asio::awaitable<void> InboundStreamRouter::setMicrophoneRequested(bool isRequested, std::uint64_t revision) {
    if (revision <= latestMicrophoneRequestRevision_) {
        co_return;
    }
    latestMicrophoneRequestRevision_ = revision;
    if (isRequested == isMicrophoneRequested_) {
        co_return;
    }
    isMicrophoneRequested_ = isRequested;
    if (!isRequested && microphoneReceiver_) {
        co_await microphoneReceiver_->reset();
    }
    if (session_.isAuthorizedWithControlStream()) {
        try {
            co_await session_.sendControlMessage(
                StreamControlMessage::make<StreamControlMessage::Case::microphoneRequest>(
                    MicrophoneRequestMessage{isRequested}));
        } catch (const std::exception&) {
            // The request stays stored; the headset learns it with the next session.
        }
    }
}

asio::awaitable<void> InboundStreamRouter::route(std::shared_ptr<QuicStream> stream, Uuid sessionID) {
    std::exception_ptr failure;
    try {
        const auto chunk = co_await stream->receiveExactly(1);
        const auto kind =
            chunk.data.size() == 1 ? inboundStreamKindFromWireByte(chunk.data[0]) : std::nullopt;
        if (!kind || *kind == InboundStreamKind::video || *kind == InboundStreamKind::audio) {
            throw PersonaCameraTransportException(PersonaCameraTransportError::invalidStreamKind);
        }
        switch (*kind) {
            case InboundStreamKind::personaCamera:
            case InboundStreamKind::microphone: {
                InboundMediaStreamSlots::Refusal refusal{};
                const auto claim = inboundMediaStreamSlots_.claim(*kind, *stream, sessionID, &refusal);
                if (!claim) {
                    stream->stopSending(abandonedMediaStreamErrorCode);
                    logger_.error(InboundMediaStreamSlots::refusalText(*kind, refusal));
                    co_return;
                }
                if (*kind == InboundStreamKind::personaCamera) {
                    co_await receivePersonaCameraStream(stream, sessionID);
                } else {
                    co_await receiveMicrophoneStream(stream, sessionID);
                }
                co_return;
            }
            case InboundStreamKind::clipboardPaste:
                co_await clipboardTransfers_.receivePasteStream(stream, sessionID);
                co_return;
            case InboundStreamKind::video:
            case InboundStreamKind::audio:
                break;
        }
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    // The stream is not read further; its unread bytes must not hold the connection's window.
    stream->stopSending(abandonedMediaStreamErrorCode);
    if (session_.sessionID() == sessionID && !co_await isCurrentCoroutineCancelled() &&
        !isCancellationError(failure)) {
        logger_.error("Inbound media stream failed: ", errorDescription(failure));
    }
}

asio::awaitable<void> InboundStreamRouter::receivePersonaCameraStream(std::shared_ptr<QuicStream> stream,
                                                                      Uuid sessionID) {
    std::exception_ptr failure;
    try {
        for (;;) {
            if (session_.sessionID() != sessionID || co_await isCurrentCoroutineCancelled()) {
                co_return;
            }
            const auto headerChunk = co_await stream->receiveExactly(VideoFrameStreamHeader::byteCount);
            if (headerChunk.data.size() < VideoFrameStreamHeader::byteCount) {
                co_return;
            }
            const auto header = VideoFrameStreamHeader::decode(headerChunk.data);
            if (!header) {
                throw PersonaCameraTransportException(PersonaCameraTransportError::invalidFrameHeader);
            }
            if (header->payloadByteCount > maximumPersonaFramePayloadByteCount) {
                throw PersonaCameraTransportException(PersonaCameraTransportError::invalidPayloadLength);
            }
            Bytes payload;
            if (header->payloadByteCount > 0) {
                auto payloadChunk = co_await stream->receiveExactly(header->payloadByteCount);
                if (payloadChunk.data.size() < header->payloadByteCount) {
                    co_return;
                }
                payload = std::move(payloadChunk.data);
            }
            if (session_.sessionID() != sessionID) {
                co_return;
            }
            if (personaCameraReceiver_) {
                co_await personaCameraReceiver_->receiveFrame(
                    header->frameID, header->presentationTimeNanoseconds, header->isKeyFrame,
                    std::move(payload), session_.hostTimeNanoseconds());
            }
            if (session_.controlStream()) {
                co_await session_.sendControlMessage(
                    StreamControlMessage::make<StreamControlMessage::Case::personaCameraReceiverReport>(
                        PersonaCameraReceiverReportMessage{header->frameID}));
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    stream->stopSending(abandonedMediaStreamErrorCode);
    if (session_.sessionID() != sessionID || co_await isCurrentCoroutineCancelled()) {
        co_return;
    }
    logger_.error("Persona camera stream failed: ", errorDescription(failure));
    if (personaCameraReceiver_) {
        co_await personaCameraReceiver_->reset();
    }
}

asio::awaitable<void> InboundStreamRouter::receiveMicrophoneStream(std::shared_ptr<QuicStream> stream,
                                                                   Uuid sessionID) {
    const Uuid streamID = Uuid::random();
    if (microphoneReceiver_) {
        co_await microphoneReceiver_->startStream(streamID);
    }
    std::exception_ptr failure;
    try {
        for (;;) {
            if (session_.sessionID() != sessionID || co_await isCurrentCoroutineCancelled()) {
                if (microphoneReceiver_) {
                    co_await microphoneReceiver_->endStream(streamID);
                }
                co_return;
            }
            const auto headerChunk = co_await stream->receiveExactly(MicrophoneFrameStreamHeader::byteCount);
            if (headerChunk.data.size() < MicrophoneFrameStreamHeader::byteCount) {
                co_return;
            }
            const auto header = MicrophoneFrameStreamHeader::decode(headerChunk.data);
            if (!header) {
                // An unreadable header ends the stream without a word to the receiver.
                stream->stopSending(abandonedMediaStreamErrorCode);
                co_return;
            }
            if (header->payloadByteCount == 0 ||
                header->payloadByteCount > maximumMicrophoneChunkPayloadByteCount) {
                throw PersonaCameraTransportException(PersonaCameraTransportError::invalidPayloadLength);
            }
            auto payloadChunk = co_await stream->receiveExactly(header->payloadByteCount);
            if (payloadChunk.data.size() < header->payloadByteCount || session_.sessionID() != sessionID) {
                co_return;
            }
            std::optional<std::uint64_t> acknowledged;
            if (microphoneReceiver_) {
                acknowledged =
                    co_await microphoneReceiver_->receive(streamID, *header, std::move(payloadChunk.data));
            }
            if (acknowledged && session_.controlStream()) {
                co_await session_.sendControlMessage(
                    StreamControlMessage::make<StreamControlMessage::Case::microphoneReceiverReport>(
                        MicrophoneReceiverReportMessage{*acknowledged}));
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    stream->stopSending(abandonedMediaStreamErrorCode);
    if (session_.sessionID() != sessionID || co_await isCurrentCoroutineCancelled()) {
        co_return;
    }
    const bool wasActive = microphoneReceiver_ ? co_await microphoneReceiver_->endStream(streamID) : false;
    if (wasActive) {
        logger_.error("Active microphone stream failed: ", errorDescription(failure));
    }
}

// Control messages.

void InboundStreamRouter::setPersonaCameraSharingEnabled(bool isEnabled) {
    if (isEnabled != isPersonaCameraSharingEnabled_) {
        isPersonaCameraSharingEnabled_ = isEnabled;
        outputs_.personaCamera.yield(isEnabled);
    }
}

void InboundStreamRouter::setMicrophoneSharingEnabled(bool isEnabled) {
    if (isEnabled != isMicrophoneSharingEnabled_) {
        isMicrophoneSharingEnabled_ = isEnabled;
        outputs_.microphone.yield(isEnabled);
    }
}

asio::awaitable<void> InboundStreamRouter::updatePersonaCameraFormat(
    const PersonaCameraFormatDescriptionMessage& format) {
    if (!personaCameraReceiver_) {
        co_return;
    }
    const Uuid sessionID = session_.sessionID();
    std::optional<PersonaCameraReceiverReportMessage> report;
    try {
        report = co_await personaCameraReceiver_->updateFormat(format);
    } catch (const std::exception& error) {
        if (session_.sessionID() == sessionID) {
            logger_.error("Invalid Persona camera format: ", error.what());
        }
        co_return;
    }
    if (report && session_.sessionID() == sessionID) {
        co_await session_.sendControlMessage(
            StreamControlMessage::make<StreamControlMessage::Case::personaCameraReceiverReport>(*report));
    }
}

asio::awaitable<void> InboundStreamRouter::updateMicrophoneFormat(const MicrophoneFormatMessage& format) {
    if (microphoneReceiver_) {
        co_await microphoneReceiver_->updateFormat(format.sampleRate, format.channelCount);
    }
}

// Session end.

asio::awaitable<void> InboundStreamRouter::endSession() {
    // The Persona camera.
    if (isPersonaCameraSharingEnabled_) {
        isPersonaCameraSharingEnabled_ = false;
        outputs_.personaCamera.yield(false);
    }
    isPersonaCameraRequested_ = false;
    if (personaCameraReceiver_) {
        try {
            co_await personaCameraReceiver_->reset();
        } catch (...) {
            // A receiver that fails to reset must not leave the teardown half done.
        }
    }
    // The microphone.
    if (isMicrophoneSharingEnabled_) {
        isMicrophoneSharingEnabled_ = false;
        outputs_.microphone.yield(false);
    }
    isMicrophoneRequested_ = false;
    if (microphoneReceiver_) {
        try {
            co_await microphoneReceiver_->reset();
        } catch (...) {
            // A receiver that fails to reset must not leave the teardown half done.
        }
    }
}

}  // namespace quillbridge
