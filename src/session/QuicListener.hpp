#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"
#include "pairing/TLSIdentity.hpp"
#include "session/QuicConnection.hpp"

namespace quillbridge {

// Decides, during the TLS handshake, whether the peer's leaf certificate (DER) is accepted. Called on the
// transport's own thread once per handshake, after the peer proved it holds the certificate's key; it must
// not block. Returning false fails the handshake.
using QuicCertificateValidator = std::function<bool(ByteView leafCertificateDER)>;

// The listening side's QUIC and TLS options.
struct QuicListenerParameters {
    // 0 picks a free port (tests).
    std::uint16_t port = 49555;
    // The address to bind: "::" takes IPv6 and IPv4 on every interface.
    std::string bindAddress = "::";
    // The one ALPN value offered; a ClientHello naming another one or none is refused.
    std::string alpn = "quillbridge-spatial-stream";
    std::chrono::milliseconds idleTimeout{15000};
    // The largest DATAGRAM frame this side accepts.
    std::size_t maximumDatagramFrameSize = 1200;
    // The host's certificate and P-256 key; TLS 1.3 only.
    TLSIdentity identity;
    // The client must present a certificate; its leaf goes to this validator.
    QuicCertificateValidator certificateValidator;
};

// A listening port. Connections are handed out once their handshake has completed. Destroying the listener
// (or stop()) refuses new connections; connections already handed out go on and keep the port's socket
// until they end, and a new listener on the same port shares that socket.
class QuicListener {
public:
    virtual ~QuicListener() = default;

    virtual std::uint16_t localPort() const = 0;
    // The next connection. Throws std::system_error when the listener stopped or failed.
    virtual asio::awaitable<std::shared_ptr<QuicConnection>> accept() = 0;
    virtual void stop() = 0;
};

}  // namespace quillbridge
