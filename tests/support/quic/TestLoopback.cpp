#include "support/quic/TestLoopback.hpp"

#include <system_error>

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

namespace quillbridge {

bool hasIPv6Loopback() {
    static const bool available = [] {
        asio::io_context context;
        asio::ip::udp::socket socket(context);
        std::error_code error;
        socket.open(asio::ip::udp::v6(), error);
        if (!error) {
            socket.bind(asio::ip::udp::endpoint(asio::ip::address_v6::loopback(), 0), error);
        }
        return !error;
    }();
    return available;
}

const std::string& testLoopbackAddress() {
    static const std::string address = hasIPv6Loopback() ? "::1" : "127.0.0.1";
    return address;
}

}  // namespace quillbridge
