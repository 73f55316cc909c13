#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>

namespace quillbridge {

// Why a QUIC connection, stream or listener operation failed. Each value also compares equal to the POSIX
// condition the session classifies errors by (ECONNRESET, EPIPE, ENOTCONN, ETIMEDOUT ...), so
// `error == std::errc::connection_reset` holds for a stream the peer reset.
enum class QuicError {
    streamReset = 1,     // the peer reset the stream (RESET_STREAM): ECONNRESET
    streamStopped,       // the peer no longer reads the stream (STOP_SENDING): EPIPE
    streamClosed,        // the local side already ended or reset this direction of the stream: EPIPE
    connectionClosed,    // the connection was closed locally: ENOTCONN
    closedByPeer,        // the peer closed the connection: ECONNRESET
    idleTimeout,         // nothing arrived within the idle time-out: ETIMEDOUT
    handshakeTimeout,    // the handshake did not complete in time: ETIMEDOUT
    handshakeFailed,     // TLS refused (ALPN, certificate, validator): ECONNREFUSED
    statelessReset,      // the peer no longer knows the connection: ECONNRESET
    protocolViolation,   // the peer broke the protocol, or the QUIC stack failed: EPROTO
    streamLimitReached,  // the peer allows no further stream of that kind yet: EAGAIN
    addressInUse,        // another listener already uses the port: EADDRINUSE
    transportShutDown,   // the transport itself is shutting down: ESHUTDOWN
};

}  // namespace quillbridge

template <>
struct std::is_error_code_enum<quillbridge::QuicError> : std::true_type {};

namespace quillbridge {

class QuicErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "quic"; }

    std::string message(int value) const override {
        switch (static_cast<QuicError>(value)) {
            case QuicError::streamReset:
                return "The peer reset the stream";
            case QuicError::streamStopped:
                return "The peer stopped reading the stream";
            case QuicError::streamClosed:
                return "The stream is closed for sending";
            case QuicError::connectionClosed:
                return "The connection is closed";
            case QuicError::closedByPeer:
                return "The peer closed the connection";
            case QuicError::idleTimeout:
                return "The connection timed out (idle)";
            case QuicError::handshakeTimeout:
                return "The handshake timed out";
            case QuicError::handshakeFailed:
                return "The TLS handshake failed";
            case QuicError::statelessReset:
                return "The peer reset the connection (stateless reset)";
            case QuicError::protocolViolation:
                return "QUIC protocol error";
            case QuicError::streamLimitReached:
                return "The peer allows no more streams for now";
            case QuicError::addressInUse:
                return "The port is already being listened on";
            case QuicError::transportShutDown:
                return "The QUIC transport has shut down";
        }
        return "Unknown QUIC error";
    }

    std::error_condition default_error_condition(int value) const noexcept override {
        switch (static_cast<QuicError>(value)) {
            case QuicError::streamReset:
            case QuicError::closedByPeer:
            case QuicError::statelessReset:
                return std::errc::connection_reset;
            case QuicError::streamStopped:
            case QuicError::streamClosed:
                return std::errc::broken_pipe;
            case QuicError::connectionClosed:
                return std::errc::not_connected;
            case QuicError::idleTimeout:
            case QuicError::handshakeTimeout:
                return std::errc::timed_out;
            case QuicError::handshakeFailed:
                return std::errc::connection_refused;
            case QuicError::protocolViolation:
                return std::errc::protocol_error;
            case QuicError::streamLimitReached:
                return std::errc::resource_unavailable_try_again;
            case QuicError::addressInUse:
                return std::errc::address_in_use;
            case QuicError::transportShutDown:
                return std::error_condition(ESHUTDOWN, std::generic_category());
        }
        return std::error_condition(value, *this);
    }
};

inline const std::error_category& quicErrorCategory() {
    static const QuicErrorCategory category;
    return category;
}

inline std::error_code make_error_code(QuicError error) {
    return {static_cast<int>(error), quicErrorCategory()};
}

// Thrown by stream operations when the peer aborted a direction of the stream; carries the peer's QUIC
// application error code when it is known.
class QuicStreamAbortedError : public std::system_error {
public:
    QuicStreamAbortedError(QuicError error, std::uint64_t applicationErrorCode)
        : std::system_error(make_error_code(error)), applicationErrorCode_(applicationErrorCode) {}

    std::uint64_t applicationErrorCode() const { return applicationErrorCode_; }

private:
    std::uint64_t applicationErrorCode_;
};

}  // namespace quillbridge
