#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "platform/quic/QuicTestFixture.hpp"

namespace quillbridge {
namespace {

// One port may carry listeners on several addresses; each address's connections reach its own listener,
// and an address that overlaps one in use is refused rather than served by the other socket.
TEST_F(QuicTransportFixture, ListenersOnOnePortAreToldApartByAddress) {
    if (!hasIPv6Loopback()) {
        GTEST_SKIP() << "needs an IPv6 loopback (::1), which this host does not have";
    }
    auto ipv4 = listen(listenerParameters("127.0.0.1"));
    const auto port = ipv4->localPort();
    auto ipv6Parameters = listenerParameters("::1");
    ipv6Parameters.port = port;
    auto ipv6 = listen(ipv6Parameters);
    EXPECT_EQ(ipv6->localPort(), port);

    struct Case {
        const char* address;
        QuicListener* listener;
    };
    std::vector<QuicConnectionPair> connections;
    for (const Case& c : {Case{"127.0.0.1", ipv4.get()}, Case{"::1", ipv6.get()}}) {
        SCOPED_TRACE(c.address);
        QuicTestClient::Options options;
        options.host = c.address;
        // Accepted by the listener of that address: the other one is not asked.
        auto pair = run(acceptAndConnect(*c.listener, headset, options));
        EXPECT_EQ(pair.first->state().kind, QuicConnectionState::Kind::ready);
        connections.push_back(std::move(pair));
    }

    // The IPv4 listener stops while its connection lives on and keeps the socket. The wildcard address
    // overlaps both sockets on the port: refused, not served by the IPv4 socket.
    ipv4.reset();
    auto anyParameters = listenerParameters("::");
    anyParameters.port = port;
    try {
        listen(anyParameters);
        ADD_FAILURE() << "listening on :: took a port that 127.0.0.1 and ::1 hold";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), QuicError::addressInUse) << error.what();
        EXPECT_EQ(error.code(), std::errc::address_in_use);
    }
    // Listening again on the IPv4 address shares the socket of its live connection.
    auto sameParameters = listenerParameters("127.0.0.1");
    sameParameters.port = port;
    auto ipv4Again = listen(sameParameters);
    QuicTestClient::Options options;
    options.host = "127.0.0.1";
    auto pair = run(acceptAndConnect(*ipv4Again, headset, options));
    EXPECT_EQ(pair.first->state().kind, QuicConnectionState::Kind::ready);
    EXPECT_EQ(connections[0].first->state().kind, QuicConnectionState::Kind::ready);
}

}  // namespace
}  // namespace quillbridge
