#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"
#include "pairing/TLSIdentity.hpp"
#include "session/QuicTransport.hpp"

namespace quillbridge {

class QuicRuntime;
class QuicEndpointRegistry;

// What a client connection offers (the headset's side; used by tests and tools).
struct QuicClientParameters {
    // A numeric IPv4 or IPv6 address.
    std::string host = "::1";
    std::uint16_t port = 49555;
    // Not offering ALPN at all when empty.
    std::string alpn = "quillbridge-spatial-stream";
    // The client certificate; none is presented without it.
    std::optional<TLSIdentity> identity;
    // Decides on the server's certificate; any is accepted without it.
    QuicCertificateValidator serverCertificateValidator;
    std::chrono::milliseconds idleTimeout{15000};
    std::size_t maximumDatagramFrameSize = 1200;
    // The largest UDP payload this side takes, as told to the peer; 0 leaves QUIC's default.
    std::size_t maximumUdpPayloadSize = 0;
};

// The QUIC transport on Linux: ngtcp2 with GnuTLS on UDP sockets, run by one engine thread of its own.
// A port is bound once: a listener started again on a port whose socket still carries a live connection
// shares that socket.
class LinuxQuicTransport final : public QuicTransport {
public:
    struct Options {
        // The key stateless reset tokens are derived from; random when empty. Two transports with the same
        // key can reset each other's connections (a restarted host).
        Bytes statelessResetSecret;
    };

    LinuxQuicTransport();
    explicit LinuxQuicTransport(Options options);
    // Closes every connection (application code 0) and stops the engine thread.
    ~LinuxQuicTransport() override;

    asio::awaitable<std::unique_ptr<QuicListener>> listen(QuicListenerParameters parameters) override;
    // Opens a client connection; completes once the server confirmed the handshake. Throws std::system_error
    // (QuicError::handshakeFailed when the server refused, handshakeTimeout when it never answered).
    asio::awaitable<std::shared_ptr<QuicConnection>> connect(QuicClientParameters parameters);

    // CPU time of the engine thread so far (for measurements).
    std::chrono::nanoseconds engineCpuTime() const;

private:
    std::shared_ptr<QuicRuntime> runtime_;
    std::shared_ptr<QuicEndpointRegistry> registry_;
};

}  // namespace quillbridge
