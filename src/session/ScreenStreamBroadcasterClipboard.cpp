#include <sstream>

#include <asio/this_coro.hpp>

#include "session/PersonaCameraTransportError.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "wire/ClipboardLimits.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"
#include "wire/ClipboardPayloadStreamHeader.hpp"
#include "wire/InboundStreamKind.hpp"

// Clipboard transfers with the headset. A paste arrives on a stream the headset opens (kind 5): the host
// reads the body, puts it on the desktop clipboard, presses the paste chord and answers with one result
// byte. A copy is asked for on the control stream: the host captures its clipboard and sends it on a
// stream it opens itself, then reads the headset's one result byte. At most one transfer runs at a time.

namespace quillbridge {

namespace {

constexpr std::size_t maximumCancelledClipboardPasteCount = 64;
constexpr std::uint64_t maximumClipboardCopyBodyByteCount = 67'166'689;

asio::awaitable<bool> isCurrentCoroutineCancelled() {
    co_return isCancelled(co_await asio::this_coro::cancellation_state);
}

std::string_view operationName(ClipboardTransferOperation operation) {
    return operation == ClipboardTransferOperation::copyFromMac ? "copyFromMac" : "pasteToMac";
}

std::string clipboardItemSummary(const ClipboardTransferPayload& payload) {
    std::ostringstream summary;
    for (std::size_t index = 0; index < payload.items().size(); ++index) {
        if (index > 0) {
            summary << ',';
        }
        summary << "item" << index << ":[";
        const auto& representations = payload.items()[index].representations();
        for (std::size_t r = 0; r < representations.size(); ++r) {
            if (r > 0) {
                summary << ',';
            }
            summary << representations[r].typeIdentifier() << '=' << representations[r].data().size();
        }
        summary << ']';
    }
    return summary.str();
}

}  // namespace

bool ScreenStreamBroadcaster::isActiveClipboardTransfer(std::uint64_t transferID,
                                                        ClipboardTransferOperation operation) const {
    return activeClipboardTransferID_ == transferID && activeClipboardTransferOperation_ == operation;
}

void ScreenStreamBroadcaster::releaseClipboardTransferTask() {
    std::erase_if(clipboardBackgroundTasks_, [](const Task& task) { return task.isFinished(); });
    if (!clipboardTransferTask_.isFinished()) {
        clipboardBackgroundTasks_.push_back(std::move(clipboardTransferTask_));
    }
    clipboardTransferTask_ = Task();
}

void ScreenStreamBroadcaster::clearClipboardTransfer(std::uint64_t transferID, const Uuid& sessionID) {
    if (sessionID_ != sessionID || activeClipboardTransferID_ != transferID) {
        return;
    }
    releaseClipboardTransferTask();
    activeClipboardTransferID_.reset();
    activeClipboardTransferOperation_.reset();
    activeClipboardStream_.reset();
}

void ScreenStreamBroadcaster::noteCancelledClipboardPaste(std::uint64_t transferID) {
    if (transferID == 0) {
        return;
    }
    cancelledClipboardPasteTransferIDs_.insert(transferID);
    while (cancelledClipboardPasteTransferIDs_.size() > maximumCancelledClipboardPasteCount) {
        cancelledClipboardPasteTransferIDs_.erase(cancelledClipboardPasteTransferIDs_.begin());
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::sendClipboardTransferResult(
    ClipboardTransferResultMessage message) {
    try {
        co_await sendControlMessageOnActor(
            StreamControlMessage::make<StreamControlMessage::Case::clipboardTransferResult>(message));
    } catch (const std::exception&) {
        // A result that cannot be sent is dropped: the control stream's own failure ends the session.
    }
}

void ScreenStreamBroadcaster::sendClipboardTransferResultLater(ClipboardTransferResultMessage message) {
    std::erase_if(clipboardBackgroundTasks_, [](const Task& task) { return task.isFinished(); });
    auto self = shared_from_this();
    clipboardBackgroundTasks_.push_back(Task::spawn(
        actor_.executor(),
        [self, message]() -> asio::awaitable<void> { co_await self->sendClipboardTransferResult(message); },
        "clipboard transfer result"));
}

// Paste.

asio::awaitable<void> ScreenStreamBroadcaster::receiveClipboardPasteStream(std::shared_ptr<QuicStream> stream,
                                                                           Uuid sessionID) {
    if (stream->directionality() != QuicStreamDirectionality::bidirectional) {
        stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
        stream->stopSending(clipboardStreamApplicationErrorCode);
        logger_.error("Rejected non-bidirectional clipboard paste stream");
        co_return;
    }
    std::exception_ptr refusal;
    std::optional<ClipboardPayloadStreamHeader> header;
    try {
        const auto chunk = co_await stream->receiveExactly(ClipboardPayloadStreamHeader::encodedByteCount);
        header = ClipboardPayloadStreamHeader::decode(chunk.data);
        if (!header || header->operation != ClipboardTransferOperation::pasteToMac ||
            sessionID_ != sessionID) {
            throw PersonaCameraTransportException(PersonaCameraTransportError::invalidStreamKind);
        }
    } catch (...) {
        refusal = std::current_exception();
    }
    if (refusal) {
        // The rest of the stream is not read; the headset's unsent bytes must not hold the window.
        stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
        stream->stopSending(clipboardStreamApplicationErrorCode);
        bool answered = false;
        try {
            co_await ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::failed,
                                                                     *stream);
            answered = true;
        } catch (const std::exception&) {
        }
        if (answered && sessionID_ == sessionID && !co_await isCurrentCoroutineCancelled()) {
            logger_.error("Clipboard paste stream failed without ending the session: ",
                          errorDescription(refusal));
        }
        co_return;
    }
    const std::uint64_t transferID = header->transferID;
    if (cancelledClipboardPasteTransferIDs_.contains(transferID)) {
        try {
            co_await ClipboardPayloadStreamCodec::receiveBytes(header->payloadByteCount, *stream);
        } catch (const std::exception&) {
        }
        try {
            co_await ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::cancelled,
                                                                     *stream);
        } catch (const std::exception&) {
        }
        co_return;
    }
    if (activeClipboardTransferID_) {
        stream->stopSending(clipboardStreamApplicationErrorCode);
        try {
            co_await ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::failed,
                                                                     *stream);
            stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
        } catch (const std::exception&) {
        }
        co_return;
    }
    activeClipboardTransferID_ = transferID;
    activeClipboardTransferOperation_ = ClipboardTransferOperation::pasteToMac;
    activeClipboardStream_ = stream;
    stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
    auto self = shared_from_this();
    const std::uint32_t payloadByteCount = header->payloadByteCount;
    clipboardTransferTask_ = Task::spawn(
        actor_.executor(),
        [self, stream, transferID, payloadByteCount, sessionID]() -> asio::awaitable<void> {
            std::exception_ptr error;
            std::optional<ClipboardTransferResultCode> result;
            try {
                result =
                    co_await self->performClipboardPaste(stream, transferID, payloadByteCount, sessionID);
            } catch (...) {
                error = std::current_exception();
            }
            if (error) {
                co_await self->answerClipboardPaste(stream, transferID, sessionID, error);
            }
        },
        "clipboard paste");
    // The handler waits for the paste (a cancel message may release the task meanwhile; the join still
    // follows the same body).
    auto joining = clipboardTransferTask_.join();
    try {
        co_await std::move(joining);
    } catch (const std::exception&) {
    }
    if (sessionID_ == sessionID && activeClipboardTransferID_ == transferID) {
        activeClipboardTransferID_.reset();
        activeClipboardTransferOperation_.reset();
        activeClipboardStream_.reset();
        clipboardTransferTask_ = Task();
    }
}

// Runs in the transfer task. Returns the result it wrote; throws when reading or writing failed (the
// caller answers then).
asio::awaitable<ClipboardTransferResultCode> ScreenStreamBroadcaster::performClipboardPaste(
    std::shared_ptr<QuicStream> stream, std::uint64_t transferID, std::uint32_t payloadByteCount,
    Uuid sessionID) {
    auto payload = co_await ClipboardPayloadStreamCodec::read(*stream, payloadByteCount);
    if (co_await isCurrentCoroutineCancelled()) {
        throw asio::system_error(asio::error::operation_aborted);
    }
    if (sessionID_ != sessionID ||
        !isActiveClipboardTransfer(transferID, ClipboardTransferOperation::pasteToMac) ||
        cancelledClipboardPasteTransferIDs_.contains(transferID)) {
        // Let go of: the stream closes with the clipboard code.
        stream->reset(clipboardStreamApplicationErrorCode);
        co_return ClipboardTransferResultCode::cancelled;
    }
    bool applied = false;
    if (dependencies_.clipboard) {
        applied = co_await dependencies_.clipboard->applyRemoteClipboard(std::move(payload));
    } else {
        logger_.error("No desktop clipboard is available for a paste");
    }
    auto result = ClipboardTransferResultCode::failed;
    if (applied && sessionID_ == sessionID && !co_await isCurrentCoroutineCancelled() &&
        isActiveClipboardTransfer(transferID, ClipboardTransferOperation::pasteToMac)) {
        if (dependencies_.keyboardReporting) {
            dependencies_.keyboardReporting->pressPasteChord();
        }
        result = ClipboardTransferResultCode::succeeded;
    }
    co_await ClipboardPayloadStreamCodec::sendTransferResult(result, *stream);
    co_return result;
}

asio::awaitable<void> ScreenStreamBroadcaster::answerClipboardPaste(std::shared_ptr<QuicStream> stream,
                                                                    std::uint64_t transferID, Uuid sessionID,
                                                                    std::exception_ptr error) {
    const bool wasCancelled = cancelledClipboardPasteTransferIDs_.contains(transferID);
    // Whatever of the body was not read stays unread.
    stream->stopSending(clipboardStreamApplicationErrorCode);
    try {
        co_await ClipboardPayloadStreamCodec::sendTransferResult(
            wasCancelled ? ClipboardTransferResultCode::cancelled : ClipboardTransferResultCode::failed,
            *stream);
    } catch (const std::exception&) {
        co_return;
    }
    if (sessionID_ == sessionID &&
        isActiveClipboardTransfer(transferID, ClipboardTransferOperation::pasteToMac) && !wasCancelled) {
        logger_.error("Clipboard paste transfer failed: ", errorDescription(error));
    }
}

// Requests and cancels.

void ScreenStreamBroadcaster::handleClipboardTransferRequest(const ClipboardTransferRequestMessage& message) {
    if (message.transferID == 0 || message.operation != ClipboardTransferOperation::copyFromMac ||
        activeClipboardTransferID_) {
        sendClipboardTransferResultLater(
            {message.transferID, message.operation, ClipboardTransferResultCode::failed});
        return;
    }
    activeClipboardTransferID_ = message.transferID;
    activeClipboardTransferOperation_ = ClipboardTransferOperation::copyFromMac;
    releaseClipboardTransferTask();
    auto self = shared_from_this();
    const auto transferID = message.transferID;
    const auto sessionID = sessionID_;
    clipboardTransferTask_ = Task::spawn(
        actor_.executor(),
        [self, transferID, sessionID]() -> asio::awaitable<void> {
            co_await self->sendClipboardCopyTransfer(transferID, sessionID);
        },
        "clipboard copy");
}

void ScreenStreamBroadcaster::handleClipboardTransferCancel(const ClipboardTransferCancelMessage& message) {
    logger_.info("Received clipboard ", operationName(message.operation), " cancellation for transfer ",
                 message.transferID);
    if (message.operation == ClipboardTransferOperation::pasteToMac) {
        noteCancelledClipboardPaste(message.transferID);
        if (isActiveClipboardTransfer(message.transferID, ClipboardTransferOperation::pasteToMac)) {
            releaseClipboardTransferTask();
            activeClipboardTransferID_.reset();
            activeClipboardTransferOperation_.reset();
            activeClipboardStream_.reset();
        }
        sendClipboardTransferResultLater({message.transferID, ClipboardTransferOperation::pasteToMac,
                                          ClipboardTransferResultCode::cancelled});
        return;
    }
    if (!isActiveClipboardTransfer(message.transferID, ClipboardTransferOperation::copyFromMac)) {
        sendClipboardTransferResultLater({message.transferID, ClipboardTransferOperation::copyFromMac,
                                          ClipboardTransferResultCode::cancelled});
        return;
    }
    if (activeClipboardStream_) {
        activeClipboardStream_->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
    }
    clipboardTransferTask_.cancel();
    // The cancelled task's clean-up runs first; the retirement's `cancelled` is the last word.
    auto cancelled = std::make_shared<Task>(std::move(clipboardTransferTask_));
    clipboardTransferTask_ = Task();
    std::erase_if(clipboardBackgroundTasks_, [](const Task& task) { return task.isFinished(); });
    auto self = shared_from_this();
    const auto transferID = message.transferID;
    const auto operation = message.operation;
    const auto sessionID = sessionID_;
    clipboardBackgroundTasks_.push_back(Task::spawn(
        actor_.executor(),
        [self, cancelled, transferID, operation, sessionID]() -> asio::awaitable<void> {
            co_await cancelled->join();
            co_await self->retireClipboardCopySender(transferID, sessionID, operation);
        },
        "clipboard copy retirement"));
}

// Copy.

asio::awaitable<void> ScreenStreamBroadcaster::retireClipboardCopySender(
    std::uint64_t transferID, Uuid sessionID, ClipboardTransferOperation operation) {
    if (sessionID_ != sessionID) {
        co_return;
    }
    clearClipboardTransfer(transferID, sessionID);
    logger_.info("Clipboard copy sender retired for cancelled transfer ", transferID);
    co_await sendClipboardTransferResult({transferID, operation, ClipboardTransferResultCode::cancelled});
}

asio::awaitable<void> ScreenStreamBroadcaster::sendClipboardCopyTransfer(std::uint64_t transferID,
                                                                         Uuid sessionID) {
    if (!(sessionID_ == sessionID && isAuthorized_ && activeClipboardTransferID_ == transferID) ||
        co_await isCurrentCoroutineCancelled()) {
        co_return;
    }
    if (!dependencies_.clipboard) {
        logger_.error("No desktop clipboard is available for a copy");
        co_await sendClipboardTransferResult(
            {transferID, ClipboardTransferOperation::copyFromMac, ClipboardTransferResultCode::unavailable});
        clearClipboardTransfer(transferID, sessionID);
        co_return;
    }
    auto capture = co_await dependencies_.clipboard->captureClipboard();
    if (co_await isCurrentCoroutineCancelled()) {
        // A cancelled copy is answered by its retirement.
        clearClipboardTransfer(transferID, sessionID);
        co_return;
    }
    if (!(sessionID_ == sessionID && isAuthorized_ && activeClipboardTransferID_ == transferID)) {
        co_return;
    }
    if (capture.kind != RemoteClipboardCaptureResult::Kind::captured || !capture.payload) {
        co_await sendClipboardTransferResult(
            {transferID, ClipboardTransferOperation::copyFromMac, capture.resultCode()});
        clearClipboardTransfer(transferID, sessionID);
        co_return;
    }
    const auto& payload = *capture.payload;
    const std::uint64_t byteCount = payload.encodedByteCount();
    if (byteCount == 0 || byteCount > maximumClipboardCopyBodyByteCount || !connection_) {
        co_await sendClipboardTransferResult(
            {transferID, ClipboardTransferOperation::copyFromMac, ClipboardTransferResultCode::tooLarge});
        clearClipboardTransfer(transferID, sessionID);
        co_return;
    }
    logger_.info("Sending clipboard copy transfer ", transferID, " with ", byteCount, " bytes in ",
                 payload.items().size(), " items and ", payload.representationCount(),
                 " representations: ", clipboardItemSummary(payload));

    std::exception_ptr failure;
    std::shared_ptr<QuicStream> stream;
    try {
        auto connection = connection_;
        stream = co_await connection->openStream(QuicStreamDirectionality::bidirectional);
        stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
        if (sessionID_ != sessionID || activeClipboardTransferID_ != transferID ||
            co_await isCurrentCoroutineCancelled()) {
            throw asio::system_error(asio::error::operation_aborted);
        }
        activeClipboardStream_ = stream;
        Bytes kindByte(1, wireByte(InboundStreamKind::clipboardPaste));
        co_await stream->send(std::move(kindByte), false);
        ClipboardPayloadStreamHeader header;
        header.operation = ClipboardTransferOperation::copyFromMac;
        header.transferID = transferID;
        header.payloadByteCount = static_cast<std::uint32_t>(byteCount);
        co_await stream->send(header.encodedData(), false);
        co_await ClipboardPayloadStreamCodec::write(payload, *stream);
        const auto result = co_await ClipboardPayloadStreamCodec::receiveTransferResult(*stream);
        if (result != ClipboardTransferResultCode::succeeded) {
            throw PersonaCameraTransportException(PersonaCameraTransportError::invalidStreamKind);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) {
        clearClipboardTransfer(transferID, sessionID);
        co_return;
    }
    if (stream) {
        // Nothing more is read or written: both directions close with the clipboard code.
        stream->stopSending(clipboardStreamApplicationErrorCode);
        stream->reset(clipboardStreamApplicationErrorCode);
    }
    if (sessionID_ == sessionID && activeClipboardTransferID_ == transferID &&
        !co_await isCurrentCoroutineCancelled()) {
        logger_.error("Clipboard copy transfer failed: ", errorDescription(failure));
        co_await sendClipboardTransferResult(
            {transferID, ClipboardTransferOperation::copyFromMac, ClipboardTransferResultCode::failed});
    }
    clearClipboardTransfer(transferID, sessionID);
}

}  // namespace quillbridge
