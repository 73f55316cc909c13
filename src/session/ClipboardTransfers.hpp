#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include <asio/awaitable.hpp>

#include "core/Logger.hpp"
#include "core/Task.hpp"
#include "core/Uuid.hpp"
#include "session/QuicStream.hpp"
#include "session/ScreenStreamBroadcasterDependencies.hpp"
#include "session/SessionContext.hpp"
#include "wire/ClipboardTransferOperation.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {

// Clipboard transfers with the headset, paste and copy, at most one at a time. It owns the running transfer
// (its task, ID, operation and stream), the pastes the headset cancelled before their stream came, and the
// result sends and retirements still under way. Runs on the session's strand; every member is called there.
class ClipboardTransfers {
public:
    ClipboardTransfers(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies);

    // The headset's copy request and its cancels of either kind, from the control stream.
    void handleRequest(const ClipboardTransferRequestMessage& message);
    void handleCancel(const ClipboardTransferCancelMessage& message);
    // A paste stream the headset opened (its kind byte already read); returns once the paste ended.
    asio::awaitable<void> receivePasteStream(std::shared_ptr<QuicStream> stream, Uuid sessionID);

    // The session ends: the active stream aborts with the clipboard code and the transfer is cancelled.
    void abortForSessionEnd();
    // The session ended: nothing of its transfers is remembered.
    void endSession();

private:
    friend struct ScreenStreamBroadcasterLoopbackTestAccess;

    // Refuses a paste stream whose header is unusable: stops it and answers failed.
    asio::awaitable<void> refusePasteStream(QuicStream& stream, std::exception_ptr refusal, Uuid sessionID);
    asio::awaitable<ClipboardTransferResultCode> performClipboardPaste(std::shared_ptr<QuicStream> stream,
                                                                       std::uint64_t transferID,
                                                                       std::uint32_t payloadByteCount,
                                                                       Uuid sessionID);
    asio::awaitable<void> answerClipboardPaste(std::shared_ptr<QuicStream> stream, std::uint64_t transferID,
                                               Uuid sessionID, std::exception_ptr error);
    void noteCancelledClipboardPaste(std::uint64_t transferID);
    bool isActiveClipboardTransfer(std::uint64_t transferID, ClipboardTransferOperation operation) const;
    asio::awaitable<void> sendClipboardCopyTransfer(std::uint64_t transferID, Uuid sessionID);
    asio::awaitable<void> retireClipboardCopySender(std::uint64_t transferID, Uuid sessionID,
                                                    ClipboardTransferOperation operation);
    asio::awaitable<void> sendClipboardTransferResult(ClipboardTransferResultMessage message);
    void sendClipboardTransferResultLater(ClipboardTransferResultMessage message);
    void clearClipboardTransfer(std::uint64_t transferID, const Uuid& sessionID);
    // Lets the running transfer task go on without being cancelled or owned by the transfer state.
    void releaseClipboardTransferTask();

    SessionContext& session_;
    const ScreenStreamBroadcasterDependencies& dependencies_;
    Logger logger_{"ScreenStreamBroadcaster"};

    Task transferTask_;
    std::optional<std::uint64_t> activeTransferID_;
    std::optional<ClipboardTransferOperation> activeTransferOperation_;
    std::shared_ptr<QuicStream> activeStream_;
    std::set<std::uint64_t> cancelledPasteTransferIDs_;
    // Transfer tasks let go of without cancelling, result sends and copy retirements still running.
    std::vector<Task> backgroundTasks_;
};

}  // namespace quillbridge
