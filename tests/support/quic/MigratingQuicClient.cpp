#include "support/quic/MigratingQuicClient.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <stdexcept>

#include <gnutls/gnutls.h>
#include <ngtcp2/ngtcp2.h>
#include <ngtcp2/ngtcp2_crypto.h>
#include <ngtcp2/ngtcp2_crypto_gnutls.h>

#include "core/SecureRandom.hpp"
#include "platform/linux/quic/GnuTLSCredentials.hpp"
#include "platform/linux/quic/QuicConnectionEngine.hpp"

namespace quillbridge {

namespace {

constexpr const char* tlsPriorities =
    "NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:+CHACHA20-POLY1305:-GROUP-ALL:"
    "+GROUP-SECP256R1:+GROUP-X25519:%DISABLE_TLS13_COMPAT_MODE";
constexpr std::size_t connectionIDLength = 16;

ngtcp2_tstamp timestampNow() {
    return static_cast<ngtcp2_tstamp>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// A UDP socket on 127.0.0.1 with its address.
struct LocalSocket {
    LocalSocket() {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot bind a UDP socket on 127.0.0.1");
        }
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    }
    ~LocalSocket() { ::close(fd); }
    LocalSocket(const LocalSocket&) = delete;
    LocalSocket& operator=(const LocalSocket&) = delete;

    int fd = -1;
    sockaddr_in address{};
};

}  // namespace

class MigratingQuicClient::Impl {
public:
    Impl(TLSIdentity identity, std::string alpn) : identity_(std::move(identity)), alpn_(std::move(alpn)) {
        reference_.get_conn = [](ngtcp2_crypto_conn_ref* reference) {
            return static_cast<Impl*>(reference->user_data)->connection_;
        };
        reference_.user_data = this;
    }

    ~Impl() {
        if (connection_ != nullptr) {
            ngtcp2_conn_del(connection_);
        }
        if (tls_ != nullptr) {
            gnutls_deinit(tls_);
        }
    }

    bool connect(std::uint16_t port, std::chrono::milliseconds timeout) {
        remote_.sin_family = AF_INET;
        remote_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        remote_.sin_port = htons(port);
        socket_ = std::make_unique<LocalSocket>();
        localAddress_ = socket_->address;

        ngtcp2_cid sourceID;
        ngtcp2_cid destinationID;
        sourceID.datalen = connectionIDLength;
        destinationID.datalen = connectionIDLength;
        fillSecureRandom(std::span(sourceID.data, sourceID.datalen));
        fillSecureRandom(std::span(destinationID.data, destinationID.datalen));

        ngtcp2_settings settings;
        ngtcp2_settings_default(&settings);
        settings.initial_ts = timestampNow();
        settings.initial_rtt = 50 * NGTCP2_MILLISECONDS;
        ngtcp2_transport_params params;
        ngtcp2_transport_params_default(&params);
        params.initial_max_data = 1 << 20;
        params.initial_max_stream_data_bidi_local = 1 << 20;
        params.initial_max_stream_data_bidi_remote = 1 << 20;
        params.initial_max_stream_data_uni = 1 << 20;
        params.initial_max_streams_bidi = 10;
        params.initial_max_streams_uni = 10;
        params.max_idle_timeout = 15 * NGTCP2_SECONDS;
        params.max_datagram_frame_size = 1200;
        params.active_connection_id_limit = 4;

        ngtcp2_callbacks callbacks{};
        callbacks.client_initial = ngtcp2_crypto_client_initial_cb;
        callbacks.recv_crypto_data = ngtcp2_crypto_recv_crypto_data_cb;
        callbacks.encrypt = ngtcp2_crypto_encrypt_cb;
        callbacks.decrypt = ngtcp2_crypto_decrypt_cb;
        callbacks.hp_mask = ngtcp2_crypto_hp_mask_cb;
        callbacks.recv_retry = ngtcp2_crypto_recv_retry_cb;
        callbacks.update_key = ngtcp2_crypto_update_key_cb;
        callbacks.delete_crypto_aead_ctx = ngtcp2_crypto_delete_crypto_aead_ctx_cb;
        callbacks.delete_crypto_cipher_ctx = ngtcp2_crypto_delete_crypto_cipher_ctx_cb;
        callbacks.get_path_challenge_data = ngtcp2_crypto_get_path_challenge_data_cb;
        callbacks.version_negotiation = ngtcp2_crypto_version_negotiation_cb;
        callbacks.rand = [](std::uint8_t* destination, std::size_t length, const ngtcp2_rand_ctx*) {
            fillSecureRandom(std::span(destination, length));
        };
        callbacks.get_new_connection_id = [](ngtcp2_conn*, ngtcp2_cid* cid, std::uint8_t* token,
                                             std::size_t length, void*) {
            cid->datalen = length;
            fillSecureRandom(std::span(cid->data, length));
            fillSecureRandom(std::span(token, NGTCP2_STATELESS_RESET_TOKENLEN));
            return 0;
        };
        callbacks.handshake_confirmed = [](ngtcp2_conn*, void* userData) {
            static_cast<Impl*>(userData)->confirmed_ = true;
            return 0;
        };
        callbacks.recv_datagram = [](ngtcp2_conn*, std::uint32_t, const std::uint8_t* data,
                                     std::size_t length, void* userData) {
            static_cast<Impl*>(userData)->received_.emplace_back(data, data + length);
            return 0;
        };

        const ngtcp2_path path = currentPath();
        if (ngtcp2_conn_client_new(&connection_, &destinationID, &sourceID, &path, NGTCP2_PROTO_VER_V1,
                                   &callbacks, &settings, &params, nullptr, this) != 0) {
            connection_ = nullptr;
            return false;
        }
        auto credentials = GnuTLSCredentials::fromIdentity(identity_);
        if (!credentials) {
            return false;
        }
        credentials_ = *credentials;
        if (gnutls_init(&tls_, GNUTLS_CLIENT | GNUTLS_NO_END_OF_EARLY_DATA) != GNUTLS_E_SUCCESS) {
            tls_ = nullptr;
            return false;
        }
        const gnutls_datum_t protocol{reinterpret_cast<unsigned char*>(alpn_.data()),
                                      static_cast<unsigned int>(alpn_.size())};
        if (ngtcp2_crypto_gnutls_configure_client_session(tls_) != 0 ||
            gnutls_priority_set_direct(tls_, tlsPriorities, nullptr) != GNUTLS_E_SUCCESS ||
            gnutls_credentials_set(tls_, GNUTLS_CRD_CERTIFICATE, credentials_->get()) != GNUTLS_E_SUCCESS ||
            gnutls_alpn_set_protocols(tls_, &protocol, 1, 0) != GNUTLS_E_SUCCESS) {
            return false;
        }
        gnutls_session_set_ptr(tls_, &reference_);
        ngtcp2_conn_set_tls_native_handle(connection_, tls_);
        return runUntil([this] { return confirmed_; }, timeout);
    }

    bool migrate() {
        if (connection_ == nullptr || closed_) {
            return false;
        }
        auto next = std::make_unique<LocalSocket>();
        const auto previousAddress = localAddress_;
        localAddress_ = next->address;
        const ngtcp2_path path = currentPath();
        if (ngtcp2_conn_initiate_immediate_migration(connection_, &path, timestampNow()) != 0) {
            localAddress_ = previousAddress;
            return false;
        }
        // The old socket is gone, as on a network the headset left.
        socket_ = std::move(next);
        return true;
    }

    void rebind() { socket_ = std::make_unique<LocalSocket>(); }

    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (!closed_) {
                write();
            }
            if (condition()) {
                return true;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline || closed_) {
                return condition();
            }
            // Short waits: the condition may turn on something outside this client.
            auto wait = std::min(std::chrono::milliseconds(10),
                                 std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
            const ngtcp2_tstamp expiry = ngtcp2_conn_get_expiry(connection_);
            const ngtcp2_tstamp stamp = timestampNow();
            if (expiry != UINT64_MAX) {
                const auto untilExpiry = std::chrono::milliseconds(
                    expiry > stamp ? (expiry - stamp + NGTCP2_MILLISECONDS - 1) / NGTCP2_MILLISECONDS : 0);
                wait = std::min(wait, untilExpiry);
            }
            pollfd descriptor{socket_->fd, POLLIN, 0};
            if (::poll(&descriptor, 1, static_cast<int>(wait.count())) > 0) {
                read();
            }
            if (!closed_ && ngtcp2_conn_get_expiry(connection_) <= timestampNow()) {
                if (ngtcp2_conn_handle_expiry(connection_, timestampNow()) != 0) {
                    closed_ = true;
                }
            }
        }
    }

    void sendDatagram(Bytes datagram) { outgoing_.push_back(std::move(datagram)); }

    std::vector<Bytes> received_;
    bool closed_ = false;

    Bytes destinationConnectionID() const { return currentDestination_; }

    std::uint16_t localPort() const { return socket_ ? ntohs(socket_->address.sin_port) : 0; }

private:
    ngtcp2_path currentPath() {
        return ngtcp2_path{{reinterpret_cast<ngtcp2_sockaddr*>(&localAddress_), sizeof localAddress_},
                           {reinterpret_cast<ngtcp2_sockaddr*>(&remote_), sizeof remote_},
                           nullptr};
    }

    void read() {
        std::uint8_t buffer[65536];
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t length = ::recvfrom(socket_->fd, buffer, sizeof buffer, 0,
                                              reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (length <= 0) {
                return;
            }
            const ngtcp2_path path = currentPath();
            ngtcp2_pkt_info info{};
            const int rv = ngtcp2_conn_read_pkt(connection_, &path, &info, buffer,
                                                static_cast<std::size_t>(length), timestampNow());
            if (rv != 0 && rv != NGTCP2_ERR_DISCARD_PKT) {
                closed_ = true;
                return;
            }
        }
    }

    void write() {
        std::uint8_t packet[NGTCP2_MAX_UDP_PAYLOAD_SIZE];
        for (int packets = 0; packets < 64; ++packets) {
            ngtcp2_path_storage storage;
            ngtcp2_path_storage_zero(&storage);
            ngtcp2_pkt_info info{};
            ngtcp2_ssize written = 0;
            if (!outgoing_.empty()) {
                int accepted = 0;
                ngtcp2_vec vector{outgoing_.front().data(), outgoing_.front().size()};
                written = ngtcp2_conn_writev_datagram(
                    connection_, &storage.path, &info, packet, sizeof packet, &accepted,
                    NGTCP2_WRITE_DATAGRAM_FLAG_NONE, 0, &vector, 1, timestampNow());
                if (accepted) {
                    outgoing_.pop_front();
                }
            } else {
                written = ngtcp2_conn_write_pkt(connection_, &storage.path, &info, packet, sizeof packet,
                                                timestampNow());
            }
            if (written < 0) {
                if (written == NGTCP2_ERR_WRITE_MORE) {
                    continue;
                }
                closed_ = true;
                return;
            }
            if (written == 0) {
                return;
            }
            // A short-header packet names the host's connection ID right after its first byte.
            if ((packet[0] & 0x80) == 0 &&
                static_cast<std::size_t>(written) > 1 + QuicConnectionEngine::connectionIDLength) {
                currentDestination_.assign(packet + 1, packet + 1 + QuicConnectionEngine::connectionIDLength);
            }
            ::sendto(socket_->fd, packet, static_cast<std::size_t>(written), 0,
                     reinterpret_cast<const sockaddr*>(storage.path.remote.addr),
                     storage.path.remote.addrlen);
        }
    }

    TLSIdentity identity_;
    std::string alpn_;
    std::shared_ptr<GnuTLSCredentials> credentials_;
    ngtcp2_crypto_conn_ref reference_{};
    ngtcp2_conn* connection_ = nullptr;
    gnutls_session_t tls_ = nullptr;
    std::unique_ptr<LocalSocket> socket_;
    // The client's address as the QUIC stack knows it (a NAT may have changed the socket behind it).
    sockaddr_in localAddress_{};
    sockaddr_in remote_{};
    bool confirmed_ = false;
    std::deque<Bytes> outgoing_;
    Bytes currentDestination_;
};

MigratingQuicClient::MigratingQuicClient(TLSIdentity identity, std::string alpn)
    : impl_(std::make_unique<Impl>(std::move(identity), std::move(alpn))) {}

MigratingQuicClient::~MigratingQuicClient() = default;

bool MigratingQuicClient::connect(std::uint16_t port, std::chrono::milliseconds timeout) {
    return impl_->connect(port, timeout);
}

bool MigratingQuicClient::migrate() {
    return impl_->migrate();
}

void MigratingQuicClient::rebind() {
    impl_->rebind();
}

bool MigratingQuicClient::runUntil(const std::function<bool()>& condition,
                                   std::chrono::milliseconds timeout) {
    return impl_->runUntil(condition, timeout);
}

void MigratingQuicClient::sendDatagram(Bytes datagram) {
    impl_->sendDatagram(std::move(datagram));
}

const std::vector<Bytes>& MigratingQuicClient::receivedDatagrams() const {
    return impl_->received_;
}

Bytes MigratingQuicClient::destinationConnectionID() const {
    return impl_->destinationConnectionID();
}

std::uint16_t MigratingQuicClient::localPort() const {
    return impl_->localPort();
}

bool MigratingQuicClient::isClosed() const {
    return impl_->closed_;
}

}  // namespace quillbridge
