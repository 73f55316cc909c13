#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillbridge {

// A UDP relay on 127.0.0.1 for clients whose handshakes never finish, as a flood of half-open handshakes
// would leave them. Everything from a client goes on to the server, from an upstream socket of the client's
// own on one of `sourceAddressCount` loopback addresses (127.0.0.2, 127.0.0.3, ... in turn), so that the
// server sees that many distinct sources. From the server only Retry packets come back: the clients can
// prove their address but never see the server's handshake.
class HandshakeStallingRelay {
public:
    HandshakeStallingRelay(std::uint16_t serverPort, std::size_t sourceAddressCount);
    ~HandshakeStallingRelay();
    HandshakeStallingRelay(const HandshakeStallingRelay&) = delete;
    HandshakeStallingRelay& operator=(const HandshakeStallingRelay&) = delete;

    // Where clients send to (127.0.0.1).
    std::uint16_t port() const;
    // Clients the server answered with more than a Retry at least once: it took up their handshake.
    std::size_t clientsAnswered() const;
    // Retry packets passed back to clients.
    std::uint64_t retriesPassed() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillbridge
