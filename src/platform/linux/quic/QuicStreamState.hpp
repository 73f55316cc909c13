#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "core/Bytes.hpp"
#include "platform/linux/quic/QuicCompletion.hpp"
#include "session/QuicStream.hpp"

namespace quillbridge {

// The engine-side state of one stream; touched only on the engine thread.
struct QuicStreamState {
    struct PendingReceive {
        std::size_t minimumLength = 1;
        std::size_t maximumLength = 1;
        // Bytes already taken for this receive (their flow-control credit has been returned).
        Bytes data;
        QuicCompletion<QuicStreamChunk> completion;
    };

    struct SendChunk {
        Bytes data;
        // Stream offset just past this chunk's bytes.
        std::uint64_t endOffset = 0;
        bool endsStream = false;
        QuicCompletion<QuicUnit> completion;
        // The traced video frame whose first bytes these are (0 when none): its first UDP send is stamped.
        std::uint64_t traceKey = 0;
    };

    QuicStreamState(std::int64_t streamID, bool bidirectional, bool locallyInitiated)
        : id(streamID), isBidirectional(bidirectional), isLocal(locallyInitiated) {}

    bool canReceive() const { return isBidirectional || !isLocal; }
    bool canSend() const { return isBidirectional || isLocal; }

    const std::int64_t id;
    const bool isBidirectional;
    const bool isLocal;

    std::uint64_t applicationErrorCode = 0;
    bool handleReleased = false;
    bool handedOut = false;             // a peer's stream that was given to the user
    bool streamCreditReturned = false;  // the peer may open another stream in its place
    bool closed = false;                // the QUIC stack has forgotten the stream

    // Receiving. Data waits here (credit not yet returned) until a receive takes it.
    std::deque<Bytes> receivedChunks;
    std::size_t receivedHeadOffset = 0;  // bytes of receivedChunks.front() already taken
    std::size_t bufferedBytes = 0;
    // Of those, bytes at the front whose flow-control credit was already returned (a cancelled receive gave
    // them back): taking them again returns no credit.
    std::size_t creditedBytes = 0;
    bool finReceived = false;
    bool finDelivered = false;
    bool readShutDown = false;  // this side stopped reading
    std::optional<std::uint64_t> resetByPeerCode;
    std::deque<std::unique_ptr<PendingReceive>> pendingReceives;

    // Sending. Chunks stay until the peer acknowledged them (the QUIC stack refers to their bytes).
    std::deque<SendChunk> sendQueue;
    std::uint64_t queuedEndOffset = 0;  // offset past the last queued byte
    std::uint64_t writtenOffset = 0;    // offset past the last byte handed to the QUIC stack
    std::uint64_t acknowledgedOffset = 0;
    std::size_t firstUnwrittenChunk = 0;  // index into sendQueue
    bool finQueued = false;
    bool finWritten = false;
    bool writeShutDown = false;  // this side reset the stream
    bool stoppedByPeer = false;
    std::optional<std::uint64_t> peerStopCode;
    std::uint64_t blockedRound = 0;  // the write round in which the stream was last found blocked
    bool inSendList = false;

    bool hasUnwrittenData() const {
        return !writeShutDown && !stoppedByPeer &&
               (writtenOffset < queuedEndOffset || (finQueued && !finWritten));
    }
};

}  // namespace quillbridge
