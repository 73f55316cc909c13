#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <asio/awaitable.hpp>

namespace quillbridge {

// Where the headset finds the host: a numeric address and a UDP port.
struct HostEndpoint {
    std::string address;
    std::uint16_t port = 0;

    bool operator==(const HostEndpoint&) const = default;
};

// How the headset simulator finds the host before each connect: a browse of the local network
// (ServiceBrowserHostLocator) or a fixed endpoint for loopback tests. Throws when no host is found.
using HostLocator = std::function<asio::awaitable<HostEndpoint>()>;

// Always the same endpoint.
HostLocator fixedHostLocator(std::string address, std::uint16_t port);

}  // namespace quillbridge
