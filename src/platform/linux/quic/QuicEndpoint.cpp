#include "platform/linux/quic/QuicEndpoint.hpp"

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <ngtcp2/ngtcp2_crypto.h>
#include <asio/error.hpp>

#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"
#include "core/SecureRandom.hpp"

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103
#endif

namespace quillbridge {

namespace {

const Logger logger{"QuicTransport"};

// What a peer can make the engine log once per packet goes through these.
LogRateLimiter receiveFailureLog{logger, "UDP receive failures"};
LogRateLimiter sendFailureLog{logger, "UDP send failures"};
LogRateLimiter blockedDropLog{logger, "Dropped packets"};
LogRateLimiter refusalLog{logger, "Refused handshakes"};
LogRateLimiter retryLog{logger, "Retry packets"};
LogRateLimiter evictionLog{logger, "Evicted handshakes"};

constexpr std::size_t receiveBufferSize = 65536;
constexpr std::size_t packetsPerWake = 64;
constexpr std::uint32_t statelessResetsPerSecond = 64;
// A stateless reset must be shorter than what triggered it, and at least this long to look like a packet.
constexpr std::size_t minimumStatelessResetLength = 41;
// How long after a Retry its token is taken: the client's Initials carry it until its handshake ends.
constexpr ngtcp2_duration retryTokenLifetime = 10 * NGTCP2_SECONDS;
constexpr std::size_t retryTokenSecretLength = 32;
// The service class of every packet: interactive video, DSCP AF41 (34) in the upper six bits of the IPv4 TOS
// byte and the IPv6 traffic class; the two ECN bits below it stay clear.
constexpr int interactiveVideoTrafficClass = 0x88;

std::uint64_t monotonicSeconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// Marks the socket's packets as interactive video. An IPv6 socket that also carries IPv4 (mapped addresses)
// sends those packets with the IPv4 TOS byte, so it gets both marks.
void markInteractiveVideo(int fd, int family) {
    const int value = interactiveVideoTrafficClass;
    if (family == AF_INET6 && setsockopt(fd, IPPROTO_IPV6, IPV6_TCLASS, &value, sizeof value) != 0) {
        logger.error("Could not mark the socket's IPv6 traffic as interactive video: ", std::strerror(errno));
    }
    if (setsockopt(fd, IPPROTO_IP, IP_TOS, &value, sizeof value) != 0) {
        logger.error("Could not mark the socket's IPv4 traffic as interactive video: ", std::strerror(errno));
    }
}

ngtcp2_tstamp monotonicTimestamp() {
    return static_cast<ngtcp2_tstamp>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// The IP address of a socket address, without its port; an IPv4 address in IPv6 form as plain IPv4.
Bytes sourceAddressOf(const ngtcp2_addr& remote) {
    if (remote.addr->sa_family == AF_INET6) {
        const auto* address = reinterpret_cast<const sockaddr_in6*>(remote.addr);
        const std::uint8_t* bytes = address->sin6_addr.s6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&address->sin6_addr)) {
            return Bytes(bytes + 12, bytes + 16);
        }
        return Bytes(bytes, bytes + 16);
    }
    if (remote.addr->sa_family == AF_INET) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(remote.addr);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address->sin_addr.s_addr);
        return Bytes(bytes, bytes + 4);
    }
    return {};
}

}  // namespace

bool QuicEndpoint::SendBudget::take(std::uint32_t perSecond) {
    const std::uint64_t now = monotonicSeconds();
    if (now != second) {
        second = now;
        used = 0;
    }
    if (used >= perSecond) {
        return false;
    }
    ++used;
    return true;
}

QuicEndpoint::QuicEndpoint(std::weak_ptr<QuicRuntime> runtime, asio::ip::udp::socket socket,
                           Bytes statelessResetSecret, IdleHandler idleHandler)
    : runtime_(std::move(runtime)),
      socket_(std::move(socket)),
      statelessResetSecret_(std::move(statelessResetSecret)),
      idleHandler_(std::move(idleHandler)),
      receiveBuffer_(receiveBufferSize),
      retryTokenSecret_(secureRandomBytes(retryTokenSecretLength)) {
    socket_.non_blocking(true);
    const auto local = socket_.local_endpoint();
    localPort_ = local.port();
    std::memcpy(&localStorage_, local.data(), local.size());
    localAddress_.addr = reinterpret_cast<ngtcp2_sockaddr*>(&localStorage_);
    localAddress_.addrlen = static_cast<ngtcp2_socklen>(local.size());
    // Room for bursts: a full flow-control window in flight on loopback.
    const int bufferSize = 8 * 1024 * 1024;
    const int fd = socket_.native_handle();
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bufferSize, sizeof bufferSize) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    }
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &bufferSize, sizeof bufferSize) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize);
    }
    markInteractiveVideo(fd, local.protocol().family());
}

QuicEndpoint::~QuicEndpoint() = default;

void QuicEndpoint::start() {
    waitReadable();
}

// --- Listening ---------------------------------------------------------------------------------------------

std::uint64_t QuicEndpoint::startListening(ListenerConfiguration configuration) {
    listening_ = true;
    listener_ = std::move(configuration);
    return ++listenerGeneration_;
}

void QuicEndpoint::stopListening(std::uint64_t generation) {
    if (!listening_ || generation != listenerGeneration_) {
        return;
    }
    listening_ = false;
    listener_.reset();
    // Connections that finished their handshake but were never taken are closed, not left to time out.
    auto ready = std::move(readyConnections_);
    readyConnections_.clear();
    for (auto& connection : ready) {
        connection->close(0);
    }
    failAcceptWaiters();
    checkIdle();
}

void QuicEndpoint::failAcceptWaiters() {
    auto waiters = std::move(acceptWaiters_);
    acceptWaiters_.clear();
    for (auto& waiter : waiters) {
        waiter.completion.fail(
            make_error_code(shutDown_ ? QuicError::transportShutDown : QuicError::connectionClosed));
    }
}

void QuicEndpoint::accept(std::uint64_t generation,
                          QuicCompletion<std::shared_ptr<QuicConnection>> completion) {
    if (!listening_ || generation != listenerGeneration_) {
        completion.fail(make_error_code(QuicError::connectionClosed));
        return;
    }
    while (!readyConnections_.empty()) {
        auto connection = std::move(readyConnections_.front());
        readyConnections_.pop_front();
        if (connection->isReady()) {
            completion.succeed(connection->makeHandle());
            return;
        }
    }
    const auto id = nextWaiterID_++;
    acceptWaiters_.push_back({id, std::move(completion)});
    acceptWaiters_.back().completion.setCanceller([weak = weak_from_this(), id] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        auto found = std::find_if(self->acceptWaiters_.begin(), self->acceptWaiters_.end(),
                                  [id](const AcceptWaiter& waiter) { return waiter.id == id; });
        if (found != self->acceptWaiters_.end()) {
            auto waiter = std::move(*found);
            self->acceptWaiters_.erase(found);
            waiter.completion.fail(make_error_code(asio::error::operation_aborted));
        }
    });
}

void QuicEndpoint::connectionReady(const std::shared_ptr<QuicConnectionEngine>& connection) {
    if (!listening_) {
        connection->close(0);
        return;
    }
    if (!acceptWaiters_.empty()) {
        auto waiter = std::move(acceptWaiters_.front());
        acceptWaiters_.pop_front();
        waiter.completion.succeed(connection->makeHandle());
        return;
    }
    readyConnections_.push_back(connection);
}

// --- Client ------------------------------------------------------------------------------------------------

void QuicEndpoint::connect(const asio::ip::udp::endpoint& remote, QuicConnectionConfiguration configuration,
                           QuicCompletion<std::shared_ptr<QuicConnection>> completion) {
    auto connection = std::make_shared<QuicConnectionEngine>(*this, runtime_, std::move(configuration));
    sockaddr_storage remoteStorage{};
    std::memcpy(&remoteStorage, remote.data(), remote.size());
    ngtcp2_path path{
        localAddress_,
        {reinterpret_cast<ngtcp2_sockaddr*>(&remoteStorage), static_cast<ngtcp2_socklen>(remote.size())},
        nullptr};
    connections_.insert(connection);
    if (auto error = connection->startClient(path, completion)) {
        connections_.erase(connection);
        completion.fail(error);
        checkIdle();
        return;
    }
    for (const auto& id : connection->connectionIDs()) {
        addConnectionID(id, connection);
    }
    connection->writePackets();
}

// --- Routing -----------------------------------------------------------------------------------------------

void QuicEndpoint::addConnectionID(ByteView id, const std::shared_ptr<QuicConnectionEngine>& connection) {
    connectionsByID_[Bytes(id.begin(), id.end())] = connection;
}

void QuicEndpoint::removeConnectionID(ByteView id) {
    connectionsByID_.erase(Bytes(id.begin(), id.end()));
}

void QuicEndpoint::statelessResetToken(ByteView connectionID, std::uint8_t* token) const {
    ngtcp2_cid cid;
    ngtcp2_cid_init(&cid, connectionID.data(), connectionID.size());
    if (ngtcp2_crypto_generate_stateless_reset_token(token, statelessResetSecret_.data(),
                                                     statelessResetSecret_.size(), &cid) != 0) {
        fillSecureRandom(std::span(token, NGTCP2_STATELESS_RESET_TOKENLEN));
    }
}

void QuicEndpoint::waitReadable() {
    if (shutDown_) {
        return;
    }
    socket_.async_wait(asio::ip::udp::socket::wait_read, [weak = weak_from_this()](std::error_code error) {
        auto self = weak.lock();
        if (!self || error || self->shutDown_) {
            return;
        }
        self->receivePackets();
        self->waitReadable();
    });
}

void QuicEndpoint::receivePackets() {
    std::set<std::shared_ptr<QuicConnectionEngine>> touched;
    for (std::size_t count = 0; count < packetsPerWake; ++count) {
        sockaddr_storage remote{};
        iovec vector{receiveBuffer_.data(), receiveBuffer_.size()};
        msghdr message{};
        message.msg_name = &remote;
        message.msg_namelen = sizeof remote;
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        const ssize_t received = recvmsg(socket_.native_handle(), &message, MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                receiveFailureLog.debug("UDP receive failed: ", std::strerror(errno));
            }
            break;
        }
        if (received == 0) {
            continue;
        }
        handleDatagram(receiveBuffer_.data(), static_cast<std::size_t>(received), remote, message.msg_namelen,
                       touched);
    }
    for (const auto& connection : touched) {
        connection->writePackets();
    }
}

void QuicEndpoint::handleDatagram(const std::uint8_t* data, std::size_t length,
                                  const sockaddr_storage& remote, socklen_t remoteLength,
                                  std::set<std::shared_ptr<QuicConnectionEngine>>& touched) {
    ngtcp2_path path{localAddress_,
                     {reinterpret_cast<ngtcp2_sockaddr*>(const_cast<sockaddr_storage*>(&remote)),
                      static_cast<ngtcp2_socklen>(remoteLength)},
                     nullptr};
    ngtcp2_version_cid header;
    const int rv =
        ngtcp2_pkt_decode_version_cid(&header, data, length, QuicConnectionEngine::connectionIDLength);
    if (rv == NGTCP2_ERR_VERSION_NEGOTIATION) {
        if (listening_) {
            sendVersionNegotiation(header, path.remote);
        }
        return;
    }
    if (rv != 0) {
        return;
    }
    if (auto found = connectionsByID_.find(Bytes(header.dcid, header.dcid + header.dcidlen));
        found != connectionsByID_.end()) {
        auto connection = found->second;
        connection->handlePacket(path, data, length);
        touched.insert(connection);
        return;
    }
    if (header.version == 0) {
        // A stateless reset carries a random connection ID: it is recognised by its trailing token.
        if (length >= NGTCP2_MIN_STATELESS_RESET_RANDLEN + NGTCP2_STATELESS_RESET_TOKENLEN) {
            const std::uint8_t* token = data + length - NGTCP2_STATELESS_RESET_TOKENLEN;
            for (const auto& connection : connections_) {
                if (connection->matchesStatelessResetToken(token)) {
                    connection->handlePacket(path, data, length);
                    touched.insert(connection);
                    return;
                }
            }
        }
        // A short-header packet of a connection this endpoint does not know (any more).
        sendStatelessReset(ByteView(header.dcid, header.dcidlen), length, path.remote);
        return;
    }
    acceptNewConnection(data, length, path, touched);
}

void QuicEndpoint::acceptNewConnection(const std::uint8_t* data, std::size_t length, const ngtcp2_path& path,
                                       std::set<std::shared_ptr<QuicConnectionEngine>>& touched) {
    ngtcp2_pkt_hd header;
    if (ngtcp2_accept(&header, data, length) != 0) {
        return;  // not a client's first Initial
    }
    if (!listening_ || !listener_) {
        refusalLog.debug("Refused a handshake: not listening");
        refuseInitial(header, path.remote, NGTCP2_CONNECTION_REFUSED);
        return;
    }
    pruneHandshakes();
    std::optional<ngtcp2_cid> retryOriginalDestination;
    if (header.token.len > 0 && header.token.base[0] == NGTCP2_CRYPTO_TOKEN_MAGIC_RETRY) {
        ngtcp2_cid original;
        if (ngtcp2_crypto_verify_retry_token(&original, header.token.base, header.token.len,
                                             retryTokenSecret_.data(), retryTokenSecret_.size(),
                                             header.version, path.remote.addr, path.remote.addrlen,
                                             &header.dcid, retryTokenLifetime, monotonicTimestamp()) != 0) {
            refusalLog.debug("Refused a handshake with an invalid or expired Retry token");
            refuseInitial(header, path.remote, NGTCP2_INVALID_TOKEN);
            return;
        }
        retryOriginalDestination = original;
    }
    // Under pressure a client gets no state before it has shown that it receives at its address.
    if (!retryOriginalDestination && handshakes_.size() >= retryThreshold) {
        sendRetry(header, path.remote);
        return;
    }
    auto address = sourceAddressOf(path.remote);
    makeRoomForHandshake(address);
    auto connection = std::make_shared<QuicConnectionEngine>(*this, runtime_, listener_->connection);
    if (auto error = connection->startServer(
            header, path, retryOriginalDestination ? &*retryOriginalDestination : nullptr)) {
        refusalLog.debug("Cannot start a QUIC server connection: ", error.message());
        return;
    }
    connections_.insert(connection);
    handshakes_.push_back({connection, std::move(address), retryOriginalDestination.has_value()});
    for (const auto& id : connection->connectionIDs()) {
        addConnectionID(id, connection);
    }
    // Retransmitted Initials still carry the client's original destination ID.
    addConnectionID(ByteView(header.dcid.data, header.dcid.datalen), connection);
    connection->handlePacket(path, data, length);
    touched.insert(connection);
}

std::size_t QuicEndpoint::handshakeCount() {
    pruneHandshakes();
    return handshakes_.size();
}

void QuicEndpoint::pruneHandshakes() {
    std::erase_if(handshakes_, [](const Handshake& handshake) {
        auto connection = handshake.connection.lock();
        return !connection || !connection->isHandshaking();
    });
}

void QuicEndpoint::makeRoomForHandshake(const Bytes& address) {
    auto sameAddress = [&address](const Handshake& handshake) { return handshake.address == address; };
    auto victim = handshakes_.end();
    if (static_cast<std::size_t>(std::count_if(handshakes_.begin(), handshakes_.end(), sameAddress)) >=
        maximumHandshakesPerAddress) {
        victim = std::find_if(handshakes_.begin(), handshakes_.end(), sameAddress);
    } else if (handshakes_.size() >= maximumHandshakes) {
        victim = std::find_if(handshakes_.begin(), handshakes_.end(),
                              [](const Handshake& handshake) { return !handshake.addressValidated; });
        if (victim == handshakes_.end()) {
            victim = handshakes_.begin();
        }
    }
    if (victim == handshakes_.end()) {
        return;
    }
    auto connection = victim->connection.lock();
    handshakes_.erase(victim);
    evictionLog.debug("Closed the oldest handshake in progress to make room for a new one");
    if (connection) {
        connection->close(0);
    }
}

void QuicEndpoint::refuseInitial(const ngtcp2_pkt_hd& header, const ngtcp2_addr& remote,
                                 std::uint64_t errorCode) {
    if (!refusals_.take(refusalsPerSecond)) {
        return;
    }
    std::uint8_t packet[NGTCP2_MAX_UDP_PAYLOAD_SIZE];
    const ngtcp2_ssize written = ngtcp2_crypto_write_connection_close(
        packet, sizeof packet, header.version, &header.scid, &header.dcid, errorCode, nullptr, 0);
    if (written > 0) {
        sendPackets(remote, packet, static_cast<std::size_t>(written), static_cast<std::size_t>(written));
    }
}

void QuicEndpoint::sendRetry(const ngtcp2_pkt_hd& header, const ngtcp2_addr& remote) {
    if (!retries_.take(retriesPerSecond)) {
        return;
    }
    ngtcp2_cid retrySourceID;
    retrySourceID.datalen = QuicConnectionEngine::connectionIDLength;
    fillSecureRandom(std::span(retrySourceID.data, retrySourceID.datalen));
    std::uint8_t token[NGTCP2_CRYPTO_MAX_RETRY_TOKENLEN];
    const ngtcp2_ssize tokenLength = ngtcp2_crypto_generate_retry_token(
        token, retryTokenSecret_.data(), retryTokenSecret_.size(), header.version, remote.addr,
        remote.addrlen, &retrySourceID, &header.dcid, monotonicTimestamp());
    if (tokenLength < 0) {
        return;
    }
    std::uint8_t packet[NGTCP2_MAX_UDP_PAYLOAD_SIZE];
    const ngtcp2_ssize written =
        ngtcp2_crypto_write_retry(packet, sizeof packet, header.version, &header.scid, &retrySourceID,
                                  &header.dcid, token, static_cast<std::size_t>(tokenLength));
    if (written > 0) {
        retryLog.debug("Asked a client to validate its address: ", handshakes_.size(),
                       " handshakes are in progress");
        sendPackets(remote, packet, static_cast<std::size_t>(written), static_cast<std::size_t>(written));
    }
}

void QuicEndpoint::sendStatelessReset(ByteView destinationConnectionID, std::size_t triggerLength,
                                      const ngtcp2_addr& remote) {
    if (destinationConnectionID.size() != QuicConnectionEngine::connectionIDLength ||
        triggerLength <= minimumStatelessResetLength) {
        return;
    }
    if (!statelessResets_.take(statelessResetsPerSecond)) {
        return;
    }
    std::uint8_t token[NGTCP2_STATELESS_RESET_TOKENLEN];
    statelessResetToken(destinationConnectionID, token);
    const std::size_t packetLength = std::min<std::size_t>(triggerLength - 1, 64);
    const std::size_t randomLength = packetLength - NGTCP2_STATELESS_RESET_TOKENLEN;
    Bytes random = secureRandomBytes(randomLength);
    std::uint8_t packet[128];
    const ngtcp2_ssize written =
        ngtcp2_pkt_write_stateless_reset(packet, sizeof packet, token, random.data(), random.size());
    if (written > 0) {
        sendPackets(remote, packet, static_cast<std::size_t>(written), static_cast<std::size_t>(written));
    }
}

void QuicEndpoint::sendVersionNegotiation(const ngtcp2_version_cid& header, const ngtcp2_addr& remote) {
    const std::uint32_t versions[] = {NGTCP2_PROTO_VER_V1};
    std::uint8_t packet[NGTCP2_MAX_UDP_PAYLOAD_SIZE];
    std::uint8_t unused = 0;
    fillSecureRandom(std::span(&unused, 1));
    const ngtcp2_ssize written = ngtcp2_pkt_write_version_negotiation(
        packet, sizeof packet, unused, header.scid, header.scidlen, header.dcid, header.dcidlen, versions, 1);
    if (written > 0) {
        sendPackets(remote, packet, static_cast<std::size_t>(written), static_cast<std::size_t>(written));
    }
}

// --- Sending -----------------------------------------------------------------------------------------------

int QuicEndpoint::sendNow(const std::uint8_t* data, std::size_t length, std::size_t segmentSize,
                          const sockaddr* remote, socklen_t remoteLength) {
    iovec vector{const_cast<std::uint8_t*>(data), length};
    msghdr message{};
    message.msg_name = const_cast<sockaddr*>(remote);
    message.msg_namelen = remoteLength;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint16_t))]{};
    if (length > segmentSize) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_UDP;
        header->cmsg_type = UDP_SEGMENT;
        header->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
        const auto segment = static_cast<std::uint16_t>(segmentSize);
        std::memcpy(CMSG_DATA(header), &segment, sizeof segment);
    }
    for (;;) {
        if (sendmsg(socket_.native_handle(), &message, MSG_DONTWAIT) >= 0) {
            return 0;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN || error == EWOULDBLOCK) {
            return EAGAIN;
        }
        sendFailureLog.debug("UDP send failed: ", std::strerror(error));
        return error;
    }
}

std::size_t QuicEndpoint::transmit(const std::uint8_t* data, std::size_t length, std::size_t segmentSize,
                                   const sockaddr* remote, socklen_t remoteLength) {
    if (useSegmentation_ && length > segmentSize) {
        const int error = sendNow(data, length, segmentSize, remote, remoteLength);
        if (error == 0) {
            return length;
        }
        if (error == EAGAIN) {
            return 0;
        }
        // The kernel or the network device cannot segment (EIO without checksum offload, EINVAL on an old
        // kernel, ...): from now on the packets go one by one, these included.
        logger.info("UDP segmentation offload is not available (", std::strerror(error),
                    "); sending packets one by one");
        useSegmentation_ = false;
    }
    std::size_t offset = 0;
    while (offset < length) {
        const std::size_t count = std::min(segmentSize, length - offset);
        if (sendNow(data + offset, count, count, remote, remoteLength) == EAGAIN) {
            return offset;
        }
        // Sent, or lost for another reason: QUIC recovers from loss.
        offset += count;
    }
    return length;
}

void QuicEndpoint::sendPackets(const ngtcp2_addr& remote, const std::uint8_t* data, std::size_t length,
                               std::size_t segmentSize) {
    if (shutDown_ || length == 0) {
        return;
    }
    auto keep = [&](const std::uint8_t* from, std::size_t count) {
        if (blockedBytes_ + count > maximumBlockedBytes) {
            ++droppedBlockedPackets_;
            blockedDropLog.debug("Dropped ", count, " bytes of packets: ", blockedBytes_,
                                 " bytes already wait for the socket");
            waitWritable();
            return;
        }
        blockedBytes_ += count;
        BlockedPackets blocked;
        blocked.data.assign(from, from + count);
        blocked.segmentSize = segmentSize;
        std::memcpy(&blocked.remote, remote.addr, remote.addrlen);
        blocked.remoteLength = remote.addrlen;
        blockedPackets_.push_back(std::move(blocked));
        waitWritable();
    };
    if (!blockedPackets_.empty()) {
        keep(data, length);  // keep the order
        return;
    }
    const std::size_t sent = transmit(data, length, segmentSize, remote.addr, remote.addrlen);
    if (sent < length) {
        keep(data + sent, length - sent);
    }
}

void QuicEndpoint::waitWritable() {
    if (waitingWritable_ || shutDown_) {
        return;
    }
    waitingWritable_ = true;
    socket_.async_wait(asio::ip::udp::socket::wait_write, [weak = weak_from_this()](std::error_code error) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->waitingWritable_ = false;
        if (error || self->shutDown_) {
            return;
        }
        while (!self->blockedPackets_.empty()) {
            auto& blocked = self->blockedPackets_.front();
            const std::size_t sent =
                self->transmit(blocked.data.data(), blocked.data.size(), blocked.segmentSize,
                               reinterpret_cast<const sockaddr*>(&blocked.remote), blocked.remoteLength);
            self->blockedBytes_ -= sent;
            if (sent < blocked.data.size()) {
                blocked.data.erase(blocked.data.begin(),
                                   blocked.data.begin() + static_cast<std::ptrdiff_t>(sent));
                self->waitWritable();
                return;
            }
            self->blockedPackets_.pop_front();
        }
        auto waiting = std::move(self->waitingForWrite_);
        self->waitingForWrite_.clear();
        for (const auto& connection : waiting) {
            connection->writePackets();
        }
    });
}

void QuicEndpoint::writeWhenUnblocked(const std::shared_ptr<QuicConnectionEngine>& connection) {
    waitingForWrite_.insert(connection);
}

// --- Lifetime ----------------------------------------------------------------------------------------------

void QuicEndpoint::connectionFinished(QuicConnectionEngine& connection) {
    auto self = shared_from_this();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->get() == &connection) {
            waitingForWrite_.erase(*it);
            std::erase_if(readyConnections_, [&](const auto& ready) { return ready.get() == &connection; });
            connections_.erase(it);
            break;
        }
    }
    checkIdle();
}

void QuicEndpoint::checkIdle() {
    if (!shutDown_ && !listening_ && connections_.empty() && idleHandler_) {
        auto handler = idleHandler_;
        handler(*this);
    }
}

void QuicEndpoint::shutDown() {
    if (shutDown_) {
        return;
    }
    auto self = shared_from_this();
    idleHandler_ = nullptr;
    listening_ = false;
    listener_.reset();
    readyConnections_.clear();
    auto connections = connections_;
    for (const auto& connection : connections) {
        connection->shutDownForTransport();
    }
    connections_.clear();
    connectionsByID_.clear();
    waitingForWrite_.clear();
    handshakes_.clear();
    blockedPackets_.clear();
    blockedBytes_ = 0;
    shutDown_ = true;
    failAcceptWaiters();
    std::error_code ignored;
    socket_.close(ignored);
}

}  // namespace quillbridge
