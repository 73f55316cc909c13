#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <asio/awaitable.hpp>

#include "pairing/TLSIdentity.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/QuicTransport.hpp"
#include "support/quic/TestLoopback.hpp"

namespace quillbridge {

// The headset's side of the QUIC transport for tests and the headset simulator: its own transport (and so
// its own engine thread, like a separate device) and its own client certificate.
class QuicTestClient {
public:
    struct Options {
        // The test loopback: ::1, or 127.0.0.1 where IPv6 is switched off.
        std::string host = testLoopbackAddress();
        // Empty: the ClientHello carries no ALPN.
        std::string alpn = "quillbridge-spatial-stream";
        bool presentsCertificate = true;
        std::chrono::milliseconds idleTimeout{15000};
        std::size_t maximumDatagramFrameSize = 1200;
        // The largest UDP payload the headset says it takes (0: QUIC's default, as large as UDP allows).
        std::size_t maximumUdpPayloadSize = 0;
        // When set, the server's certificate must be exactly this one.
        Bytes expectedServerCertificateDER;
    };

    QuicTestClient();
    explicit QuicTestClient(LinuxQuicTransport::Options transportOptions);

    const TLSIdentity& identity() const { return identity_; }
    LinuxQuicTransport& transport() { return *transport_; }

    asio::awaitable<std::shared_ptr<QuicConnection>> connect(std::uint16_t port) {
        return connect(port, Options{});
    }
    asio::awaitable<std::shared_ptr<QuicConnection>> connect(std::uint16_t port, Options options);

private:
    TLSIdentity identity_;
    std::unique_ptr<LinuxQuicTransport> transport_;
};

}  // namespace quillbridge
