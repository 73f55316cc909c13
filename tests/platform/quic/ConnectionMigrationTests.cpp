#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <string_view>

#include <gtest/gtest.h>
#include <ngtcp2/ngtcp2_crypto.h>

#include "platform/linux/quic/QuicConnectionEngine.hpp"
#include "platform/quic/QuicTestFixture.hpp"
#include "support/quic/MigratingQuicClient.hpp"

namespace quillbridge {
namespace {

using namespace std::string_view_literals;

// What the host answers a short-header packet to the connection ID with, if anything within the time-out.
Bytes answerToPacketFor(std::uint16_t hostPort, const Bytes& connectionID, int timeoutMilliseconds) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in host{};
    host.sin_family = AF_INET;
    host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    host.sin_port = htons(hostPort);
    Bytes packet{0x41};
    appendBytes(packet, connectionID);
    packet.resize(100, 0x77);
    ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&host), sizeof host);
    Bytes answer;
    pollfd descriptor{fd, POLLIN, 0};
    if (::poll(&descriptor, 1, timeoutMilliseconds) == 1) {
        answer.resize(1500);
        const ssize_t length = ::recv(fd, answer.data(), answer.size(), 0);
        answer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    ::close(fd);
    return answer;
}

enum class Move { changesNetwork, natRebinding };

TEST_F(QuicTransportFixture, AHeadsetWhoseAddressChangesKeepsItsConnectionAndAnIDItLeftIsRetired) {
    for (auto move : {Move::changesNetwork, Move::natRebinding}) {
        SCOPED_TRACE(move == Move::changesNetwork ? "changes network" : "NAT rebinding");
        const Bytes resetSecret(32, 0x3c);
        LinuxQuicTransport resettingHost(LinuxQuicTransport::Options{resetSecret});
        auto listener = runWithTimeout(resettingHost.listen(listenerParameters("127.0.0.1")), 5s);
        MigratingQuicClient roaming(makeTestTLSIdentity("Roaming Headset"));
        ASSERT_TRUE(roaming.connect(listener->localPort(), 5s));
        auto server = run(listener->accept(), 5s);
        ASSERT_TRUE(server);

        // Once a datagram from the host arrived, the host has handed out its further connection IDs too.
        run(server->sendDatagram(toBytes("before"sv)));
        ASSERT_TRUE(roaming.runUntil([&] { return !roaming.receivedDatagrams().empty(); }, 5s));
        const Bytes oldID = roaming.destinationConnectionID();
        ASSERT_EQ(oldID.size(), QuicConnectionEngine::connectionIDLength);
        if (move == Move::changesNetwork) {
            ASSERT_TRUE(roaming.migrate());
        } else {
            roaming.rebind();
        }

        // Both ways from the new address.
        auto received = std::async(std::launch::async, [&] { return run(server->receiveDatagram(), 5s); });
        roaming.sendDatagram(toBytes("from the new address"sv));
        ASSERT_TRUE(roaming.runUntil(
            [&] { return received.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 6s));
        EXPECT_EQ(received.get(), toBytes("from the new address"sv));
        run(server->sendDatagram(toBytes("after"sv)));
        ASSERT_TRUE(roaming.runUntil([&] { return roaming.receivedDatagrams().size() == 2; }, 5s));
        EXPECT_EQ(roaming.receivedDatagrams().back(), toBytes("after"sv));
        EXPECT_EQ(server->state().kind, QuicConnectionState::Kind::ready);
        if (move == Move::natRebinding) {
            EXPECT_EQ(roaming.destinationConnectionID(), oldID);
            continue;
        }
        EXPECT_NE(roaming.destinationConnectionID(), oldID);

        // Once the host let go of the retired ID (it keeps one a little while for late packets), the ID leads
        // nowhere: the host answers it with the stateless reset for that ID.
        ngtcp2_cid cid;
        ngtcp2_cid_init(&cid, oldID.data(), oldID.size());
        std::uint8_t token[NGTCP2_STATELESS_RESET_TOKENLEN];
        ASSERT_EQ(
            ngtcp2_crypto_generate_stateless_reset_token(token, resetSecret.data(), resetSecret.size(), &cid),
            0);
        Bytes answer;
        for (int attempt = 0; attempt < 50 && answer.empty(); ++attempt) {
            answer = answerToPacketFor(listener->localPort(), oldID, 200);
        }
        ASSERT_GE(answer.size(), sizeof token);
        EXPECT_EQ(Bytes(answer.end() - sizeof token, answer.end()), Bytes(token, token + sizeof token));
        // The connection goes on under its new ID.
        EXPECT_EQ(server->state().kind, QuicConnectionState::Kind::ready);
    }
}

}  // namespace
}  // namespace quillbridge
