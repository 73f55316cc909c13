#include "platform/linux/quic/LinuxQuicTransport.hpp"

#include <asio/ip/address.hpp>

#include "core/SecureRandom.hpp"
#include "platform/linux/quic/GnuTLSCredentials.hpp"
#include "platform/linux/quic/QuicCompletion.hpp"
#include "platform/linux/quic/QuicEndpointRegistry.hpp"
#include "platform/linux/quic/QuicHandles.hpp"
#include "platform/linux/quic/QuicRuntime.hpp"

namespace quillbridge {

namespace {

constexpr std::size_t statelessResetSecretLength = 32;

std::shared_ptr<GnuTLSCredentials> credentialsOrThrow(
    std::expected<std::shared_ptr<GnuTLSCredentials>, std::string> credentials) {
    if (!credentials) {
        throw std::system_error(make_error_code(QuicError::handshakeFailed), credentials.error());
    }
    return std::move(*credentials);
}

}  // namespace

LinuxQuicTransport::LinuxQuicTransport() : LinuxQuicTransport(Options{}) {}

LinuxQuicTransport::LinuxQuicTransport(Options options) : runtime_(std::make_shared<QuicRuntime>()) {
    Bytes secret = options.statelessResetSecret.empty() ? secureRandomBytes(statelessResetSecretLength)
                                                        : std::move(options.statelessResetSecret);
    registry_ = std::make_shared<QuicEndpointRegistry>(runtime_, std::move(secret));
}

LinuxQuicTransport::~LinuxQuicTransport() {
    runtime_->shutdown([registry = std::move(registry_)]() mutable {
        registry->shutDown();
        registry.reset();
    });
}

asio::awaitable<std::unique_ptr<QuicListener>> LinuxQuicTransport::listen(QuicListenerParameters parameters) {
    QuicEndpoint::ListenerConfiguration configuration;
    configuration.connection.isServer = true;
    configuration.connection.alpn = parameters.alpn;
    configuration.connection.idleTimeout = parameters.idleTimeout;
    configuration.connection.maximumDatagramFrameSize = parameters.maximumDatagramFrameSize;
    configuration.connection.credentials =
        credentialsOrThrow(GnuTLSCredentials::fromIdentity(parameters.identity));
    configuration.connection.certificateValidator = std::move(parameters.certificateValidator);

    struct Started {
        std::shared_ptr<QuicEndpoint> endpoint;
        std::uint64_t generation = 0;
    };
    auto runtime = runtime_;
    // Named before the await: GCC 12 mishandles lambdas with captures built inside a co_await expression.
    auto start = [registry = registry_, address = parameters.bindAddress, port = parameters.port,
                  configuration = std::move(configuration)](QuicCompletion<Started> completion) mutable {
        std::error_code error;
        auto endpoint = registry->serverEndpoint(address, port, error);
        if (!endpoint) {
            completion.fail(error);
            return;
        }
        if (endpoint->isListening()) {
            completion.fail(make_error_code(QuicError::addressInUse));
            return;
        }
        const auto generation = endpoint->startListening(std::move(configuration));
        completion.succeed(Started{std::move(endpoint), generation});
    };
    auto started = co_await runOnEngine<Started>(runtime, std::move(start));
    const auto port = started.endpoint->localPort();
    co_return std::make_unique<QuicListenerHandle>(runtime, std::move(started.endpoint), started.generation,
                                                   port);
}

asio::awaitable<std::shared_ptr<QuicConnection>> LinuxQuicTransport::connect(
    QuicClientParameters parameters) {
    QuicConnectionConfiguration configuration;
    configuration.isServer = false;
    configuration.alpn = parameters.alpn;
    configuration.idleTimeout = parameters.idleTimeout;
    configuration.maximumDatagramFrameSize = parameters.maximumDatagramFrameSize;
    configuration.maximumUdpPayloadSize = parameters.maximumUdpPayloadSize;
    configuration.credentials =
        credentialsOrThrow(parameters.identity ? GnuTLSCredentials::fromIdentity(*parameters.identity)
                                               : GnuTLSCredentials::withoutIdentity());
    configuration.certificateValidator = std::move(parameters.serverCertificateValidator);
    std::error_code error;
    const auto address = asio::ip::make_address(parameters.host, error);
    if (error) {
        throw std::system_error(error);
    }
    const asio::ip::udp::endpoint remote(address, parameters.port);

    auto runtime = runtime_;
    auto start = [registry = registry_, remote, configuration = std::move(configuration)](
                     QuicCompletion<std::shared_ptr<QuicConnection>> completion) mutable {
        std::error_code error;
        auto endpoint = registry->clientEndpoint(remote.address().is_v6(), error);
        if (!endpoint) {
            completion.fail(error);
            return;
        }
        endpoint->connect(remote, std::move(configuration), std::move(completion));
    };
    co_return co_await runOnEngine<std::shared_ptr<QuicConnection>>(runtime, std::move(start));
}

std::chrono::nanoseconds LinuxQuicTransport::engineCpuTime() const {
    return runtime_->threadCpuTime();
}

}  // namespace quillbridge
