#include "platform/linux/quic/QuicConnectionEngine.hpp"

#include <algorithm>
#include <cstring>

#include <ngtcp2/ngtcp2_crypto_gnutls.h>
#include <asio/error.hpp>
#include <asio/post.hpp>

#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"
#include "core/SecureRandom.hpp"
#include "platform/linux/quic/QuicConnectionEngineShared.hpp"
#include "platform/linux/quic/QuicEndpoint.hpp"
#include "platform/linux/quic/QuicHandles.hpp"

namespace quillbridge {

using namespace quic_engine;

QuicConnectionEngine::QuicConnectionEngine(QuicEndpoint& endpoint, std::weak_ptr<QuicRuntime> runtime,
                                           QuicConnectionConfiguration configuration)
    : endpoint_(&endpoint), runtime_(std::move(runtime)), configuration_(std::move(configuration)) {
    connectionReference_.get_conn = &QuicConnectionEngine::connectionFromReference;
    connectionReference_.user_data = this;
    ngtcp2_path_storage_zero(&path_);
    ngtcp2_path_storage_zero(&batchPath_);
}

QuicConnectionEngine::~QuicConnectionEngine() {
    // Normally released by finish() on the engine thread already.
    if (connection_ != nullptr) {
        ngtcp2_conn_del(connection_);
    }
    if (tls_ != nullptr) {
        gnutls_deinit(tls_);
    }
}

ngtcp2_tstamp QuicConnectionEngine::now() {
    return static_cast<ngtcp2_tstamp>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

ngtcp2_callbacks QuicConnectionEngine::makeCallbacks(bool isServer) {
    ngtcp2_callbacks callbacks{};
    if (isServer) {
        callbacks.recv_client_initial = ngtcp2_crypto_recv_client_initial_cb;
    } else {
        callbacks.client_initial = ngtcp2_crypto_client_initial_cb;
        callbacks.recv_retry = ngtcp2_crypto_recv_retry_cb;
        callbacks.handshake_confirmed = guardedQuicCallback<&QuicConnectionEngine::onHandshakeConfirmed>;
    }
    callbacks.recv_crypto_data = ngtcp2_crypto_recv_crypto_data_cb;
    callbacks.encrypt = ngtcp2_crypto_encrypt_cb;
    callbacks.decrypt = ngtcp2_crypto_decrypt_cb;
    callbacks.hp_mask = ngtcp2_crypto_hp_mask_cb;
    callbacks.update_key = ngtcp2_crypto_update_key_cb;
    callbacks.delete_crypto_aead_ctx = ngtcp2_crypto_delete_crypto_aead_ctx_cb;
    callbacks.delete_crypto_cipher_ctx = ngtcp2_crypto_delete_crypto_cipher_ctx_cb;
    callbacks.get_path_challenge_data = ngtcp2_crypto_get_path_challenge_data_cb;
    callbacks.version_negotiation = ngtcp2_crypto_version_negotiation_cb;
    callbacks.handshake_completed = guardedQuicCallback<&QuicConnectionEngine::onHandshakeCompleted>;
    callbacks.recv_stream_data = guardedQuicCallback<&QuicConnectionEngine::onReceiveStreamData>;
    callbacks.acked_stream_data_offset = guardedQuicCallback<&QuicConnectionEngine::onAcknowledgedStreamData>;
    callbacks.stream_open = guardedQuicCallback<&QuicConnectionEngine::onStreamOpen>;
    callbacks.stream_close = guardedQuicCallback<&QuicConnectionEngine::onStreamClose>;
    callbacks.stream_reset = guardedQuicCallback<&QuicConnectionEngine::onStreamReset>;
    callbacks.extend_max_local_streams_bidi =
        guardedQuicCallback<&QuicConnectionEngine::onExtendMaxLocalStreams>;
    callbacks.extend_max_local_streams_uni =
        guardedQuicCallback<&QuicConnectionEngine::onExtendMaxLocalStreams>;
    callbacks.extend_max_stream_data = guardedQuicCallback<&QuicConnectionEngine::onExtendMaxStreamData>;
    callbacks.rand = &QuicConnectionEngine::onRandom;
    callbacks.get_new_connection_id = guardedQuicCallback<&QuicConnectionEngine::onNewConnectionID>;
    callbacks.remove_connection_id = guardedQuicCallback<&QuicConnectionEngine::onRemoveConnectionID>;
    callbacks.recv_datagram = guardedQuicCallback<&QuicConnectionEngine::onReceiveDatagram>;
    callbacks.lost_datagram = guardedQuicCallback<&QuicConnectionEngine::onLostDatagram>;
    callbacks.recv_stateless_reset = guardedQuicCallback<&QuicConnectionEngine::onStatelessReset>;
    return callbacks;
}

ngtcp2_settings QuicConnectionEngine::makeSettings() const {
    ngtcp2_settings settings;
    ngtcp2_settings_default(&settings);
    settings.initial_ts = now();
    // The default (333 ms) stalls a handshake on a fast network by its first retransmission time-out.
    settings.initial_rtt = 50 * NGTCP2_MILLISECONDS;
    settings.cc_algo = NGTCP2_CC_ALGO_CUBIC;
    settings.max_window = maximumConnectionWindow;
    settings.max_stream_window = maximumStreamWindow;
    settings.handshake_timeout = 10 * NGTCP2_SECONDS;
    return settings;
}

ngtcp2_transport_params QuicConnectionEngine::makeTransportParameters() const {
    ngtcp2_transport_params params;
    ngtcp2_transport_params_default(&params);
    params.initial_max_stream_data_bidi_local = initialStreamWindow;
    params.initial_max_stream_data_bidi_remote = initialStreamWindow;
    params.initial_max_stream_data_uni = initialStreamWindow;
    params.initial_max_data = initialConnectionWindow;
    params.initial_max_streams_bidi = concurrentStreamLimit;
    params.initial_max_streams_uni = concurrentStreamLimit;
    params.max_idle_timeout =
        static_cast<ngtcp2_duration>(configuration_.idleTimeout.count()) * NGTCP2_MILLISECONDS;
    params.max_datagram_frame_size = configuration_.maximumDatagramFrameSize;
    if (configuration_.maximumUdpPayloadSize != 0) {
        params.max_udp_payload_size = configuration_.maximumUdpPayloadSize;
    }
    params.active_connection_id_limit = 7;
    return params;
}

std::error_code QuicConnectionEngine::startTLS() {
    auto runtime = runtime_.lock();
    if (!runtime) {
        return make_error_code(QuicError::transportShutDown);
    }
    timer_.emplace(runtime->context());
    const unsigned flags = configuration_.isServer ? GNUTLS_SERVER : GNUTLS_CLIENT;
    if (gnutls_init(&tls_, flags | GNUTLS_NO_END_OF_EARLY_DATA) != GNUTLS_E_SUCCESS) {
        tls_ = nullptr;
        return make_error_code(QuicError::handshakeFailed);
    }
    int rv = configuration_.isServer ? ngtcp2_crypto_gnutls_configure_server_session(tls_)
                                     : ngtcp2_crypto_gnutls_configure_client_session(tls_);
    if (rv != 0 || gnutls_priority_set_direct(tls_, tlsPriorities, nullptr) != GNUTLS_E_SUCCESS ||
        gnutls_credentials_set(tls_, GNUTLS_CRD_CERTIFICATE, configuration_.credentials->get()) !=
            GNUTLS_E_SUCCESS) {
        return make_error_code(QuicError::handshakeFailed);
    }
    // The verify function replaces GnuTLS's own chain validation; it hands the leaf to the validator.
    gnutls_certificate_set_verify_function(
        configuration_.credentials->get(),
        &CallbackGuard<&QuicConnectionEngine::verifyPeerCertificate, GNUTLS_E_CERTIFICATE_ERROR>::call);
    if (!configuration_.alpn.empty()) {
        const gnutls_datum_t protocol{reinterpret_cast<unsigned char*>(configuration_.alpn.data()),
                                      static_cast<unsigned int>(configuration_.alpn.size())};
        if (gnutls_alpn_set_protocols(tls_, &protocol, 1,
                                      configuration_.isServer ? GNUTLS_ALPN_MANDATORY : 0) !=
            GNUTLS_E_SUCCESS) {
            return make_error_code(QuicError::handshakeFailed);
        }
    }
    if (configuration_.isServer) {
        gnutls_certificate_server_set_request(tls_, GNUTLS_CERT_REQUIRE);
        // GNUTLS_ALPN_MANDATORY refuses another protocol but lets a ClientHello without ALPN through.
        gnutls_handshake_set_hook_function(
            tls_, GNUTLS_HANDSHAKE_CLIENT_HELLO, GNUTLS_HOOK_POST,
            &CallbackGuard<&QuicConnectionEngine::checkClientHello, GNUTLS_E_INTERNAL_ERROR>::call);
    }
    gnutls_session_set_ptr(tls_, &connectionReference_);
    ngtcp2_conn_set_tls_native_handle(connection_, tls_);
    return {};
}

std::error_code QuicConnectionEngine::startServer(const ngtcp2_pkt_hd& initialHeader, const ngtcp2_path& path,
                                                  const ngtcp2_cid* retryOriginalDestinationID) {
    ngtcp2_cid sourceID;
    sourceID.datalen = connectionIDLength;
    fillSecureRandom(std::span(sourceID.data, connectionIDLength));

    auto settings = makeSettings();
    auto params = makeTransportParameters();
    params.original_dcid = initialHeader.dcid;
    if (retryOriginalDestinationID != nullptr) {
        // The address is validated: the client's Initials after the Retry go to the Retry's source ID.
        params.original_dcid = *retryOriginalDestinationID;
        params.retry_scid = initialHeader.dcid;
        params.retry_scid_present = 1;
        settings.token = initialHeader.token;
    }
    params.stateless_reset_token_present = 1;
    endpoint_->statelessResetToken(ByteView(sourceID.data, sourceID.datalen), params.stateless_reset_token);

    const auto callbacks = makeCallbacks(true);
    if (ngtcp2_conn_server_new(&connection_, &initialHeader.scid, &sourceID, &path, initialHeader.version,
                               &callbacks, &settings, &params, nullptr, this) != 0) {
        connection_ = nullptr;
        return make_error_code(QuicError::protocolViolation);
    }
    ngtcp2_path_copy(&path_.path, &path);
    originalDestinationConnectionID_ = toBytes(initialHeader.dcid);
    issuedConnectionIDs_.push_back(toBytes(sourceID));
    if (auto error = startTLS()) {
        return error;
    }
    return {};
}

std::error_code QuicConnectionEngine::startClient(
    const ngtcp2_path& path, QuicCompletion<std::shared_ptr<QuicConnection>>& completion) {
    ngtcp2_cid sourceID;
    ngtcp2_cid destinationID;
    sourceID.datalen = connectionIDLength;
    destinationID.datalen = connectionIDLength;
    fillSecureRandom(std::span(sourceID.data, connectionIDLength));
    fillSecureRandom(std::span(destinationID.data, connectionIDLength));

    auto settings = makeSettings();
    auto params = makeTransportParameters();
    const auto callbacks = makeCallbacks(false);
    if (ngtcp2_conn_client_new(&connection_, &destinationID, &sourceID, &path, NGTCP2_PROTO_VER_V1,
                               &callbacks, &settings, &params, nullptr, this) != 0) {
        connection_ = nullptr;
        return make_error_code(QuicError::protocolViolation);
    }
    ngtcp2_path_copy(&path_.path, &path);
    issuedConnectionIDs_.push_back(toBytes(sourceID));
    if (auto error = startTLS()) {
        return error;
    }
    connectCompletion_ = std::move(completion);
    connectCompletion_.setCanceller([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            if (self->connectCompletion_) {
                self->connectCompletion_.fail(make_error_code(asio::error::operation_aborted));
                self->close(0);
            }
        }
    });
    return {};
}

// --- State -------------------------------------------------------------------------------------------------

void QuicConnectionEngine::notifyState() {
    if (!stateExecutor_ || !stateHandler_) {
        return;
    }
    // Checked again on the user's executor: the handler may have been replaced or released meanwhile.
    asio::post(*stateExecutor_, [handler = stateHandler_, state = state(), current = stateHandlerGeneration_,
                                 generation = installedStateHandlerGeneration_] {
        if (current->load() == generation) {
            handler(state);
        }
    });
}

void QuicConnectionEngine::setStateHandler(asio::any_io_executor executor,
                                           QuicConnection::StateHandler handler, std::uint64_t generation) {
    if (generation != stateHandlerGeneration_->load()) {
        return;  // replaced or released before it got here
    }
    installedStateHandlerGeneration_ = generation;
    if (!handler) {
        stateHandler_ = nullptr;
        stateExecutor_.reset();
        return;
    }
    stateExecutor_ = std::move(executor);
    stateHandler_ = std::move(handler);
    notifyState();
}

void QuicConnectionEngine::publishStatistics() {
    if (connection_ == nullptr) {
        return;
    }
    ngtcp2_conn_stat stat;
    ngtcp2_conn_get_conn_stat(connection_, &stat);
    const std::size_t maximumDatagram = phase_ == Phase::ready ? computeMaximumDatagramSize() : 0;
    std::lock_guard lock(snapshotMutex_);
    statistics_.smoothedRoundTripNanoseconds = stat.smoothed_rtt;
    statistics_.bytesInFlight = stat.bytes_in_flight;
    statistics_.congestionWindowBytes = stat.cwnd;
    maximumDatagramSizeSnapshot_ = maximumDatagram;
}

QuicConnectionState QuicConnectionEngine::state() const {
    std::lock_guard lock(snapshotMutex_);
    return stateSnapshot_;
}

QuicConnectionCloseInfo QuicConnectionEngine::closeInfo() const {
    std::lock_guard lock(snapshotMutex_);
    return closeInfoSnapshot_;
}

QuicConnectionStatistics QuicConnectionEngine::statistics() const {
    std::lock_guard lock(snapshotMutex_);
    return statistics_;
}

std::size_t QuicConnectionEngine::maximumDatagramSize() const {
    std::lock_guard lock(snapshotMutex_);
    return maximumDatagramSizeSnapshot_;
}

Bytes QuicConnectionEngine::peerCertificateDER() const {
    std::lock_guard lock(snapshotMutex_);
    return peerCertificate_;
}

std::shared_ptr<QuicConnection> QuicConnectionEngine::makeHandle() {
    auto runtime = runtime_.lock();
    if (!runtime) {
        return nullptr;
    }
    handedOut_ = true;
    deliverInboundStreams();
    return std::make_shared<QuicConnectionHandle>(std::move(runtime), shared_from_this());
}

}  // namespace quillbridge
