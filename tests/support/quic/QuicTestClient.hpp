#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <asio/awaitable.hpp>

#include "pairing/TLSIdentity.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/QuicTransport.hpp"

namespace quillbridge {

// The headset's side of the QUIC transport for tests and the headset simulator: its own transport (and so
// its own engine thread, like a separate device) and its own client certificate.
class QuicTestClient {
public:
    struct Options {
        std::string host = "::1";
        // Empty: the ClientHello carries no ALPN.
        std::string alpn = "quillbridge-spatial-stream";
        bool presentsCertificate = true;
        std::chrono::milliseconds idleTimeout{15000};
        std::size_t maximumDatagramFrameSize = 1200;
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
