#include "support/quic/QuicTestClient.hpp"

#include <algorithm>

#include "support/quic/TestTLSIdentity.hpp"

namespace quillbridge {

QuicTestClient::QuicTestClient() : QuicTestClient(LinuxQuicTransport::Options{}) {}

QuicTestClient::QuicTestClient(LinuxQuicTransport::Options transportOptions)
    : identity_(makeTestTLSIdentity("Test Headset")),
      transport_(std::make_unique<LinuxQuicTransport>(std::move(transportOptions))) {}

asio::awaitable<std::shared_ptr<QuicConnection>> QuicTestClient::connect(std::uint16_t port,
                                                                         Options options) {
    QuicClientParameters parameters;
    parameters.host = options.host;
    parameters.port = port;
    parameters.alpn = options.alpn;
    if (options.presentsCertificate) {
        parameters.identity = identity_;
    }
    parameters.idleTimeout = options.idleTimeout;
    parameters.maximumDatagramFrameSize = options.maximumDatagramFrameSize;
    parameters.maximumUdpPayloadSize = options.maximumUdpPayloadSize;
    if (!options.expectedServerCertificateDER.empty()) {
        parameters.serverCertificateValidator = [expected =
                                                     options.expectedServerCertificateDER](ByteView leaf) {
            return std::equal(leaf.begin(), leaf.end(), expected.begin(), expected.end());
        };
    }
    co_return co_await transport_->connect(std::move(parameters));
}

}  // namespace quillbridge
