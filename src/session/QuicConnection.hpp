#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"
#include "session/QuicStream.hpp"

namespace quillbridge {

// The states a connection reports. A connection is handed out once its handshake completed, so the first
// state seen is `ready`; it then ends once, in `failed` (with the cause, QuicError values such as
// idleTimeout or closedByPeer) or in `cancelled` (closed by this side).
struct QuicConnectionState {
    enum class Kind { ready, failed, cancelled };

    Kind kind = Kind::ready;
    std::error_code error;

    bool operator==(const QuicConnectionState&) const = default;
};

// How a connection ended, as far as the close is known.
struct QuicConnectionCloseInfo {
    bool closedByPeer = false;
    // The QUIC application error code of a CONNECTION_CLOSE of the application kind, from either side.
    std::optional<std::uint64_t> applicationErrorCode;
    // The QUIC transport error code of a CONNECTION_CLOSE of the transport kind received from the peer.
    std::optional<std::uint64_t> transportErrorCode;

    bool operator==(const QuicConnectionCloseInfo&) const = default;
};

struct QuicConnectionStatistics {
    std::uint64_t datagramsSent = 0;
    std::uint64_t datagramsReceived = 0;
    // Datagrams dropped on the way out: too large for the path or the peer, or not sent in time.
    std::uint64_t datagramsDroppedOversized = 0;
    std::uint64_t datagramsDroppedUnsent = 0;
    // Datagrams that arrived while the receive queue was full (the oldest is dropped).
    std::uint64_t datagramsDroppedOnReceive = 0;
    std::uint64_t smoothedRoundTripNanoseconds = 0;
    std::uint64_t bytesInFlight = 0;
    std::uint64_t congestionWindowBytes = 0;
    // Stream data queued for sending that the peer has not acknowledged yet (kept for retransmission), over
    // all streams: now, and the most it has been on this connection.
    std::uint64_t streamBytesAwaitingAcknowledgement = 0;
    std::uint64_t peakStreamBytesAwaitingAcknowledgement = 0;
};

// One QUIC connection. Every member may be called from any thread; awaited operations complete on the
// awaiting coroutine's executor and end with asio::error::operation_aborted when it is cancelled.
// Releasing the last reference closes the connection (application code 0) unless it has ended already; the
// peer sees it closed, the released side's state handler hears nothing more.
class QuicConnection {
public:
    using StateHandler = std::function<void(const QuicConnectionState&)>;

    virtual ~QuicConnection() = default;

    // Calls the handler on the executor with the current state at once, and with every later change.
    // A new handler replaces the previous one; an empty one removes it. A handler that was replaced or
    // removed, or whose connection was released, is never called again, not even with a change that was
    // already on its way: the check is made on the executor, so an owner that replaces or releases from
    // that executor is never called after it did. A close() by the owner is still reported (`cancelled`)
    // to the handler installed then.
    virtual void setStateHandler(asio::any_io_executor executor, StateHandler handler) = 0;
    virtual QuicConnectionState state() const = 0;
    virtual QuicConnectionCloseInfo closeInfo() const = 0;

    // The next stream the peer opened, in the order the peer opened them (per kind). Returns nullptr once the
    // connection was closed by this side; throws std::system_error with the cause when it failed.
    virtual asio::awaitable<std::shared_ptr<QuicStream>> acceptStream() = 0;
    // Opens a stream towards the peer; waits while the peer allows no further stream of that kind.
    virtual asio::awaitable<std::shared_ptr<QuicStream>> openStream(
        QuicStreamDirectionality directionality) = 0;

    // Sends one unreliable datagram. A datagram that is too large for the peer or the path, or that the
    // congestion window cannot take in time, is dropped and counted in the statistics, never an error.
    // Throws std::system_error only when the connection has ended.
    virtual asio::awaitable<void> sendDatagram(Bytes datagram) = 0;
    // The next datagram from the peer. Throws std::system_error when the connection has ended.
    virtual asio::awaitable<Bytes> receiveDatagram() = 0;
    // The largest datagram that can currently be sent whole (0 when the peer does not take datagrams, or
    // once the connection ended). It starts at what a 1,200-byte packet carries and grows when path MTU
    // discovery finds a larger path, up to the peer's DATAGRAM frame limit: senders read it for each
    // datagram rather than keep it.
    virtual std::size_t maximumDatagramSize() const = 0;

    // The DER of the peer's leaf TLS certificate (empty when it sent none).
    virtual Bytes peerCertificateDER() const = 0;
    virtual QuicConnectionStatistics statistics() const = 0;

    // Closes the connection with a CONNECTION_CLOSE carrying the application error code; the state becomes
    // `cancelled` and pending operations end with QuicError::connectionClosed. Nothing happens once ended.
    virtual void close(std::uint64_t applicationErrorCode) = 0;
};

}  // namespace quillbridge
