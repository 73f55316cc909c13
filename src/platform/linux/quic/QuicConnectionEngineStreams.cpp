// Streams: opening and accepting them, receiving with flow-control credit, sending, resets and release.

#include "platform/linux/quic/QuicConnectionEngine.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include <ngtcp2/ngtcp2_crypto_gnutls.h>
#include <asio/error.hpp>
#include <asio/post.hpp>

#include "core/FrameStageTrace.hpp"
#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"
#include "core/SecureRandom.hpp"
#include "platform/linux/quic/QuicConnectionEngineShared.hpp"
#include "platform/linux/quic/QuicEndpoint.hpp"
#include "platform/linux/quic/QuicHandles.hpp"

namespace quillbridge {

using namespace quic_engine;

// --- Streams ---------------------------------------------------------------------------------------------

std::shared_ptr<QuicStreamState> QuicConnectionEngine::streamFor(std::int64_t streamID, bool createRemote) {
    if (auto found = streams_.find(streamID); found != streams_.end()) {
        return found->second;
    }
    if (!createRemote || connection_ == nullptr || ngtcp2_conn_is_local_stream(connection_, streamID)) {
        return nullptr;
    }
    return openRemoteStreamsUpTo(streamID);
}

std::shared_ptr<QuicStreamState> QuicConnectionEngine::openRemoteStreamsUpTo(std::int64_t streamID) {
    // Opening stream N opens every lower stream of its kind: they are handed out in ID order, so the first
    // stream the peer opened is always accepted first even when its packets arrive late.
    const bool bidirectional = ngtcp2_is_bidi_stream(streamID) != 0;
    auto& highest = bidirectional ? highestRemoteBidirectionalID_ : highestRemoteUnidirectionalID_;
    if (streamID <= highest) {
        return nullptr;  // opened before and already closed
    }
    const std::int64_t first = highest < 0 ? (streamID & 3) : highest + 4;
    std::shared_ptr<QuicStreamState> result;
    for (std::int64_t id = first; id <= streamID; id += 4) {
        auto stream = std::make_shared<QuicStreamState>(id, bidirectional, false);
        streams_.emplace(id, stream);
        if (phase_ == Phase::handshaking || phase_ == Phase::ready) {
            inboundStreams_.push_back(stream);
        }
        result = stream;
    }
    highest = streamID;
    deliverInboundStreams();
    return result;
}

std::shared_ptr<QuicStream> QuicConnectionEngine::makeStreamHandle(
    const std::shared_ptr<QuicStreamState>& stream) {
    auto runtime = runtime_.lock();
    if (!runtime) {
        return nullptr;
    }
    return std::make_shared<QuicStreamHandle>(std::move(runtime), shared_from_this(), stream);
}

void QuicConnectionEngine::deliverInboundStreams() {
    // Streams go out only once the connection was handed to its user.
    if (!handedOut_) {
        return;
    }
    while (!acceptWaiters_.empty() && !inboundStreams_.empty()) {
        auto stream = std::move(inboundStreams_.front());
        inboundStreams_.pop_front();
        auto waiter = std::move(acceptWaiters_.front());
        acceptWaiters_.pop_front();
        stream->handedOut = true;
        waiter.completion.succeed(makeStreamHandle(stream));
        returnStreamCredit(*stream);
    }
}

void QuicConnectionEngine::returnStreamCredit(QuicStreamState& stream) {
    if (stream.isLocal || stream.streamCreditReturned || !stream.handedOut || connection_ == nullptr) {
        return;
    }
    // The QUIC stack reports the close of the peer's unidirectional streams only in later versions: such a
    // stream is over once all of it arrived or the peer reset it.
    const bool finished =
        stream.closed || (!stream.isBidirectional && (stream.finReceived || stream.resetByPeerCode));
    if (!finished) {
        return;
    }
    stream.streamCreditReturned = true;
    if (stream.isBidirectional) {
        ngtcp2_conn_extend_max_streams_bidi(connection_, 1);
    } else {
        ngtcp2_conn_extend_max_streams_uni(connection_, 1);
    }
    scheduleWrite();
}

void QuicConnectionEngine::acceptStream(QuicCompletion<std::shared_ptr<QuicStream>> completion) {
    if (phase_ != Phase::ready && inboundStreams_.empty()) {
        if (stateSnapshot_.kind == QuicConnectionState::Kind::cancelled) {
            completion.succeed(nullptr);
        } else {
            completion.fail(terminalException());
        }
        return;
    }
    const auto id = nextWaiterID_++;
    acceptWaiters_.push_back({id, std::move(completion)});
    acceptWaiters_.back().completion.setCanceller([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            self->cancelWaiter(self->acceptWaiters_, id);
        }
    });
    deliverInboundStreams();
}

void QuicConnectionEngine::openStream(QuicStreamDirectionality directionality,
                                      QuicCompletion<std::shared_ptr<QuicStream>> completion) {
    if (phase_ != Phase::ready) {
        completion.fail(terminalException());
        return;
    }
    const auto id = nextWaiterID_++;
    pendingOpens_.push_back({id, directionality, std::move(completion)});
    pendingOpens_.back().completion.setCanceller([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            auto found = std::find_if(self->pendingOpens_.begin(), self->pendingOpens_.end(),
                                      [id](const PendingOpen& open) { return open.id == id; });
            if (found != self->pendingOpens_.end()) {
                auto open = std::move(*found);
                self->pendingOpens_.erase(found);
                open.completion.fail(make_error_code(asio::error::operation_aborted));
            }
        }
    });
    serviceOpens();
}

void QuicConnectionEngine::serviceOpens() {
    while (!pendingOpens_.empty() && connection_ != nullptr && phase_ == Phase::ready) {
        auto& open = pendingOpens_.front();
        const bool bidirectional = open.directionality == QuicStreamDirectionality::bidirectional;
        std::int64_t streamID = -1;
        const int rv = bidirectional ? ngtcp2_conn_open_bidi_stream(connection_, &streamID, nullptr)
                                     : ngtcp2_conn_open_uni_stream(connection_, &streamID, nullptr);
        if (rv == NGTCP2_ERR_STREAM_ID_BLOCKED) {
            return;  // the peer allows more later (extend_max_local_streams)
        }
        auto completion = std::move(open.completion);
        pendingOpens_.pop_front();
        if (rv != 0) {
            completion.fail(errorOf(QuicError::protocolViolation));
            continue;
        }
        auto stream = std::make_shared<QuicStreamState>(streamID, bidirectional, true);
        streams_.emplace(streamID, stream);
        completion.succeed(makeStreamHandle(stream));
    }
}

void QuicConnectionEngine::receive(const std::shared_ptr<QuicStreamState>& stream, std::size_t minimumLength,
                                   std::size_t maximumLength, QuicCompletion<QuicStreamChunk> completion) {
    if (!stream->canReceive() || stream->readShutDown) {
        completion.fail(errorOf(QuicError::streamClosed));
        return;
    }
    if (stream->resetByPeerCode) {
        completion.fail(std::make_exception_ptr(
            QuicStreamAbortedError(QuicError::streamReset, *stream->resetByPeerCode)));
        return;
    }
    auto pending = std::make_unique<QuicStreamState::PendingReceive>();
    pending->minimumLength = std::max<std::size_t>(minimumLength, 1);
    pending->maximumLength = std::max(maximumLength, pending->minimumLength);
    pending->completion = std::move(completion);
    auto* raw = pending.get();
    stream->pendingReceives.push_back(std::move(pending));
    raw->completion.setCanceller([weak = weak_from_this(), weakStream = std::weak_ptr(stream), raw] {
        auto self = weak.lock();
        auto stream = weakStream.lock();
        if (!self || !stream) {
            return;
        }
        auto found = std::find_if(stream->pendingReceives.begin(), stream->pendingReceives.end(),
                                  [raw](const auto& pending) { return pending.get() == raw; });
        if (found == stream->pendingReceives.end()) {
            return;
        }
        auto cancelled = std::move(*found);
        stream->pendingReceives.erase(found);
        // Bytes it had taken go back to the front of the stream, in order.
        if (!cancelled->data.empty()) {
            if (stream->receivedHeadOffset > 0 && !stream->receivedChunks.empty()) {
                auto& head = stream->receivedChunks.front();
                head.erase(head.begin(),
                           head.begin() + static_cast<std::ptrdiff_t>(stream->receivedHeadOffset));
                stream->receivedHeadOffset = 0;
            }
            // Their credit was returned when they were taken.
            stream->bufferedBytes += cancelled->data.size();
            stream->creditedBytes += cancelled->data.size();
            stream->receivedChunks.push_front(std::move(cancelled->data));
        }
        cancelled->completion.fail(make_error_code(asio::error::operation_aborted));
        // A receive queued behind the cancelled one may be served by what is there now.
        self->serviceReceives(*stream);
    });
    serviceReceives(*stream);
    if (phase_ != Phase::ready && phase_ != Phase::handshaking && !stream->pendingReceives.empty()) {
        failReceives(*stream, [this] { return terminalException(); });
    }
}

void QuicConnectionEngine::serviceReceives(QuicStreamState& stream) {
    while (!stream.pendingReceives.empty()) {
        auto& pending = *stream.pendingReceives.front();
        std::size_t taken = 0;
        while (pending.data.size() < pending.maximumLength && !stream.receivedChunks.empty()) {
            auto& head = stream.receivedChunks.front();
            const std::size_t available = head.size() - stream.receivedHeadOffset;
            const std::size_t count = std::min(available, pending.maximumLength - pending.data.size());
            if (pending.data.empty() && stream.receivedHeadOffset == 0 && count == head.size()) {
                // The whole chunk, without a copy.
                pending.data = std::move(head);
                stream.receivedChunks.pop_front();
                taken += count;
                continue;
            } else {
                const auto begin = head.begin() + static_cast<std::ptrdiff_t>(stream.receivedHeadOffset);
                pending.data.insert(pending.data.end(), begin, begin + static_cast<std::ptrdiff_t>(count));
            }
            stream.receivedHeadOffset += count;
            taken += count;
            if (stream.receivedHeadOffset == head.size()) {
                stream.receivedChunks.pop_front();
                stream.receivedHeadOffset = 0;
            }
        }
        stream.bufferedBytes -= taken;
        const std::size_t alreadyCredited = std::min(taken, stream.creditedBytes);
        stream.creditedBytes -= alreadyCredited;
        returnCredit(stream, taken - alreadyCredited);
        const bool atEnd = stream.finReceived && stream.bufferedBytes == 0;
        if (pending.data.size() < pending.minimumLength && !atEnd) {
            return;
        }
        auto done = std::move(stream.pendingReceives.front());
        stream.pendingReceives.pop_front();
        if (atEnd) {
            stream.finDelivered = true;
        }
        done->completion.succeed(QuicStreamChunk{std::move(done->data), atEnd});
    }
}

void QuicConnectionEngine::returnCredit(QuicStreamState& stream, std::size_t length) {
    if (length == 0 || connection_ == nullptr) {
        return;
    }
    ngtcp2_conn_extend_max_stream_offset(connection_, stream.id, length);
    ngtcp2_conn_extend_max_offset(connection_, length);
    scheduleWrite();
}

void QuicConnectionEngine::failReceives(QuicStreamState& stream, const ErrorFactory& makeError) {
    auto pending = std::move(stream.pendingReceives);
    stream.pendingReceives.clear();
    for (auto& receive : pending) {
        receive->completion.fail(makeError());
    }
}

void QuicConnectionEngine::failUnwrittenSends(QuicStreamState& stream, const ErrorFactory& makeError) {
    for (std::size_t index = stream.firstUnwrittenChunk; index < stream.sendQueue.size(); ++index) {
        if (stream.sendQueue[index].completion) {
            stream.sendQueue[index].completion.fail(makeError());
        }
    }
}

void QuicConnectionEngine::completeWrittenSends(QuicStreamState& stream) {
    while (stream.firstUnwrittenChunk < stream.sendQueue.size()) {
        auto& chunk = stream.sendQueue[stream.firstUnwrittenChunk];
        if (chunk.endOffset > stream.writtenOffset || (chunk.endsStream && !stream.finWritten)) {
            return;
        }
        if (chunk.completion) {
            chunk.completion.succeed({});
        }
        ++stream.firstUnwrittenChunk;
    }
}

void QuicConnectionEngine::send(const std::shared_ptr<QuicStreamState>& stream, Bytes data, bool endOfStream,
                                QuicCompletion<QuicUnit> completion) {
    if (!stream->canSend() || stream->writeShutDown || stream->finQueued || stream->closed) {
        completion.fail(errorOf(QuicError::streamClosed));
        return;
    }
    if (stream->stoppedByPeer) {
        completion.fail(std::make_exception_ptr(
            QuicStreamAbortedError(QuicError::streamStopped, stream->peerStopCode.value_or(0))));
        return;
    }
    if (phase_ != Phase::ready) {
        completion.fail(terminalException());
        return;
    }
    if (data.empty() && !endOfStream) {
        completion.succeed({});
        return;
    }
    stream->queuedEndOffset += data.size();
    stream->finQueued = endOfStream;
    noteQueuedStreamBytes(data.size());
    stream->sendQueue.push_back({std::move(data), stream->queuedEndOffset, endOfStream, std::move(completion),
                                 FrameStageTrace::claimWireKey()});
    // A cancelled send still goes out (its bytes may be partly on the wire); only the wait ends.
    const auto endOffset = stream->queuedEndOffset;
    stream->sendQueue.back().completion.setCanceller(
        [weakStream = std::weak_ptr(stream), endOffset, endOfStream] {
            auto stream = weakStream.lock();
            if (!stream) {
                return;
            }
            for (std::size_t index = stream->firstUnwrittenChunk; index < stream->sendQueue.size(); ++index) {
                auto& chunk = stream->sendQueue[index];
                if (chunk.endOffset == endOffset && chunk.endsStream == endOfStream && chunk.completion) {
                    chunk.completion.fail(make_error_code(asio::error::operation_aborted));
                    return;
                }
            }
        });
    addToSendList(stream);
    scheduleWrite();
}

std::uint64_t QuicConnectionEngine::queuedBytes(const QuicStreamState& stream) {
    std::uint64_t total = 0;
    for (const auto& chunk : stream.sendQueue) {
        total += chunk.data.size();
    }
    return total;
}

void QuicConnectionEngine::noteQueuedStreamBytes(std::uint64_t count) {
    std::lock_guard lock(snapshotMutex_);
    statistics_.streamBytesAwaitingAcknowledgement += count;
    statistics_.peakStreamBytesAwaitingAcknowledgement = std::max(
        statistics_.peakStreamBytesAwaitingAcknowledgement, statistics_.streamBytesAwaitingAcknowledgement);
}

void QuicConnectionEngine::releaseQueuedStreamBytes(std::uint64_t count) {
    if (count == 0) {
        return;
    }
    std::lock_guard lock(snapshotMutex_);
    statistics_.streamBytesAwaitingAcknowledgement -=
        std::min(count, statistics_.streamBytesAwaitingAcknowledgement);
}

void QuicConnectionEngine::addToSendList(const std::shared_ptr<QuicStreamState>& stream) {
    if (!stream->inSendList) {
        stream->inSendList = true;
        sendList_.push_back(stream);
    }
}

void QuicConnectionEngine::resetStream(const std::shared_ptr<QuicStreamState>& stream, std::uint64_t code) {
    if (!stream->canSend() || stream->writeShutDown || stream->closed || connection_ == nullptr) {
        return;
    }
    stream->writeShutDown = true;
    ngtcp2_conn_shutdown_stream_write(connection_, stream->id, code);
    failUnwrittenSends(*stream, errorsOf(QuicError::streamClosed));
    scheduleWrite();
}

void QuicConnectionEngine::stopSending(const std::shared_ptr<QuicStreamState>& stream, std::uint64_t code) {
    if (!stream->canReceive() || stream->readShutDown) {
        return;
    }
    stream->readShutDown = true;
    if (connection_ != nullptr) {
        if (!stream->closed && !stream->finReceived && !stream->resetByPeerCode) {
            ngtcp2_conn_shutdown_stream_read(connection_, stream->id, code);
        }
        // What waited unread will never be read: its connection credit comes back.
        if (stream->bufferedBytes > stream->creditedBytes) {
            ngtcp2_conn_extend_max_offset(connection_, stream->bufferedBytes - stream->creditedBytes);
        }
        scheduleWrite();
    }
    stream->receivedChunks.clear();
    stream->receivedHeadOffset = 0;
    stream->bufferedBytes = 0;
    stream->creditedBytes = 0;
    failReceives(*stream, errorsOf(QuicError::streamClosed));
}

void QuicConnectionEngine::releaseStream(const std::shared_ptr<QuicStreamState>& stream) {
    stream->handleReleased = true;
    if (stream->canReceive() && !stream->finDelivered) {
        stopSending(stream, stream->applicationErrorCode);
    }
    if (stream->canSend() && !stream->finQueued) {
        resetStream(stream, stream->applicationErrorCode);
    }
}

}  // namespace quillbridge
