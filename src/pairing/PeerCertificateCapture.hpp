#pragma once

#include <chrono>
#include <mutex>
#include <optional>

#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"
#include "core/Clock.hpp"
#include "core/Date.hpp"

namespace quillbridge {

// Hands the peer's TLS certificate from the handshake's certificate check to the control loop of the
// connection that the handshake opened. One capture per listener run, shared by the listener's certificate
// validator and the session. The first certificate recorded wins; others are refused while it waits (and
// is less than 5 s old) and while its connection is being accepted. The mutex is held only for a few field
// operations, never across a sleep.
class PeerCertificateCapture {
public:
    static constexpr double stalenessLimitSeconds = 5.0;
    static constexpr std::chrono::milliseconds pollInterval{50};
    static constexpr int maximumPollCount = 20;

    // `clock` drives the taker's polling and must outlive the capture.
    explicit PeerCertificateCapture(Clock& clock) : clock_(clock) {}
    PeerCertificateCapture(const PeerCertificateCapture&) = delete;
    PeerCertificateCapture& operator=(const PeerCertificateCapture&) = delete;

    // Called by the certificate validator with the peer's leaf certificate and the current wall-clock time;
    // the handshake is accepted exactly when this returns true. Never blocks beyond the mutex.
    bool recordHandshakeCertificate(ByteView certificate, Date at);

    // The pending certificate, whatever its age, taken at once or within 20 looks 50 ms apart (about one
    // second). Taking closes the capture to further handshakes until finishAcceptingConnection(). Nothing
    // when none arrives in time or the calling coroutine is cancelled (before the call or while it sleeps).
    asio::awaitable<std::optional<Bytes>> takeHandshakeCertificate();

    // Called by the control loop once the connection's control stream is adopted: the capture accepts a
    // handshake again, so that the next connection can be admitted after this one ends or fails.
    void finishAcceptingConnection();

private:
    struct PendingHandshake {
        Bytes certificate;
        Date recordedAt;
    };
    struct State {
        std::optional<PendingHandshake> pendingHandshake;
        bool isAcceptingConnection = false;
    };

    std::optional<Bytes> takePending();

    Clock& clock_;
    std::mutex mutex_;
    State state_;
};

}  // namespace quillbridge
