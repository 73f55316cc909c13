#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Bytes.hpp"
#include "pairing/TLSIdentity.hpp"

namespace quillbridge {

// A small QUIC client of its own (ngtcp2 and GnuTLS driven from the calling thread, without the transport's
// engine) that can move to a new UDP socket in mid-connection, as a headset that changes networks does. On
// such a move it sends to another of the host's connection IDs and retires the one it used before. It can
// also change its address behind the QUIC stack's back, as a NAT does. It talks to 127.0.0.1 and sends and
// receives datagrams.
class MigratingQuicClient {
public:
    MigratingQuicClient(TLSIdentity identity, std::string alpn = "quillbridge-spatial-stream");
    ~MigratingQuicClient();
    MigratingQuicClient(const MigratingQuicClient&) = delete;
    MigratingQuicClient& operator=(const MigratingQuicClient&) = delete;

    // Connects to 127.0.0.1 at the port; true once the handshake is confirmed within the time-out.
    bool connect(std::uint16_t port, std::chrono::milliseconds timeout);
    // Moves the connection to a new socket. False when the client has no other connection ID of the host.
    bool migrate();
    // Sends and receives on a new socket without the QUIC stack knowing: the host sees the client's address
    // change under the same connection ID, as after a NAT rebinding.
    void rebind();
    // Drives the connection (receives, timers, sends) until the condition holds or the time-out passes;
    // returns whether the condition held.
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

    void sendDatagram(Bytes datagram);
    const std::vector<Bytes>& receivedDatagrams() const;
    // The host's connection ID the client sends to now.
    Bytes destinationConnectionID() const;
    std::uint16_t localPort() const;
    bool isClosed() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillbridge
