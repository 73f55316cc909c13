#include "platform/linux/quic/QuicEndpointRegistry.hpp"

#include <algorithm>

#include <asio/error.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/v6_only.hpp>

#include "session/QuicError.hpp"

namespace quillbridge {

std::shared_ptr<QuicEndpoint> QuicEndpointRegistry::makeEndpoint(asio::ip::udp::socket socket,
                                                                 std::error_code& error) {
    // Runs on the engine thread, where nothing may throw: a socket that cannot be set up is an error.
    try {
        auto endpoint = std::make_shared<QuicEndpoint>(runtime_, std::move(socket), statelessResetSecret_,
                                                       [this](QuicEndpoint& idle) { retire(idle); });
        endpoint->start();
        return endpoint;
    } catch (const std::system_error& failure) {
        error = failure.code();
    } catch (const std::bad_alloc&) {
        error = std::make_error_code(std::errc::not_enough_memory);
    }
    return nullptr;
}

std::shared_ptr<QuicEndpoint> QuicEndpointRegistry::serverEndpoint(const std::string& address,
                                                                   std::uint16_t port,
                                                                   std::error_code& error) {
    auto runtime = runtime_.lock();
    if (!runtime) {
        error = make_error_code(QuicError::transportShutDown);
        return nullptr;
    }
    const auto ip = asio::ip::make_address(address, error);
    if (error) {
        return nullptr;
    }
    const asio::ip::udp::endpoint local(ip, port);
    if (port != 0) {
        if (auto found = serverEndpoints_.find(local); found != serverEndpoints_.end()) {
            return found->second;
        }
    }
    asio::ip::udp::socket socket(runtime->context());
    socket.open(local.protocol(), error);
    if (error) {
        return nullptr;
    }
    if (ip.is_v6()) {
        // "::" also takes IPv4 (as mapped addresses).
        socket.set_option(asio::ip::v6_only(false), error);
        error.clear();
    }
    socket.bind(local, error);
    if (error == asio::error::address_in_use) {
        error = make_error_code(QuicError::addressInUse);
    }
    if (error) {
        return nullptr;
    }
    auto endpoint = makeEndpoint(std::move(socket), error);
    if (!endpoint) {
        return nullptr;
    }
    serverEndpoints_[asio::ip::udp::endpoint(ip, endpoint->localPort())] = endpoint;
    return endpoint;
}

std::shared_ptr<QuicEndpoint> QuicEndpointRegistry::clientEndpoint(bool ipv6, std::error_code& error) {
    auto runtime = runtime_.lock();
    if (!runtime) {
        error = make_error_code(QuicError::transportShutDown);
        return nullptr;
    }
    asio::ip::udp::socket socket(runtime->context());
    const asio::ip::udp::endpoint local(ipv6 ? asio::ip::udp::v6() : asio::ip::udp::v4(), 0);
    socket.open(local.protocol(), error);
    if (!error) {
        socket.bind(local, error);
    }
    if (error) {
        return nullptr;
    }
    auto endpoint = makeEndpoint(std::move(socket), error);
    if (!endpoint) {
        return nullptr;
    }
    clientEndpoints_.insert(endpoint);
    return endpoint;
}

void QuicEndpointRegistry::retire(QuicEndpoint& endpoint) {
    // Closed at once, so that the port can be bound again right away. Callers up the stack hold their own
    // reference to the endpoint.
    std::shared_ptr<QuicEndpoint> retired;
    if (auto found = std::find_if(serverEndpoints_.begin(), serverEndpoints_.end(),
                                  [&](const auto& entry) { return entry.second.get() == &endpoint; });
        found != serverEndpoints_.end()) {
        retired = found->second;
        serverEndpoints_.erase(found);
    } else {
        for (const auto& client : clientEndpoints_) {
            if (client.get() == &endpoint) {
                retired = client;
                clientEndpoints_.erase(client);
                break;
            }
        }
    }
    if (retired) {
        retired->shutDown();
    }
}

void QuicEndpointRegistry::shutDown() {
    auto servers = std::move(serverEndpoints_);
    auto clients = std::move(clientEndpoints_);
    serverEndpoints_.clear();
    clientEndpoints_.clear();
    for (auto& [port, endpoint] : servers) {
        endpoint->shutDown();
    }
    for (const auto& endpoint : clients) {
        endpoint->shutDown();
    }
}

}  // namespace quillbridge
