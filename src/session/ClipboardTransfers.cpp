#include "session/ClipboardTransfers.hpp"

#include <sstream>

#include <asio/this_coro.hpp>

#include "session/PersonaCameraTransportError.hpp"
#include "session/SessionErrors.hpp"
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

// Reads a paste the headset had already cancelled to its end and answers it cancelled; failures change
// nothing.
asio::awaitable<void> drainCancelledPaste(QuicStream& stream, std::uint32_t payloadByteCount) {
    try {
        co_await ClipboardPayloadStreamCodec::receiveBytes(payloadByteCount, stream);
    } catch (const std::exception&) {
    }
    try {
        co_await ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::cancelled,
                                                                 stream);
    } catch (const std::exception&) {
    }
}

// Writes a copy on its stream (kind byte, header, payload) and waits for the headset's result; throws when
// any of it fails or the headset did not take the copy.
asio::awaitable<void> writeClipboardCopy(QuicStream& stream, std::uint64_t transferID,
                                         const ClipboardTransferPayload& payload, std::uint64_t byteCount) {
    Bytes kindByte(1, wireByte(InboundStreamKind::clipboardPaste));
    co_await stream.send(std::move(kindByte), false);
    ClipboardPayloadStreamHeader header;
    header.operation = ClipboardTransferOperation::copyFromMac;
    header.transferID = transferID;
    header.payloadByteCount = static_cast<std::uint32_t>(byteCount);
    co_await stream.send(header.encodedData(), false);
    co_await ClipboardPayloadStreamCodec::write(payload, stream);
    const auto result = co_await ClipboardPayloadStreamCodec::receiveTransferResult(stream);
    if (result != ClipboardTransferResultCode::succeeded) {
        throw PersonaCameraTransportException(PersonaCameraTransportError::invalidStreamKind);
    }
}

}  // namespace

ClipboardTransfers::ClipboardTransfers(SessionContext& session,
                                       const ScreenStreamBroadcasterDependencies& dependencies)
    : session_(session), dependencies_(dependencies) {}

void ClipboardTransfers::abortForSessionEnd() {
    if (activeStream_) {
        activeStream_->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
    }
    transferTask_.cancel();
}

void ClipboardTransfers::endSession() {
    transferTask_ = Task();
    activeTransferID_.reset();
    activeTransferOperation_.reset();
    activeStream_.reset();
    cancelledPasteTransferIDs_.clear();
}

bool ClipboardTransfers::isActiveClipboardTransfer(std::uint64_t transferID,
                                                   ClipboardTransferOperation operation) const {
    return activeTransferID_ == transferID && activeTransferOperation_ == operation;
}

void ClipboardTransfers::releaseClipboardTransferTask() {
    std::erase_if(backgroundTasks_, [](const Task& task) { return task.isFinished(); });
    if (!transferTask_.isFinished()) {
        backgroundTasks_.push_back(std::move(transferTask_));
    }
    transferTask_ = Task();
}

void ClipboardTransfers::clearClipboardTransfer(std::uint64_t transferID, const Uuid& sessionID) {
    if (session_.sessionID() != sessionID || activeTransferID_ != transferID) {
        return;
    }
    releaseClipboardTransferTask();
    activeTransferID_.reset();
    activeTransferOperation_.reset();
    activeStream_.reset();
}

void ClipboardTransfers::noteCancelledClipboardPaste(std::uint64_t transferID) {
    if (transferID == 0) {
        return;
    }
    cancelledPasteTransferIDs_.insert(transferID);
    while (cancelledPasteTransferIDs_.size() > maximumCancelledClipboardPasteCount) {
        cancelledPasteTransferIDs_.erase(cancelledPasteTransferIDs_.begin());
    }
}

asio::awaitable<void> ClipboardTransfers::sendClipboardTransferResult(
    ClipboardTransferResultMessage message) {
    try {
        co_await session_.sendControlMessage(
            StreamControlMessage::make<StreamControlMessage::Case::clipboardTransferResult>(message));
    } catch (const std::exception&) {
        // A result that cannot be sent is dropped: the control stream's own failure ends the session.
    }
}

void ClipboardTransfers::sendClipboardTransferResultLater(ClipboardTransferResultMessage message) {
    std::erase_if(backgroundTasks_, [](const Task& task) { return task.isFinished(); });
    backgroundTasks_.push_back(Task::spawn(
        session_.executor(),
        [this, owner = session_.keepAlive(), message]() -> asio::awaitable<void> {
            co_await sendClipboardTransferResult(message);
        },
        "clipboard transfer result"));
}

// Paste.

asio::awaitable<void> ClipboardTransfers::receivePasteStream(std::shared_ptr<QuicStream> stream,
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
            session_.sessionID() != sessionID) {
            throw PersonaCameraTransportException(PersonaCameraTransportError::invalidStreamKind);
        }
    } catch (...) {
        refusal = std::current_exception();
    }
    if (refusal) {
        co_await refusePasteStream(*stream, refusal, sessionID);
        co_return;
    }
    const std::uint64_t transferID = header->transferID;
    if (cancelledPasteTransferIDs_.contains(transferID)) {
        co_await drainCancelledPaste(*stream, header->payloadByteCount);
        co_return;
    }
    if (activeTransferID_) {
        stream->stopSending(clipboardStreamApplicationErrorCode);
        try {
            co_await ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::failed,
                                                                     *stream);
            stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
        } catch (const std::exception&) {
        }
        co_return;
    }
    activeTransferID_ = transferID;
    activeTransferOperation_ = ClipboardTransferOperation::pasteToMac;
    activeStream_ = stream;
    stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
    const std::uint32_t payloadByteCount = header->payloadByteCount;
    transferTask_ = Task::spawn(
        session_.executor(),
        [this, owner = session_.keepAlive(), stream, transferID, payloadByteCount,
         sessionID]() -> asio::awaitable<void> {
            std::exception_ptr error;
            std::optional<ClipboardTransferResultCode> result;
            try {
                result = co_await performClipboardPaste(stream, transferID, payloadByteCount, sessionID);
            } catch (...) {
                error = std::current_exception();
            }
            if (error) {
                co_await answerClipboardPaste(stream, transferID, sessionID, error);
            }
        },
        "clipboard paste");
    // The handler waits for the paste (a cancel message may release the task meanwhile; the join still
    // follows the same body).
    auto joining = transferTask_.join();
    try {
        co_await std::move(joining);
    } catch (const std::exception&) {
    }
    if (session_.sessionID() == sessionID && activeTransferID_ == transferID) {
        activeTransferID_.reset();
        activeTransferOperation_.reset();
        activeStream_.reset();
        transferTask_ = Task();
    }
}

asio::awaitable<void> ClipboardTransfers::refusePasteStream(QuicStream& stream, std::exception_ptr refusal,
                                                            Uuid sessionID) {
    // The rest of the stream is not read; the headset's unsent bytes must not hold the window.
    stream.setApplicationErrorCode(clipboardStreamApplicationErrorCode);
    stream.stopSending(clipboardStreamApplicationErrorCode);
    bool answered = false;
    try {
        co_await ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::failed, stream);
        answered = true;
    } catch (const std::exception&) {
    }
    if (answered && session_.sessionID() == sessionID && !co_await isCurrentCoroutineCancelled()) {
        logger_.error("Clipboard paste stream failed without ending the session: ",
                      errorDescription(refusal));
    }
}

// Runs in the transfer task. Returns the result it wrote; throws when reading or writing failed (the
// caller answers then).
asio::awaitable<ClipboardTransferResultCode> ClipboardTransfers::performClipboardPaste(
    std::shared_ptr<QuicStream> stream, std::uint64_t transferID, std::uint32_t payloadByteCount,
    Uuid sessionID) {
    auto payload = co_await ClipboardPayloadStreamCodec::read(*stream, payloadByteCount);
    if (co_await isCurrentCoroutineCancelled()) {
        throw asio::system_error(asio::error::operation_aborted);
    }
    if (session_.sessionID() != sessionID ||
        !isActiveClipboardTransfer(transferID, ClipboardTransferOperation::pasteToMac) ||
        cancelledPasteTransferIDs_.contains(transferID)) {
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
    if (applied && session_.sessionID() == sessionID && !co_await isCurrentCoroutineCancelled() &&
        isActiveClipboardTransfer(transferID, ClipboardTransferOperation::pasteToMac)) {
        if (dependencies_.keyboardReporting) {
            dependencies_.keyboardReporting->pressPasteChord();
        }
        result = ClipboardTransferResultCode::succeeded;
    }
    co_await ClipboardPayloadStreamCodec::sendTransferResult(result, *stream);
    co_return result;
}

asio::awaitable<void> ClipboardTransfers::answerClipboardPaste(std::shared_ptr<QuicStream> stream,
                                                               std::uint64_t transferID, Uuid sessionID,
                                                               std::exception_ptr error) {
    const bool wasCancelled = cancelledPasteTransferIDs_.contains(transferID);
    // Whatever of the body was not read stays unread.
    stream->stopSending(clipboardStreamApplicationErrorCode);
    try {
        co_await ClipboardPayloadStreamCodec::sendTransferResult(
            wasCancelled ? ClipboardTransferResultCode::cancelled : ClipboardTransferResultCode::failed,
            *stream);
    } catch (const std::exception&) {
        co_return;
    }
    if (session_.sessionID() == sessionID &&
        isActiveClipboardTransfer(transferID, ClipboardTransferOperation::pasteToMac) && !wasCancelled) {
        logger_.error("Clipboard paste transfer failed: ", errorDescription(error));
    }
}

// Requests and cancels.

void ClipboardTransfers::handleRequest(const ClipboardTransferRequestMessage& message) {
    if (message.transferID == 0 || message.operation != ClipboardTransferOperation::copyFromMac ||
        activeTransferID_) {
        sendClipboardTransferResultLater(
            {message.transferID, message.operation, ClipboardTransferResultCode::failed});
        return;
    }
    activeTransferID_ = message.transferID;
    activeTransferOperation_ = ClipboardTransferOperation::copyFromMac;
    releaseClipboardTransferTask();
    const auto transferID = message.transferID;
    const auto sessionID = session_.sessionID();
    transferTask_ = Task::spawn(
        session_.executor(),
        [this, owner = session_.keepAlive(), transferID, sessionID]() -> asio::awaitable<void> {
            co_await sendClipboardCopyTransfer(transferID, sessionID);
        },
        "clipboard copy");
}

void ClipboardTransfers::handleCancel(const ClipboardTransferCancelMessage& message) {
    logger_.info("Received clipboard ", operationName(message.operation), " cancellation for transfer ",
                 message.transferID);
    if (message.operation == ClipboardTransferOperation::pasteToMac) {
        noteCancelledClipboardPaste(message.transferID);
        if (isActiveClipboardTransfer(message.transferID, ClipboardTransferOperation::pasteToMac)) {
            releaseClipboardTransferTask();
            activeTransferID_.reset();
            activeTransferOperation_.reset();
            activeStream_.reset();
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
    if (activeStream_) {
        activeStream_->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
    }
    transferTask_.cancel();
    // The cancelled task's clean-up runs first; the retirement's `cancelled` is the last word.
    auto cancelled = std::make_shared<Task>(std::move(transferTask_));
    transferTask_ = Task();
    std::erase_if(backgroundTasks_, [](const Task& task) { return task.isFinished(); });
    const auto transferID = message.transferID;
    const auto operation = message.operation;
    const auto sessionID = session_.sessionID();
    backgroundTasks_.push_back(Task::spawn(
        session_.executor(),
        [this, owner = session_.keepAlive(), cancelled, transferID, operation,
         sessionID]() -> asio::awaitable<void> {
            co_await cancelled->join();
            co_await retireClipboardCopySender(transferID, sessionID, operation);
        },
        "clipboard copy retirement"));
}

// Copy.

asio::awaitable<void> ClipboardTransfers::retireClipboardCopySender(std::uint64_t transferID, Uuid sessionID,
                                                                    ClipboardTransferOperation operation) {
    if (session_.sessionID() != sessionID) {
        co_return;
    }
    clearClipboardTransfer(transferID, sessionID);
    logger_.info("Clipboard copy sender retired for cancelled transfer ", transferID);
    co_await sendClipboardTransferResult({transferID, operation, ClipboardTransferResultCode::cancelled});
}

asio::awaitable<void> ClipboardTransfers::sendClipboardCopyTransfer(std::uint64_t transferID,
                                                                    Uuid sessionID) {
    if (!(session_.sessionID() == sessionID && session_.isAuthorized() && activeTransferID_ == transferID) ||
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
    if (!(session_.sessionID() == sessionID && session_.isAuthorized() && activeTransferID_ == transferID)) {
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
    if (byteCount == 0 || byteCount > maximumClipboardCopyBodyByteCount || !session_.connection()) {
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
        auto connection = session_.connection();
        stream = co_await connection->openStream(QuicStreamDirectionality::bidirectional);
        stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
        if (session_.sessionID() != sessionID || activeTransferID_ != transferID ||
            co_await isCurrentCoroutineCancelled()) {
            throw asio::system_error(asio::error::operation_aborted);
        }
        activeStream_ = stream;
        co_await writeClipboardCopy(*stream, transferID, payload, byteCount);
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
    if (session_.sessionID() == sessionID && activeTransferID_ == transferID &&
        !co_await isCurrentCoroutineCancelled()) {
        logger_.error("Clipboard copy transfer failed: ", errorDescription(failure));
        co_await sendClipboardTransferResult(
            {transferID, ClipboardTransferOperation::copyFromMac, ClipboardTransferResultCode::failed});
    }
    clearClipboardTransfer(transferID, sessionID);
}

}  // namespace quillbridge
