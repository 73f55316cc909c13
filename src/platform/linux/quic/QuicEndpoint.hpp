#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <ngtcp2/ngtcp2.h>
#include <asio/ip/udp.hpp>

#include "core/Bytes.hpp"
#include "platform/linux/quic/QuicCompletion.hpp"
#include "platform/linux/quic/QuicConnectionEngine.hpp"

namespace quillbridge {

// One UDP socket and the QUIC connections on it: routes datagrams by connection ID, creates server
// connections for new Initial packets while listening (and refuses them otherwise), answers unknown
// short-header packets with a stateless reset, and sends for its connections, holding packets back when the
// socket would block. Engine thread only.
//
// Handshakes are bounded but fair: at most maximumHandshakes are in progress, at most
// maximumHandshakesPerAddress from one source address. Once retryThreshold handshakes are in progress a
// client must prove its address with a Retry token before it gets any state. A new handshake that finds no
// room takes the place of the oldest one from its own address when that address is at its limit, else of
// the oldest one whose address was not validated, else of the oldest one: the newest client always gets its
// chance, so half-open handshakes cannot keep a real client out.
class QuicEndpoint : public std::enable_shared_from_this<QuicEndpoint> {
public:
    static constexpr std::size_t maximumHandshakes = 16;
    static constexpr std::size_t maximumHandshakesPerAddress = 4;
    static constexpr std::size_t retryThreshold = 8;
    // Answers the endpoint sends without a connection, per second: refused Initials, and Retry packets
    // (smaller than the Initials they answer, so they may be more).
    static constexpr std::uint32_t refusalsPerSecond = 64;
    static constexpr std::uint32_t retriesPerSecond = 1024;
    // Packets held back while the socket would block, in bytes; later ones are dropped (QUIC resends).
    static constexpr std::size_t maximumBlockedBytes = 1u << 20;

    struct ListenerConfiguration {
        QuicConnectionConfiguration connection;
    };

    // Called when the endpoint has neither a listener nor a connection any more.
    using IdleHandler = std::function<void(QuicEndpoint&)>;

    QuicEndpoint(std::weak_ptr<QuicRuntime> runtime, asio::ip::udp::socket socket, Bytes statelessResetSecret,
                 IdleHandler idleHandler);
    ~QuicEndpoint();

    std::uint16_t localPort() const { return localPort_; }
    void start();

    // Listening. Each start returns a generation that identifies that listener.
    bool isListening() const { return listening_; }
    std::uint64_t startListening(ListenerConfiguration configuration);
    void stopListening(std::uint64_t generation);
    void accept(std::uint64_t generation, QuicCompletion<std::shared_ptr<QuicConnection>> completion);

    // Client side: one connection to the remote endpoint.
    void connect(const asio::ip::udp::endpoint& remote, QuicConnectionConfiguration configuration,
                 QuicCompletion<std::shared_ptr<QuicConnection>> completion);

    // For connections.
    const ngtcp2_addr& localAddress() const { return localAddress_; }
    void addConnectionID(ByteView id, const std::shared_ptr<QuicConnectionEngine>& connection);
    void removeConnectionID(ByteView id);
    void statelessResetToken(ByteView connectionID, std::uint8_t* token) const;
    // Sends packets of `segmentSize` bytes each (the last may be shorter). When the socket would block the
    // bytes are kept and sent once it is writable; isSendBlocked() then stays true until they are.
    void sendPackets(const ngtcp2_addr& remote, const std::uint8_t* data, std::size_t length,
                     std::size_t segmentSize);
    bool isSendBlocked() const { return !blockedPackets_.empty(); }
    std::size_t blockedBytes() const { return blockedBytes_; }
    std::uint64_t droppedBlockedPackets() const { return droppedBlockedPackets_; }
    // Server handshakes in progress.
    std::size_t handshakeCount();
    void writeWhenUnblocked(const std::shared_ptr<QuicConnectionEngine>& connection);
    void connectionReady(const std::shared_ptr<QuicConnectionEngine>& connection);
    void connectionFinished(QuicConnectionEngine& connection);

    // Closes every connection and the socket.
    void shutDown();

private:
    struct BlockedPackets {
        std::vector<std::uint8_t> data;
        std::size_t segmentSize = 0;
        sockaddr_storage remote{};
        socklen_t remoteLength = 0;
    };
    struct AcceptWaiter {
        std::uint64_t id = 0;
        QuicCompletion<std::shared_ptr<QuicConnection>> completion;
    };
    struct Handshake {
        std::weak_ptr<QuicConnectionEngine> connection;
        // The source address (without the port).
        Bytes address;
        bool addressValidated = false;
    };
    // At most `perSecond` uses in each second of the monotonic clock.
    struct SendBudget {
        std::uint64_t second = 0;
        std::uint32_t used = 0;
        bool take(std::uint32_t perSecond);
    };

    void waitReadable();
    void receivePackets();
    void handleDatagram(const std::uint8_t* data, std::size_t length, const sockaddr_storage& remote,
                        socklen_t remoteLength, std::set<std::shared_ptr<QuicConnectionEngine>>& touched);
    void acceptNewConnection(const std::uint8_t* data, std::size_t length, const ngtcp2_path& path,
                             std::set<std::shared_ptr<QuicConnectionEngine>>& touched);
    void sendStatelessReset(ByteView destinationConnectionID, std::size_t triggerLength,
                            const ngtcp2_addr& remote);
    void sendVersionNegotiation(const ngtcp2_version_cid& header, const ngtcp2_addr& remote);
    void refuseInitial(const ngtcp2_pkt_hd& header, const ngtcp2_addr& remote, std::uint64_t errorCode);
    void sendRetry(const ngtcp2_pkt_hd& header, const ngtcp2_addr& remote);
    void pruneHandshakes();
    // Closes the handshake whose place a new one from `address` takes, if there is no room for it.
    void makeRoomForHandshake(const Bytes& address);
    // One sendmsg: 0 when sent, EAGAIN when the socket would block, else the error (the bytes are lost).
    int sendNow(const std::uint8_t* data, std::size_t length, std::size_t segmentSize, const sockaddr* remote,
                socklen_t remoteLength);
    // Sends packets of `segmentSize` bytes (the last may be shorter), segmented by the kernel while it can;
    // returns how many bytes went out (or were lost) before the socket would block, at a packet boundary.
    std::size_t transmit(const std::uint8_t* data, std::size_t length, std::size_t segmentSize,
                         const sockaddr* remote, socklen_t remoteLength);
    void waitWritable();
    void failAcceptWaiters();
    void checkIdle();

    std::weak_ptr<QuicRuntime> runtime_;
    asio::ip::udp::socket socket_;
    Bytes statelessResetSecret_;
    IdleHandler idleHandler_;
    std::uint16_t localPort_ = 0;
    sockaddr_storage localStorage_{};
    ngtcp2_addr localAddress_{};
    bool useSegmentation_ = true;
    bool shutDown_ = false;
    std::vector<std::uint8_t> receiveBuffer_;

    std::map<Bytes, std::shared_ptr<QuicConnectionEngine>> connectionsByID_;
    std::set<std::shared_ptr<QuicConnectionEngine>> connections_;
    std::deque<BlockedPackets> blockedPackets_;
    std::size_t blockedBytes_ = 0;
    std::uint64_t droppedBlockedPackets_ = 0;
    std::set<std::shared_ptr<QuicConnectionEngine>> waitingForWrite_;
    bool waitingWritable_ = false;

    bool listening_ = false;
    std::uint64_t listenerGeneration_ = 0;
    std::optional<ListenerConfiguration> listener_;
    std::deque<std::shared_ptr<QuicConnectionEngine>> readyConnections_;
    std::deque<AcceptWaiter> acceptWaiters_;
    std::uint64_t nextWaiterID_ = 1;

    // Oldest first.
    std::deque<Handshake> handshakes_;
    Bytes retryTokenSecret_;

    SendBudget statelessResets_;
    SendBudget refusals_;
    SendBudget retries_;
};

}  // namespace quillbridge
