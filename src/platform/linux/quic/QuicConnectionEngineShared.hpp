#pragma once

// What the parts of the QUIC connection engine share: its limits, its log sites, error helpers and
// the guard that keeps exceptions out of ngtcp2 and GnuTLS. Only the engine's own sources include it.

#include <algorithm>
#include <exception>
#include <system_error>

#include <ngtcp2/ngtcp2.h>
#include <asio/error.hpp>

#include "core/Bytes.hpp"
#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"
#include "platform/linux/quic/QuicConnectionEngine.hpp"

namespace quillbridge::quic_engine {

inline const Logger logger{"QuicTransport"};
// A peer decides how often these happen.
inline LogRateLimiter refusedCertificateLog{logger, "Refused certificates"};
inline LogRateLimiter connectionErrorLog{logger, "QUIC connection errors"};

// TLS 1.3 only, without the middlebox compatibility mode that QUIC forbids.
inline constexpr const char* tlsPriorities =
    "NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:+CHACHA20-POLY1305:-GROUP-ALL:"
    "+GROUP-SECP256R1:+GROUP-X25519:+GROUP-SECP384R1:%DISABLE_TLS13_COMPAT_MODE";

// Flow-control windows: they start here and grow with the measured rate up to the maxima.
inline constexpr std::uint64_t initialStreamWindow = 1024 * 1024;
inline constexpr std::uint64_t initialConnectionWindow = 4 * 1024 * 1024;
inline constexpr std::uint64_t maximumStreamWindow = 16 * 1024 * 1024;
inline constexpr std::uint64_t maximumConnectionWindow = 24 * 1024 * 1024;
inline constexpr std::uint64_t concurrentStreamLimit = 100;

// Outgoing datagrams that could not leave within this time, or beyond this many, are dropped.
inline constexpr ngtcp2_duration datagramQueueDeadline = 50 * NGTCP2_MILLISECONDS;
inline constexpr std::size_t datagramQueueLimit = 64;
inline constexpr std::size_t receivedDatagramLimit = 256;

inline constexpr std::size_t maximumPacketsPerWrite = 64;
inline constexpr std::size_t maximumVectorsPerWrite = 16;
inline constexpr std::size_t closePacketResendLimit = 16;

inline Bytes toBytes(const ngtcp2_cid& cid) {
    return Bytes(cid.data, cid.data + cid.datalen);
}

inline std::exception_ptr errorOf(QuicError error) {
    return std::make_exception_ptr(std::system_error(error));
}

inline auto errorsOf(QuicError error) {
    return [error] { return errorOf(error); };
}

inline auto abortErrorsOf(QuicError error, std::uint64_t applicationErrorCode) {
    return [error, applicationErrorCode] {
        return std::make_exception_ptr(QuicStreamAbortedError(error, applicationErrorCode));
    };
}

inline std::size_t varintLength(std::uint64_t value) {
    return value < 64 ? 1 : value < 16384 ? 2 : value < 1073741824 ? 4 : 8;
}

inline void logCallbackFailure(const char* what) noexcept {
    try {
        logger.error("A QUIC callback failed: ", what);
    } catch (...) {
    }
}

// Nothing may be thrown through ngtcp2 or GnuTLS: they call back from C. A callback that throws (an
// allocation that failed, a validator that threw) fails its connection instead, with `failure`.
template <auto Callback, auto failure>
struct CallbackGuard;

template <typename Result, typename... Arguments, Result (*Callback)(Arguments...), auto failure>
struct CallbackGuard<Callback, failure> {
    static Result call(Arguments... arguments) noexcept {
        try {
            return Callback(arguments...);
        } catch (const std::exception& error) {
            logCallbackFailure(error.what());
        } catch (...) {
            logCallbackFailure("unknown exception");
        }
        return static_cast<Result>(failure);
    }
};

template <auto Callback>
inline constexpr auto guardedQuicCallback = &CallbackGuard<Callback, NGTCP2_ERR_CALLBACK_FAILURE>::call;

}  // namespace quillbridge::quic_engine

namespace quillbridge {

template <typename T>
void QuicConnectionEngine::cancelWaiter(std::deque<Waiter<T>>& waiters, std::uint64_t id) {
    auto found = std::find_if(waiters.begin(), waiters.end(),
                              [id](const Waiter<T>& waiter) { return waiter.id == id; });
    if (found != waiters.end()) {
        auto waiter = std::move(*found);
        waiters.erase(found);
        waiter.completion.fail(make_error_code(asio::error::operation_aborted));
    }
}

}  // namespace quillbridge
