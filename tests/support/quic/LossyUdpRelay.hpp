#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

namespace quillbridge {

// A UDP relay on the test loopback address between one client and a server port that loses and delays
// datagrams, in both directions, with a fixed random seed. It stands in for a lossy network where netem is
// not available, and can be pointed at another server in mid-connection (a restarted host).
class LossyUdpRelay {
public:
    struct Options {
        double lossRate = 0.01;
        std::chrono::milliseconds delay{20};
        std::uint32_t seed = 1;
        // False: nothing from the server reaches the client (handshakes that never finish).
        bool forwardsToClient = true;
    };

    LossyUdpRelay(std::uint16_t serverPort, Options options);
    ~LossyUdpRelay();
    LossyUdpRelay(const LossyUdpRelay&) = delete;
    LossyUdpRelay& operator=(const LossyUdpRelay&) = delete;

    // Where clients send to.
    std::uint16_t port() const;
    // Later datagrams from the client go to this server port instead.
    void retarget(std::uint16_t serverPort);

    std::uint64_t forwarded() const;
    std::uint64_t dropped() const;
    // How many client sockets had a datagram passed on to the server so far.
    std::size_t clientsForwarded() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillbridge
