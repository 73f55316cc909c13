#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>

#include <asio/ip/udp.hpp>

#include "core/Bytes.hpp"
#include "platform/linux/quic/QuicEndpoint.hpp"

namespace quillbridge {

// The transport's endpoints: one per bound server port (reused while it lives) and one per client
// connection. Engine thread only.
class QuicEndpointRegistry {
public:
    QuicEndpointRegistry(std::weak_ptr<QuicRuntime> runtime, Bytes statelessResetSecret)
        : runtime_(std::move(runtime)), statelessResetSecret_(std::move(statelessResetSecret)) {}

    // The server endpoint for the address and port, bound now unless one is already bound to exactly that
    // address and port. Another address on a port in use is bound separately: the kernel decides whether
    // the two can coexist (127.0.0.1 and ::1 can; 127.0.0.1 and :: cannot).
    std::shared_ptr<QuicEndpoint> serverEndpoint(const std::string& address, std::uint16_t port,
                                                 std::error_code& error);
    std::shared_ptr<QuicEndpoint> clientEndpoint(bool ipv6, std::error_code& error);
    void shutDown();

private:
    std::shared_ptr<QuicEndpoint> makeEndpoint(asio::ip::udp::socket socket, std::error_code& error);
    void retire(QuicEndpoint& endpoint);

    std::weak_ptr<QuicRuntime> runtime_;
    Bytes statelessResetSecret_;
    std::map<asio::ip::udp::endpoint, std::shared_ptr<QuicEndpoint>> serverEndpoints_;
    std::set<std::shared_ptr<QuicEndpoint>> clientEndpoints_;
};

}  // namespace quillbridge
