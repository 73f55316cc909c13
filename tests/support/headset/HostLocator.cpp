#include "support/headset/HostLocator.hpp"

#include <utility>

namespace quillbridge {

HostLocator fixedHostLocator(std::string address, std::uint16_t port) {
    return [endpoint = HostEndpoint{std::move(address), port}]() -> asio::awaitable<HostEndpoint> {
        co_return endpoint;
    };
}

}  // namespace quillbridge
