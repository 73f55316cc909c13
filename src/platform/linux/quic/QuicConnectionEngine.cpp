#include "platform/linux/quic/QuicConnectionEngine.hpp"

#include <algorithm>
#include <cstring>

#include <ngtcp2/ngtcp2_crypto_gnutls.h>
#include <asio/error.hpp>
#include <asio/post.hpp>

#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"
#include "core/SecureRandom.hpp"
#include "platform/linux/quic/QuicEndpoint.hpp"
#include "platform/linux/quic/QuicHandles.hpp"

namespace quillbridge {

namespace {

const Logger logger{"QuicTransport"};
// A peer decides how often these happen.
LogRateLimiter refusedCertificateLog{logger, "Refused certificates"};
LogRateLimiter connectionErrorLog{logger, "QUIC connection errors"};

// TLS 1.3 only, without the middlebox compatibility mode that QUIC forbids.
constexpr const char* tlsPriorities =
    "NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:+CHACHA20-POLY1305:-GROUP-ALL:"
    "+GROUP-SECP256R1:+GROUP-X25519:+GROUP-SECP384R1:%DISABLE_TLS13_COMPAT_MODE";

// Flow-control windows: they start here and grow with the measured rate up to the maxima.
constexpr std::uint64_t initialStreamWindow = 1024 * 1024;
constexpr std::uint64_t initialConnectionWindow = 4 * 1024 * 1024;
constexpr std::uint64_t maximumStreamWindow = 16 * 1024 * 1024;
constexpr std::uint64_t maximumConnectionWindow = 24 * 1024 * 1024;
constexpr std::uint64_t concurrentStreamLimit = 100;

// Outgoing datagrams that could not leave within this time, or beyond this many, are dropped.
constexpr ngtcp2_duration datagramQueueDeadline = 50 * NGTCP2_MILLISECONDS;
constexpr std::size_t datagramQueueLimit = 64;
constexpr std::size_t receivedDatagramLimit = 256;

constexpr std::size_t maximumPacketsPerWrite = 64;
constexpr std::size_t maximumVectorsPerWrite = 16;
constexpr std::size_t closePacketResendLimit = 16;

Bytes toBytes(const ngtcp2_cid& cid) {
    return Bytes(cid.data, cid.data + cid.datalen);
}

std::exception_ptr errorOf(QuicError error) {
    return std::make_exception_ptr(std::system_error(error));
}

auto errorsOf(QuicError error) {
    return [error] { return errorOf(error); };
}

auto abortErrorsOf(QuicError error, std::uint64_t applicationErrorCode) {
    return [error, applicationErrorCode] {
        return std::make_exception_ptr(QuicStreamAbortedError(error, applicationErrorCode));
    };
}

std::size_t varintLength(std::uint64_t value) {
    return value < 64 ? 1 : value < 16384 ? 2 : value < 1073741824 ? 4 : 8;
}

void logCallbackFailure(const char* what) noexcept {
    try {
        logger.error("A QUIC callback failed: ", what);
    } catch (...) {
    }
}

// Nothing may be thrown through ngtcp2 or GnuTLS: they call back from C. A callback that throws (an
// allocation that failed, a validator that threw) fails its connection instead, with `failure`.
template <auto Callback, auto failure>
struct CallbackGuard;

template <typename Result, typename... Arguments, Result (*Callback)(Arguments...), auto failure>
struct CallbackGuard<Callback, failure> {
    static Result call(Arguments... arguments) noexcept {
        try {
            return Callback(arguments...);
        } catch (const std::exception& error) {
            logCallbackFailure(error.what());
        } catch (...) {
            logCallbackFailure("unknown exception");
        }
        return static_cast<Result>(failure);
    }
};

template <auto Callback>
constexpr auto guardedQuicCallback = &CallbackGuard<Callback, NGTCP2_ERR_CALLBACK_FAILURE>::call;

}  // namespace

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

// --- TLS hooks ---------------------------------------------------------------------------------------------

ngtcp2_conn* QuicConnectionEngine::connectionFromReference(ngtcp2_crypto_conn_ref* reference) {
    return static_cast<QuicConnectionEngine*>(reference->user_data)->connection_;
}

int QuicConnectionEngine::checkClientHello(gnutls_session_t session, unsigned int, unsigned, unsigned int,
                                           const gnutls_datum_t*) {
    gnutls_datum_t selected;
    if (gnutls_alpn_get_selected_protocol(session, &selected) != GNUTLS_E_SUCCESS) {
        return GNUTLS_E_NO_APPLICATION_PROTOCOL;
    }
    return 0;
}

int QuicConnectionEngine::verifyPeerCertificate(gnutls_session_t session) {
    auto* reference = static_cast<ngtcp2_crypto_conn_ref*>(gnutls_session_get_ptr(session));
    if (reference == nullptr) {
        return GNUTLS_E_CERTIFICATE_ERROR;
    }
    auto* self = static_cast<QuicConnectionEngine*>(reference->user_data);
    return self->acceptPeerCertificate(session) ? 0 : GNUTLS_E_CERTIFICATE_ERROR;
}

bool QuicConnectionEngine::acceptPeerCertificate(gnutls_session_t session) {
    unsigned int count = 0;
    const gnutls_datum_t* chain = gnutls_certificate_get_peers(session, &count);
    if (chain == nullptr || count == 0 || chain[0].size == 0) {
        refusedCertificateLog.debug("Refused a handshake without a peer certificate");
        return false;
    }
    Bytes leaf(chain[0].data, chain[0].data + chain[0].size);
    if (configuration_.certificateValidator && !configuration_.certificateValidator(leaf)) {
        refusedCertificateLog.debug("The certificate validator refused a handshake");
        return false;
    }
    std::lock_guard lock(snapshotMutex_);
    peerCertificate_ = std::move(leaf);
    return true;
}

// --- ngtcp2 callbacks --------------------------------------------------------------------------------------

int QuicConnectionEngine::onHandshakeCompleted(ngtcp2_conn*, void* userData) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    if (self->configuration_.isServer) {
        self->phase_ = Phase::ready;
        self->handshakeCompletedPending_ = true;
    }
    return 0;
}

int QuicConnectionEngine::onHandshakeConfirmed(ngtcp2_conn*, void* userData) {
    // A client knows the server accepted its certificate only once the handshake is confirmed.
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    self->phase_ = Phase::ready;
    self->handshakeCompletedPending_ = true;
    return 0;
}

int QuicConnectionEngine::onReceiveStreamData(ngtcp2_conn*, std::uint32_t flags, std::int64_t streamID,
                                              std::uint64_t, const std::uint8_t* data, std::size_t length,
                                              void* userData, void*) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    auto stream = self->streamFor(streamID, true);
    if (!stream) {
        return 0;
    }
    if (stream->readShutDown) {
        // Nobody reads it: give the credit back at once.
        if (length > 0) {
            ngtcp2_conn_extend_max_offset(self->connection_, length);
        }
        return 0;
    }
    if (length > 0) {
        stream->receivedChunks.emplace_back(data, data + length);
        stream->bufferedBytes += length;
    }
    if (flags & NGTCP2_STREAM_DATA_FLAG_FIN) {
        stream->finReceived = true;
    }
    self->serviceReceives(*stream);
    self->returnStreamCredit(*stream);
    return 0;
}

int QuicConnectionEngine::onAcknowledgedStreamData(ngtcp2_conn*, std::int64_t streamID, std::uint64_t offset,
                                                   std::uint64_t length, void* userData, void*) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    auto found = self->streams_.find(streamID);
    if (found == self->streams_.end()) {
        return 0;
    }
    auto& stream = *found->second;
    stream.acknowledgedOffset = std::max(stream.acknowledgedOffset, offset + length);
    // Only chunks that were written whole and acknowledged whole can go.
    std::uint64_t released = 0;
    while (stream.firstUnwrittenChunk > 0 &&
           stream.sendQueue.front().endOffset <= stream.acknowledgedOffset) {
        released += stream.sendQueue.front().data.size();
        stream.sendQueue.pop_front();
        --stream.firstUnwrittenChunk;
    }
    self->releaseQueuedStreamBytes(released);
    return 0;
}

int QuicConnectionEngine::onStreamOpen(ngtcp2_conn*, std::int64_t streamID, void* userData) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    self->streamFor(streamID, true);
    return 0;
}

int QuicConnectionEngine::onStreamClose(ngtcp2_conn*, std::uint32_t flags, std::int64_t streamID,
                                        std::uint64_t code, void* userData, void*) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    auto found = self->streams_.find(streamID);
    if (found != self->streams_.end()) {
        auto stream = found->second;
        self->streams_.erase(found);
        stream->closed = true;
        if (stream->stoppedByPeer && (flags & NGTCP2_STREAM_CLOSE_FLAG_APP_ERROR_CODE_SET) &&
            !stream->peerStopCode) {
            stream->peerStopCode = code;
        }
        if (stream->stoppedByPeer) {
            self->failUnwrittenSends(
                *stream, abortErrorsOf(QuicError::streamStopped, stream->peerStopCode.value_or(0)));
        } else {
            self->failUnwrittenSends(*stream, errorsOf(QuicError::streamClosed));
        }
        // The QUIC stack no longer refers to the bytes.
        self->releaseQueuedStreamBytes(queuedBytes(*stream));
        stream->sendQueue.clear();
        stream->firstUnwrittenChunk = 0;
        if (!stream->finReceived && !stream->resetByPeerCode && stream->canReceive()) {
            self->failReceives(*stream, errorsOf(QuicError::streamClosed));
        }
        self->returnStreamCredit(*stream);
    } else if (!ngtcp2_conn_is_local_stream(self->connection_, streamID)) {
        if (ngtcp2_is_bidi_stream(streamID)) {
            ngtcp2_conn_extend_max_streams_bidi(self->connection_, 1);
        } else {
            ngtcp2_conn_extend_max_streams_uni(self->connection_, 1);
        }
    }
    return 0;
}

int QuicConnectionEngine::onStreamReset(ngtcp2_conn*, std::int64_t streamID, std::uint64_t,
                                        std::uint64_t code, void* userData, void*) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    auto stream = self->streamFor(streamID, true);
    if (!stream) {
        return 0;
    }
    stream->resetByPeerCode = code;
    // Data that was waiting is discarded; its connection credit comes back.
    if (stream->bufferedBytes > stream->creditedBytes) {
        ngtcp2_conn_extend_max_offset(self->connection_, stream->bufferedBytes - stream->creditedBytes);
    }
    stream->receivedChunks.clear();
    stream->receivedHeadOffset = 0;
    stream->bufferedBytes = 0;
    stream->creditedBytes = 0;
    self->failReceives(*stream, abortErrorsOf(QuicError::streamReset, code));
    self->returnStreamCredit(*stream);
    return 0;
}

int QuicConnectionEngine::onExtendMaxLocalStreams(ngtcp2_conn*, std::uint64_t, void* userData) {
    static_cast<QuicConnectionEngine*>(userData)->serviceOpens();
    return 0;
}

int QuicConnectionEngine::onExtendMaxStreamData(ngtcp2_conn*, std::int64_t streamID, std::uint64_t,
                                                void* userData, void*) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    auto found = self->streams_.find(streamID);
    if (found != self->streams_.end() && found->second->hasUnwrittenData()) {
        self->addToSendList(found->second);
    }
    return 0;
}

void QuicConnectionEngine::onRandom(std::uint8_t* destination, std::size_t length, const ngtcp2_rand_ctx*) {
    fillSecureRandom(std::span(destination, length));
}

int QuicConnectionEngine::onNewConnectionID(ngtcp2_conn*, ngtcp2_cid* cid, std::uint8_t* token,
                                            std::size_t length, void* userData) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    if (self->endpoint_ == nullptr) {
        return NGTCP2_ERR_CALLBACK_FAILURE;
    }
    cid->datalen = length;
    fillSecureRandom(std::span(cid->data, length));
    const ByteView id(cid->data, length);
    self->endpoint_->statelessResetToken(id, token);
    self->issuedConnectionIDs_.emplace_back(id.begin(), id.end());
    self->endpoint_->addConnectionID(id, self->shared_from_this());
    return 0;
}

int QuicConnectionEngine::onRemoveConnectionID(ngtcp2_conn*, const ngtcp2_cid* cid, void* userData) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    const Bytes id = toBytes(*cid);
    std::erase(self->issuedConnectionIDs_, id);
    if (self->endpoint_ != nullptr) {
        self->endpoint_->removeConnectionID(id);
    }
    return 0;
}

int QuicConnectionEngine::onReceiveDatagram(ngtcp2_conn*, std::uint32_t, const std::uint8_t* data,
                                            std::size_t length, void* userData) {
    auto* self = static_cast<QuicConnectionEngine*>(userData);
    {
        std::lock_guard lock(self->snapshotMutex_);
        ++self->statistics_.datagramsReceived;
    }
    Bytes datagram(data, data + length);
    if (!self->datagramWaiters_.empty()) {
        auto waiter = std::move(self->datagramWaiters_.front());
        self->datagramWaiters_.pop_front();
        waiter.completion.succeed(std::move(datagram));
        return 0;
    }
    if (self->receivedDatagrams_.size() >= receivedDatagramLimit) {
        self->receivedDatagrams_.pop_front();
        std::lock_guard lock(self->snapshotMutex_);
        ++self->statistics_.datagramsDroppedOnReceive;
    }
    self->receivedDatagrams_.push_back(std::move(datagram));
    return 0;
}

int QuicConnectionEngine::onLostDatagram(ngtcp2_conn*, std::uint64_t, void*) {
    return 0;
}

int QuicConnectionEngine::onStatelessReset(ngtcp2_conn*, const ngtcp2_pkt_stateless_reset*, void* userData) {
    static_cast<QuicConnectionEngine*>(userData)->statelessResetReceived_ = true;
    return 0;
}

// --- Streams ---------------------------------------------------------------------------------------------

std::shared_ptr<QuicStreamState> QuicConnectionEngine::streamFor(std::int64_t streamID, bool createRemote) {
    if (auto found = streams_.find(streamID); found != streams_.end()) {
        return found->second;
    }
    if (!createRemote || connection_ == nullptr || ngtcp2_conn_is_local_stream(connection_, streamID)) {
        return nullptr;
    }
    return openRemoteStreamsUpTo(streamID);
}

std::shared_ptr<QuicStreamState> QuicConnectionEngine::openRemoteStreamsUpTo(std::int64_t streamID) {
    // Opening stream N opens every lower stream of its kind: they are handed out in ID order, so the first
    // stream the peer opened is always accepted first even when its packets arrive late.
    const bool bidirectional = ngtcp2_is_bidi_stream(streamID) != 0;
    auto& highest = bidirectional ? highestRemoteBidirectionalID_ : highestRemoteUnidirectionalID_;
    if (streamID <= highest) {
        return nullptr;  // opened before and already closed
    }
    const std::int64_t first = highest < 0 ? (streamID & 3) : highest + 4;
    std::shared_ptr<QuicStreamState> result;
    for (std::int64_t id = first; id <= streamID; id += 4) {
        auto stream = std::make_shared<QuicStreamState>(id, bidirectional, false);
        streams_.emplace(id, stream);
        if (phase_ == Phase::handshaking || phase_ == Phase::ready) {
            inboundStreams_.push_back(stream);
        }
        result = stream;
    }
    highest = streamID;
    deliverInboundStreams();
    return result;
}

std::shared_ptr<QuicStream> QuicConnectionEngine::makeStreamHandle(
    const std::shared_ptr<QuicStreamState>& stream) {
    auto runtime = runtime_.lock();
    if (!runtime) {
        return nullptr;
    }
    return std::make_shared<QuicStreamHandle>(std::move(runtime), shared_from_this(), stream);
}

void QuicConnectionEngine::deliverInboundStreams() {
    // Streams go out only once the connection was handed to its user.
    if (!handedOut_) {
        return;
    }
    while (!acceptWaiters_.empty() && !inboundStreams_.empty()) {
        auto stream = std::move(inboundStreams_.front());
        inboundStreams_.pop_front();
        auto waiter = std::move(acceptWaiters_.front());
        acceptWaiters_.pop_front();
        stream->handedOut = true;
        waiter.completion.succeed(makeStreamHandle(stream));
        returnStreamCredit(*stream);
    }
}

void QuicConnectionEngine::returnStreamCredit(QuicStreamState& stream) {
    if (stream.isLocal || stream.streamCreditReturned || !stream.handedOut || connection_ == nullptr) {
        return;
    }
    // The QUIC stack reports the close of the peer's unidirectional streams only in later versions: such a
    // stream is over once all of it arrived or the peer reset it.
    const bool finished =
        stream.closed || (!stream.isBidirectional && (stream.finReceived || stream.resetByPeerCode));
    if (!finished) {
        return;
    }
    stream.streamCreditReturned = true;
    if (stream.isBidirectional) {
        ngtcp2_conn_extend_max_streams_bidi(connection_, 1);
    } else {
        ngtcp2_conn_extend_max_streams_uni(connection_, 1);
    }
    scheduleWrite();
}

void QuicConnectionEngine::acceptStream(QuicCompletion<std::shared_ptr<QuicStream>> completion) {
    if (phase_ != Phase::ready && inboundStreams_.empty()) {
        if (stateSnapshot_.kind == QuicConnectionState::Kind::cancelled) {
            completion.succeed(nullptr);
        } else {
            completion.fail(terminalException());
        }
        return;
    }
    const auto id = nextWaiterID_++;
    acceptWaiters_.push_back({id, std::move(completion)});
    acceptWaiters_.back().completion.setCanceller([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            self->cancelWaiter(self->acceptWaiters_, id);
        }
    });
    deliverInboundStreams();
}

void QuicConnectionEngine::openStream(QuicStreamDirectionality directionality,
                                      QuicCompletion<std::shared_ptr<QuicStream>> completion) {
    if (phase_ != Phase::ready) {
        completion.fail(terminalException());
        return;
    }
    const auto id = nextWaiterID_++;
    pendingOpens_.push_back({id, directionality, std::move(completion)});
    pendingOpens_.back().completion.setCanceller([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            auto found = std::find_if(self->pendingOpens_.begin(), self->pendingOpens_.end(),
                                      [id](const PendingOpen& open) { return open.id == id; });
            if (found != self->pendingOpens_.end()) {
                auto open = std::move(*found);
                self->pendingOpens_.erase(found);
                open.completion.fail(make_error_code(asio::error::operation_aborted));
            }
        }
    });
    serviceOpens();
}

void QuicConnectionEngine::serviceOpens() {
    while (!pendingOpens_.empty() && connection_ != nullptr && phase_ == Phase::ready) {
        auto& open = pendingOpens_.front();
        const bool bidirectional = open.directionality == QuicStreamDirectionality::bidirectional;
        std::int64_t streamID = -1;
        const int rv = bidirectional ? ngtcp2_conn_open_bidi_stream(connection_, &streamID, nullptr)
                                     : ngtcp2_conn_open_uni_stream(connection_, &streamID, nullptr);
        if (rv == NGTCP2_ERR_STREAM_ID_BLOCKED) {
            return;  // the peer allows more later (extend_max_local_streams)
        }
        auto completion = std::move(open.completion);
        pendingOpens_.pop_front();
        if (rv != 0) {
            completion.fail(errorOf(QuicError::protocolViolation));
            continue;
        }
        auto stream = std::make_shared<QuicStreamState>(streamID, bidirectional, true);
        streams_.emplace(streamID, stream);
        completion.succeed(makeStreamHandle(stream));
    }
}

void QuicConnectionEngine::receive(const std::shared_ptr<QuicStreamState>& stream, std::size_t minimumLength,
                                   std::size_t maximumLength, QuicCompletion<QuicStreamChunk> completion) {
    if (!stream->canReceive() || stream->readShutDown) {
        completion.fail(errorOf(QuicError::streamClosed));
        return;
    }
    if (stream->resetByPeerCode) {
        completion.fail(std::make_exception_ptr(
            QuicStreamAbortedError(QuicError::streamReset, *stream->resetByPeerCode)));
        return;
    }
    auto pending = std::make_unique<QuicStreamState::PendingReceive>();
    pending->minimumLength = std::max<std::size_t>(minimumLength, 1);
    pending->maximumLength = std::max(maximumLength, pending->minimumLength);
    pending->completion = std::move(completion);
    auto* raw = pending.get();
    stream->pendingReceives.push_back(std::move(pending));
    raw->completion.setCanceller([weak = weak_from_this(), weakStream = std::weak_ptr(stream), raw] {
        auto self = weak.lock();
        auto stream = weakStream.lock();
        if (!self || !stream) {
            return;
        }
        auto found = std::find_if(stream->pendingReceives.begin(), stream->pendingReceives.end(),
                                  [raw](const auto& pending) { return pending.get() == raw; });
        if (found == stream->pendingReceives.end()) {
            return;
        }
        auto cancelled = std::move(*found);
        stream->pendingReceives.erase(found);
        // Bytes it had taken go back to the front of the stream, in order.
        if (!cancelled->data.empty()) {
            if (stream->receivedHeadOffset > 0 && !stream->receivedChunks.empty()) {
                auto& head = stream->receivedChunks.front();
                head.erase(head.begin(),
                           head.begin() + static_cast<std::ptrdiff_t>(stream->receivedHeadOffset));
                stream->receivedHeadOffset = 0;
            }
            // Their credit was returned when they were taken.
            stream->bufferedBytes += cancelled->data.size();
            stream->creditedBytes += cancelled->data.size();
            stream->receivedChunks.push_front(std::move(cancelled->data));
        }
        cancelled->completion.fail(make_error_code(asio::error::operation_aborted));
        // A receive queued behind the cancelled one may be served by what is there now.
        self->serviceReceives(*stream);
    });
    serviceReceives(*stream);
    if (phase_ != Phase::ready && phase_ != Phase::handshaking && !stream->pendingReceives.empty()) {
        failReceives(*stream, [this] { return terminalException(); });
    }
}

void QuicConnectionEngine::serviceReceives(QuicStreamState& stream) {
    while (!stream.pendingReceives.empty()) {
        auto& pending = *stream.pendingReceives.front();
        std::size_t taken = 0;
        while (pending.data.size() < pending.maximumLength && !stream.receivedChunks.empty()) {
            auto& head = stream.receivedChunks.front();
            const std::size_t available = head.size() - stream.receivedHeadOffset;
            const std::size_t count = std::min(available, pending.maximumLength - pending.data.size());
            if (pending.data.empty() && stream.receivedHeadOffset == 0 && count == head.size()) {
                // The whole chunk, without a copy.
                pending.data = std::move(head);
                stream.receivedChunks.pop_front();
                taken += count;
                continue;
            } else {
                const auto begin = head.begin() + static_cast<std::ptrdiff_t>(stream.receivedHeadOffset);
                pending.data.insert(pending.data.end(), begin, begin + static_cast<std::ptrdiff_t>(count));
            }
            stream.receivedHeadOffset += count;
            taken += count;
            if (stream.receivedHeadOffset == head.size()) {
                stream.receivedChunks.pop_front();
                stream.receivedHeadOffset = 0;
            }
        }
        stream.bufferedBytes -= taken;
        const std::size_t alreadyCredited = std::min(taken, stream.creditedBytes);
        stream.creditedBytes -= alreadyCredited;
        returnCredit(stream, taken - alreadyCredited);
        const bool atEnd = stream.finReceived && stream.bufferedBytes == 0;
        if (pending.data.size() < pending.minimumLength && !atEnd) {
            return;
        }
        auto done = std::move(stream.pendingReceives.front());
        stream.pendingReceives.pop_front();
        if (atEnd) {
            stream.finDelivered = true;
        }
        done->completion.succeed(QuicStreamChunk{std::move(done->data), atEnd});
    }
}

void QuicConnectionEngine::returnCredit(QuicStreamState& stream, std::size_t length) {
    if (length == 0 || connection_ == nullptr) {
        return;
    }
    ngtcp2_conn_extend_max_stream_offset(connection_, stream.id, length);
    ngtcp2_conn_extend_max_offset(connection_, length);
    scheduleWrite();
}

void QuicConnectionEngine::failReceives(QuicStreamState& stream, const ErrorFactory& makeError) {
    auto pending = std::move(stream.pendingReceives);
    stream.pendingReceives.clear();
    for (auto& receive : pending) {
        receive->completion.fail(makeError());
    }
}

void QuicConnectionEngine::failUnwrittenSends(QuicStreamState& stream, const ErrorFactory& makeError) {
    for (std::size_t index = stream.firstUnwrittenChunk; index < stream.sendQueue.size(); ++index) {
        if (stream.sendQueue[index].completion) {
            stream.sendQueue[index].completion.fail(makeError());
        }
    }
}

void QuicConnectionEngine::completeWrittenSends(QuicStreamState& stream) {
    while (stream.firstUnwrittenChunk < stream.sendQueue.size()) {
        auto& chunk = stream.sendQueue[stream.firstUnwrittenChunk];
        if (chunk.endOffset > stream.writtenOffset || (chunk.endsStream && !stream.finWritten)) {
            return;
        }
        if (chunk.completion) {
            chunk.completion.succeed({});
        }
        ++stream.firstUnwrittenChunk;
    }
}

void QuicConnectionEngine::send(const std::shared_ptr<QuicStreamState>& stream, Bytes data, bool endOfStream,
                                QuicCompletion<QuicUnit> completion) {
    if (!stream->canSend() || stream->writeShutDown || stream->finQueued || stream->closed) {
        completion.fail(errorOf(QuicError::streamClosed));
        return;
    }
    if (stream->stoppedByPeer) {
        completion.fail(std::make_exception_ptr(
            QuicStreamAbortedError(QuicError::streamStopped, stream->peerStopCode.value_or(0))));
        return;
    }
    if (phase_ != Phase::ready) {
        completion.fail(terminalException());
        return;
    }
    if (data.empty() && !endOfStream) {
        completion.succeed({});
        return;
    }
    stream->queuedEndOffset += data.size();
    stream->finQueued = endOfStream;
    noteQueuedStreamBytes(data.size());
    stream->sendQueue.push_back(
        {std::move(data), stream->queuedEndOffset, endOfStream, std::move(completion)});
    // A cancelled send still goes out (its bytes may be partly on the wire); only the wait ends.
    const auto endOffset = stream->queuedEndOffset;
    stream->sendQueue.back().completion.setCanceller(
        [weakStream = std::weak_ptr(stream), endOffset, endOfStream] {
            auto stream = weakStream.lock();
            if (!stream) {
                return;
            }
            for (std::size_t index = stream->firstUnwrittenChunk; index < stream->sendQueue.size(); ++index) {
                auto& chunk = stream->sendQueue[index];
                if (chunk.endOffset == endOffset && chunk.endsStream == endOfStream && chunk.completion) {
                    chunk.completion.fail(make_error_code(asio::error::operation_aborted));
                    return;
                }
            }
        });
    addToSendList(stream);
    scheduleWrite();
}

std::uint64_t QuicConnectionEngine::queuedBytes(const QuicStreamState& stream) {
    std::uint64_t total = 0;
    for (const auto& chunk : stream.sendQueue) {
        total += chunk.data.size();
    }
    return total;
}

void QuicConnectionEngine::noteQueuedStreamBytes(std::uint64_t count) {
    std::lock_guard lock(snapshotMutex_);
    statistics_.streamBytesAwaitingAcknowledgement += count;
    statistics_.peakStreamBytesAwaitingAcknowledgement = std::max(
        statistics_.peakStreamBytesAwaitingAcknowledgement, statistics_.streamBytesAwaitingAcknowledgement);
}

void QuicConnectionEngine::releaseQueuedStreamBytes(std::uint64_t count) {
    if (count == 0) {
        return;
    }
    std::lock_guard lock(snapshotMutex_);
    statistics_.streamBytesAwaitingAcknowledgement -=
        std::min(count, statistics_.streamBytesAwaitingAcknowledgement);
}

void QuicConnectionEngine::addToSendList(const std::shared_ptr<QuicStreamState>& stream) {
    if (!stream->inSendList) {
        stream->inSendList = true;
        sendList_.push_back(stream);
    }
}

void QuicConnectionEngine::resetStream(const std::shared_ptr<QuicStreamState>& stream, std::uint64_t code) {
    if (!stream->canSend() || stream->writeShutDown || stream->closed || connection_ == nullptr) {
        return;
    }
    stream->writeShutDown = true;
    ngtcp2_conn_shutdown_stream_write(connection_, stream->id, code);
    failUnwrittenSends(*stream, errorsOf(QuicError::streamClosed));
    scheduleWrite();
}

void QuicConnectionEngine::stopSending(const std::shared_ptr<QuicStreamState>& stream, std::uint64_t code) {
    if (!stream->canReceive() || stream->readShutDown) {
        return;
    }
    stream->readShutDown = true;
    if (connection_ != nullptr) {
        if (!stream->closed && !stream->finReceived && !stream->resetByPeerCode) {
            ngtcp2_conn_shutdown_stream_read(connection_, stream->id, code);
        }
        // What waited unread will never be read: its connection credit comes back.
        if (stream->bufferedBytes > stream->creditedBytes) {
            ngtcp2_conn_extend_max_offset(connection_, stream->bufferedBytes - stream->creditedBytes);
        }
        scheduleWrite();
    }
    stream->receivedChunks.clear();
    stream->receivedHeadOffset = 0;
    stream->bufferedBytes = 0;
    stream->creditedBytes = 0;
    failReceives(*stream, errorsOf(QuicError::streamClosed));
}

void QuicConnectionEngine::releaseStream(const std::shared_ptr<QuicStreamState>& stream) {
    stream->handleReleased = true;
    if (stream->canReceive() && !stream->finDelivered) {
        stopSending(stream, stream->applicationErrorCode);
    }
    if (stream->canSend() && !stream->finQueued) {
        resetStream(stream, stream->applicationErrorCode);
    }
}

// --- Datagrams -------------------------------------------------------------------------------------------

std::size_t QuicConnectionEngine::computeMaximumDatagramSize() const {
    if (connection_ == nullptr) {
        return 0;
    }
    const auto* remote = ngtcp2_conn_get_remote_transport_params(connection_);
    if (remote == nullptr || remote->max_datagram_frame_size == 0) {
        return 0;
    }
    // A DATAGRAM frame: type, length, payload.
    auto payloadFor = [](std::uint64_t frameLimit) -> std::size_t {
        if (frameLimit < 3) {
            return 0;
        }
        std::uint64_t payload = frameLimit - 1 - 2;
        while (payload > 0 && 1 + varintLength(payload) + payload > frameLimit) {
            --payload;
        }
        return static_cast<std::size_t>(payload);
    };
    const std::size_t peerLimit = payloadFor(remote->max_datagram_frame_size);
    // A short-header packet: flags, destination connection ID, packet number (up to 4), AEAD tag.
    const std::size_t pathPayload = ngtcp2_conn_get_path_max_tx_udp_payload_size(connection_);
    const std::size_t overhead = 1 + ngtcp2_conn_get_dcid(connection_)->datalen + 4 + 16;
    const std::size_t pathLimit = pathPayload > overhead ? payloadFor(pathPayload - overhead) : 0;
    return std::min(peerLimit, pathLimit);
}

void QuicConnectionEngine::sendDatagram(Bytes datagram, QuicCompletion<QuicUnit> completion) {
    if (phase_ != Phase::ready) {
        completion.fail(terminalException());
        return;
    }
    if (datagram.size() > computeMaximumDatagramSize()) {
        std::lock_guard lock(snapshotMutex_);
        ++statistics_.datagramsDroppedOversized;
    } else {
        if (outgoingDatagrams_.size() >= datagramQueueLimit) {
            outgoingDatagrams_.pop_front();
            std::lock_guard lock(snapshotMutex_);
            ++statistics_.datagramsDroppedUnsent;
        }
        outgoingDatagrams_.push_back({std::move(datagram), now()});
        scheduleWrite();
    }
    completion.succeed({});
}

void QuicConnectionEngine::receiveDatagram(QuicCompletion<Bytes> completion) {
    if (!receivedDatagrams_.empty()) {
        auto datagram = std::move(receivedDatagrams_.front());
        receivedDatagrams_.pop_front();
        completion.succeed(std::move(datagram));
        return;
    }
    if (phase_ != Phase::ready) {
        completion.fail(terminalException());
        return;
    }
    const auto id = nextWaiterID_++;
    datagramWaiters_.push_back({id, std::move(completion)});
    datagramWaiters_.back().completion.setCanceller([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            self->cancelWaiter(self->datagramWaiters_, id);
        }
    });
}

void QuicConnectionEngine::dropStaleDatagrams(ngtcp2_tstamp timestamp) {
    std::size_t dropped = 0;
    while (!outgoingDatagrams_.empty() &&
           outgoingDatagrams_.front().queuedAt + datagramQueueDeadline < timestamp) {
        outgoingDatagrams_.pop_front();
        ++dropped;
    }
    if (dropped > 0) {
        std::lock_guard lock(snapshotMutex_);
        statistics_.datagramsDroppedUnsent += dropped;
    }
}

template <typename T>
void QuicConnectionEngine::cancelWaiter(std::deque<Waiter<T>>& waiters, std::uint64_t id) {
    auto found = std::find_if(waiters.begin(), waiters.end(),
                              [id](const Waiter<T>& waiter) { return waiter.id == id; });
    if (found != waiters.end()) {
        auto waiter = std::move(*found);
        waiters.erase(found);
        waiter.completion.fail(make_error_code(asio::error::operation_aborted));
    }
}

bool QuicConnectionEngine::matchesStatelessResetToken(const std::uint8_t* token) const {
    if (connection_ == nullptr) {
        return false;
    }
    std::vector<ngtcp2_cid_token> tokens(ngtcp2_conn_get_num_active_dcid(connection_));
    tokens.resize(ngtcp2_conn_get_active_dcid(connection_, tokens.data()));
    return std::any_of(tokens.begin(), tokens.end(), [token](const ngtcp2_cid_token& candidate) {
        return candidate.token_present &&
               std::memcmp(candidate.token, token, NGTCP2_STATELESS_RESET_TOKENLEN) == 0;
    });
}

// --- Packets ---------------------------------------------------------------------------------------------

void QuicConnectionEngine::handlePacket(const ngtcp2_path& path, const std::uint8_t* data,
                                        std::size_t length) {
    auto self = shared_from_this();
    if (phase_ == Phase::closing) {
        // Answer what still arrives with the close, a bounded number of times.
        if (!closePacket_.empty() && closePacketsResent_ < closePacketResendLimit && endpoint_ != nullptr) {
            ++closePacketsResent_;
            endpoint_->sendPackets(path.remote, closePacket_.data(), closePacket_.size(),
                                   closePacket_.size());
        }
        return;
    }
    if (connection_ == nullptr || phase_ == Phase::draining || phase_ == Phase::finished) {
        return;
    }
    ngtcp2_pkt_info info{};
    const int rv = ngtcp2_conn_read_pkt(connection_, &path, &info, data, length, now());
    if (rv != 0) {
        handleLibraryError(rv);
        return;
    }
    if (phase_ == Phase::ready && !handshakeCompletedPending_) {
        // An acknowledged probe of path MTU discovery grows the datagrams that fit.
        const std::size_t maximumDatagram = computeMaximumDatagramSize();
        std::lock_guard lock(snapshotMutex_);
        maximumDatagramSizeSnapshot_ = maximumDatagram;
    }
    if (handshakeCompletedPending_) {
        handshakeCompletedPending_ = false;
        publishStatistics();
        notifyState();
        if (configuration_.isServer) {
            if (endpoint_ != nullptr) {
                endpoint_->connectionReady(self);
            }
        } else if (connectCompletion_) {
            handedOut_ = true;
            connectCompletion_.succeed(makeHandle());
        }
    }
}

void QuicConnectionEngine::scheduleWrite() {
    if (writeScheduled_ || inWriteLoop_ || connection_ == nullptr) {
        return;
    }
    auto runtime = runtime_.lock();
    if (!runtime) {
        return;
    }
    writeScheduled_ = true;
    asio::post(runtime->context(), [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->writeScheduled_ = false;
            self->writePackets();
        }
    });
}

void QuicConnectionEngine::writePackets() {
    if (connection_ == nullptr || endpoint_ == nullptr || inWriteLoop_ ||
        (phase_ != Phase::handshaking && phase_ != Phase::ready)) {
        return;
    }
    if (endpoint_->isSendBlocked()) {
        endpoint_->writeWhenUnblocked(shared_from_this());
        return;
    }
    auto self = shared_from_this();
    inWriteLoop_ = true;
    writeLoop();
    inWriteLoop_ = false;
    if (phase_ == Phase::handshaking || phase_ == Phase::ready) {
        updateTimer();
    }
}

bool QuicConnectionEngine::flushBatch(std::size_t& batchLength, std::size_t segmentSize,
                                      std::size_t& packetCount) {
    if (batchLength > 0 && endpoint_ != nullptr) {
        endpoint_->sendPackets(batchPath_.path.remote, sendBuffer_.data(), batchLength, segmentSize);
    }
    batchLength = 0;
    packetCount = 0;
    return endpoint_ != nullptr && !endpoint_->isSendBlocked();
}

void QuicConnectionEngine::writeLoop() {
    const ngtcp2_tstamp timestamp = now();
    // Packets are as large as the path allows so far, but each write gets room for the largest packet this
    // side may ever send: path MTU discovery's probes are larger than the path's current size, and a probe
    // that does not fit is never sent, so the path would never grow.
    const std::size_t pathPayload = ngtcp2_conn_get_path_max_tx_udp_payload_size(connection_);
    const std::size_t maximumPayload =
        std::max(ngtcp2_conn_get_max_tx_udp_payload_size(connection_), pathPayload);
    const std::size_t quantum = ngtcp2_conn_get_send_quantum(connection_);
    const std::size_t maximumPackets =
        std::clamp<std::size_t>(quantum / pathPayload, 1, maximumPacketsPerWrite);
    if (sendBuffer_.size() < maximumPacketsPerWrite * maximumPayload) {
        sendBuffer_.resize(maximumPacketsPerWrite * maximumPayload);
    }
    dropStaleDatagrams(timestamp);
    ++writeRound_;

    ngtcp2_path_storage pathStorage;
    ngtcp2_path_storage_zero(&pathStorage);
    ngtcp2_pkt_info info{};
    std::size_t batchLength = 0;
    std::size_t segmentSize = 0;
    std::size_t packetCount = 0;
    std::size_t totalPackets = 0;
    // Datagrams are offered once per packet at most, ahead of stream data.
    bool datagramTriedInPacket = false;

    for (;;) {
        std::uint8_t* destination = sendBuffer_.data() + batchLength;
        ngtcp2_ssize written = 0;
        std::shared_ptr<QuicStreamState> stream;
        ngtcp2_ssize streamBytes = -1;
        bool offeredFin = false;
        std::size_t offeredBytes = 0;

        if (!outgoingDatagrams_.empty() && !datagramTriedInPacket) {
            auto& datagram = outgoingDatagrams_.front();
            ngtcp2_vec vector{datagram.data.data(), datagram.data.size()};
            int accepted = 0;
            written = ngtcp2_conn_writev_datagram(connection_, &pathStorage.path, &info, destination,
                                                  maximumPayload, &accepted, NGTCP2_WRITE_DATAGRAM_FLAG_MORE,
                                                  0, &vector, 1, timestamp);
            if (accepted) {
                outgoingDatagrams_.pop_front();
                std::lock_guard lock(snapshotMutex_);
                ++statistics_.datagramsSent;
            } else {
                datagramTriedInPacket = true;
            }
            if (written == NGTCP2_ERR_WRITE_MORE) {
                continue;
            }
            if (written == NGTCP2_ERR_INVALID_ARGUMENT || written == NGTCP2_ERR_INVALID_STATE) {
                // Too large for the peer after all, or the peer takes no datagrams: dropped, not fatal.
                outgoingDatagrams_.pop_front();
                std::lock_guard lock(snapshotMutex_);
                ++statistics_.datagramsDroppedOversized;
                continue;
            }
        } else {
            // The next stream with data that flow control lets through, round robin. A stream found blocked
            // in this round goes to the back, so that it holds up none of the others.
            for (std::size_t looked = 0, count = sendList_.size(); looked < count && !sendList_.empty();
                 ++looked) {
                auto candidate = sendList_.front();
                if (!candidate->hasUnwrittenData() || candidate->closed) {
                    candidate->inSendList = false;
                    sendList_.pop_front();
                    continue;
                }
                if (candidate->blockedRound == writeRound_) {
                    sendList_.pop_front();
                    sendList_.push_back(std::move(candidate));
                    continue;
                }
                stream = std::move(candidate);
                break;
            }
            if (stream) {
                ngtcp2_vec vectors[maximumVectorsPerWrite];
                std::size_t vectorCount = 0;
                std::uint64_t chunkStart = 0;
                for (std::size_t index = stream->firstUnwrittenChunk;
                     index < stream->sendQueue.size() && vectorCount < maximumVectorsPerWrite; ++index) {
                    auto& chunk = stream->sendQueue[index];
                    chunkStart = chunk.endOffset - chunk.data.size();
                    const std::uint64_t from = std::max(stream->writtenOffset, chunkStart);
                    if (from >= chunk.endOffset) {
                        continue;
                    }
                    vectors[vectorCount].base = chunk.data.data() + (from - chunkStart);
                    vectors[vectorCount].len = static_cast<std::size_t>(chunk.endOffset - from);
                    offeredBytes += vectors[vectorCount].len;
                    ++vectorCount;
                }
                offeredFin =
                    stream->finQueued && stream->writtenOffset + offeredBytes == stream->queuedEndOffset;
                const std::uint32_t flags =
                    NGTCP2_WRITE_STREAM_FLAG_MORE | (offeredFin ? NGTCP2_WRITE_STREAM_FLAG_FIN : 0);
                written = ngtcp2_conn_writev_stream(connection_, &pathStorage.path, &info, destination,
                                                    maximumPayload, &streamBytes, flags, stream->id, vectors,
                                                    vectorCount, timestamp);
                if (streamBytes >= 0) {
                    stream->writtenOffset += static_cast<std::uint64_t>(streamBytes);
                    if (offeredFin && static_cast<std::size_t>(streamBytes) == offeredBytes) {
                        stream->finWritten = true;
                    }
                    completeWrittenSends(*stream);
                    // Round robin: the stream goes to the back once it sent something.
                    if (sendList_.size() > 1) {
                        sendList_.push_back(sendList_.front());
                        sendList_.pop_front();
                    }
                }
                if (written == NGTCP2_ERR_WRITE_MORE) {
                    continue;
                }
                if (written == NGTCP2_ERR_STREAM_DATA_BLOCKED) {
                    stream->blockedRound = writeRound_;
                    continue;
                }
                if (written == NGTCP2_ERR_STREAM_SHUT_WR || written == NGTCP2_ERR_STREAM_NOT_FOUND) {
                    if (!stream->writeShutDown) {
                        stream->stoppedByPeer = true;
                        failUnwrittenSends(*stream, abortErrorsOf(QuicError::streamStopped,
                                                                  stream->peerStopCode.value_or(0)));
                    }
                    continue;
                }
            } else {
                written = ngtcp2_conn_writev_stream(connection_, &pathStorage.path, &info, destination,
                                                    maximumPayload, nullptr, NGTCP2_WRITE_STREAM_FLAG_NONE,
                                                    -1, nullptr, 0, timestamp);
            }
        }

        if (written < 0) {
            handleLibraryError(static_cast<int>(written));
            return;
        }
        if (written == 0) {
            break;  // congestion, pacing or nothing left
        }
        datagramTriedInPacket = false;
        const auto size = static_cast<std::size_t>(written);
        ++totalPackets;
        if (packetCount > 0 && !ngtcp2_path_eq(&pathStorage.path, &batchPath_.path)) {
            // A packet for another path (the peer's address changed, or a probe of its new one): the packets
            // before it go first, to their own address.
            std::vector<std::uint8_t> packet(destination, destination + size);
            if (!flushBatch(batchLength, segmentSize, packetCount)) {
                ngtcp2_path_copy(&batchPath_.path, &pathStorage.path);
                endpoint_->sendPackets(batchPath_.path.remote, packet.data(), packet.size(), packet.size());
                break;
            }
            std::memcpy(sendBuffer_.data(), packet.data(), size);
        }
        if (packetCount == 0) {
            ngtcp2_path_copy(&batchPath_.path, &pathStorage.path);
            segmentSize = size;
        } else if (size > segmentSize) {
            // A larger packet cannot follow in the same segmented send: send the others first.
            std::vector<std::uint8_t> packet(destination, destination + size);
            if (!flushBatch(batchLength, segmentSize, packetCount)) {
                endpoint_->sendPackets(batchPath_.path.remote, packet.data(), packet.size(), packet.size());
                break;
            }
            std::memcpy(sendBuffer_.data(), packet.data(), size);
            segmentSize = size;
        }
        batchLength += size;
        ++packetCount;
        if (size < segmentSize || totalPackets >= maximumPackets) {
            if (!flushBatch(batchLength, segmentSize, packetCount) || totalPackets >= maximumPackets) {
                break;
            }
        }
    }
    flushBatch(batchLength, segmentSize, packetCount);
    if (connection_ != nullptr) {
        ngtcp2_conn_update_pkt_tx_time(connection_, timestamp);
        // Where a close goes, should one follow.
        ngtcp2_path_copy(&path_.path, ngtcp2_conn_get_path(connection_));
    }
    if (endpoint_ != nullptr && endpoint_->isSendBlocked()) {
        endpoint_->writeWhenUnblocked(shared_from_this());
    }
}

// --- Timers and errors -----------------------------------------------------------------------------------

void QuicConnectionEngine::updateTimer() {
    if (connection_ == nullptr || !timer_) {
        return;
    }
    const ngtcp2_tstamp expiry = ngtcp2_conn_get_expiry(connection_);
    if (expiry == armedExpiry_) {
        return;
    }
    armedExpiry_ = expiry;
    if (expiry == UINT64_MAX) {
        timer_->cancel();
        return;
    }
    timer_->expires_at(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(expiry)));
    timer_->async_wait([weak = weak_from_this(), expiry](std::error_code error) {
        auto self = weak.lock();
        if (error || !self || self->armedExpiry_ != expiry) {
            return;
        }
        self->armedExpiry_ = UINT64_MAX;
        self->onTimer();
    });
}

void QuicConnectionEngine::onTimer() {
    auto self = shared_from_this();
    if (phase_ == Phase::closing || phase_ == Phase::draining) {
        finish();
        return;
    }
    if (connection_ == nullptr) {
        return;
    }
    const int rv = ngtcp2_conn_handle_expiry(connection_, now());
    if (rv != 0) {
        handleLibraryError(rv);
        return;
    }
    publishStatistics();
    writePackets();
}

std::exception_ptr QuicConnectionEngine::terminalException() const {
    std::lock_guard lock(snapshotMutex_);
    if (stateSnapshot_.error) {
        return std::make_exception_ptr(std::system_error(stateSnapshot_.error));
    }
    return errorOf(QuicError::connectionClosed);
}

void QuicConnectionEngine::handleLibraryError(int error) {
    const bool handshaking = phase_ == Phase::handshaking;
    switch (error) {
        case NGTCP2_ERR_IDLE_CLOSE:
            // Nothing is sent after an idle time-out. One that ends a handshake means the peer never
            // answered it.
            enterTerminal(
                Phase::finished, QuicConnectionState::Kind::failed,
                make_error_code(handshaking ? QuicError::handshakeTimeout : QuicError::idleTimeout));
            finish();
            return;
        case NGTCP2_ERR_HANDSHAKE_TIMEOUT:
            enterTerminal(Phase::finished, QuicConnectionState::Kind::failed,
                          make_error_code(QuicError::handshakeTimeout));
            finish();
            return;
        case NGTCP2_ERR_DROP_CONN:
            enterTerminal(
                Phase::finished, QuicConnectionState::Kind::failed,
                make_error_code(handshaking ? QuicError::handshakeFailed : QuicError::protocolViolation));
            finish();
            return;
        case NGTCP2_ERR_DRAINING: {
            ngtcp2_connection_close_error received;
            ngtcp2_conn_get_connection_close_error(connection_, &received);
            QuicError cause = QuicError::closedByPeer;
            {
                std::lock_guard lock(snapshotMutex_);
                closeInfoSnapshot_.closedByPeer = true;
                if (received.type == NGTCP2_CONNECTION_CLOSE_ERROR_CODE_TYPE_APPLICATION) {
                    closeInfoSnapshot_.applicationErrorCode = received.error_code;
                } else if (received.type == NGTCP2_CONNECTION_CLOSE_ERROR_CODE_TYPE_TRANSPORT) {
                    closeInfoSnapshot_.transportErrorCode = received.error_code;
                }
            }
            if (statelessResetReceived_) {
                cause = QuicError::statelessReset;
            } else if (handshaking) {
                cause = QuicError::handshakeFailed;
            }
            enterTerminal(Phase::draining, QuicConnectionState::Kind::failed, make_error_code(cause));
            return;
        }
        default:
            break;
    }
    ngtcp2_connection_close_error closeError;
    ngtcp2_connection_close_error_default(&closeError);
    if (error == NGTCP2_ERR_CRYPTO) {
        ngtcp2_connection_close_error_set_transport_error_tls_alert(
            &closeError, ngtcp2_conn_get_tls_alert(connection_), nullptr, 0);
    } else {
        ngtcp2_connection_close_error_set_transport_error_liberr(&closeError, error, nullptr, 0);
    }
    connectionErrorLog.debug("QUIC connection error: ", ngtcp2_strerror(error));
    sendConnectionClose(closeError);
    enterTerminal(Phase::closing, QuicConnectionState::Kind::failed,
                  make_error_code(handshaking || error == NGTCP2_ERR_CRYPTO ? QuicError::handshakeFailed
                                                                            : QuicError::protocolViolation));
}

void QuicConnectionEngine::sendConnectionClose(const ngtcp2_connection_close_error& error) {
    if (connection_ == nullptr || endpoint_ == nullptr || ngtcp2_conn_is_in_closing_period(connection_) ||
        ngtcp2_conn_is_in_draining_period(connection_)) {
        return;
    }
    std::vector<std::uint8_t> packet(NGTCP2_MAX_UDP_PAYLOAD_SIZE * 2);
    ngtcp2_path_storage pathStorage;
    ngtcp2_path_storage_zero(&pathStorage);
    ngtcp2_pkt_info info{};
    const ngtcp2_ssize written = ngtcp2_conn_write_connection_close(
        connection_, &pathStorage.path, &info, packet.data(), packet.size(), &error, now());
    if (written > 0) {
        closePacket_.assign(packet.begin(), packet.begin() + written);
        endpoint_->sendPackets(path_.path.remote, closePacket_.data(), closePacket_.size(),
                               closePacket_.size());
    }
}

void QuicConnectionEngine::close(std::uint64_t applicationErrorCode) {
    if (phase_ != Phase::handshaking && phase_ != Phase::ready) {
        return;
    }
    ngtcp2_connection_close_error closeError;
    ngtcp2_connection_close_error_default(&closeError);
    ngtcp2_connection_close_error_set_application_error(&closeError, applicationErrorCode, nullptr, 0);
    sendConnectionClose(closeError);
    {
        std::lock_guard lock(snapshotMutex_);
        closeInfoSnapshot_.applicationErrorCode = applicationErrorCode;
    }
    enterTerminal(Phase::closing, QuicConnectionState::Kind::cancelled,
                  make_error_code(QuicError::connectionClosed));
}

void QuicConnectionEngine::shutDownForTransport() {
    if (phase_ == Phase::handshaking || phase_ == Phase::ready) {
        close(0);
    }
    if (phase_ != Phase::finished) {
        finish();
    }
}

void QuicConnectionEngine::releaseHandle() {
    // The user is gone: its handler is dropped before the close, so the close reaches nobody.
    stateHandler_ = nullptr;
    stateExecutor_.reset();
    if (phase_ == Phase::ready || phase_ == Phase::handshaking) {
        close(0);
    }
}

void QuicConnectionEngine::enterTerminal(Phase phase, QuicConnectionState::Kind kind, std::error_code error) {
    if (phase_ == Phase::closing || phase_ == Phase::draining || phase_ == Phase::finished) {
        phase_ = std::max(phase_, phase);
        return;
    }
    phase_ = phase;
    {
        std::lock_guard lock(snapshotMutex_);
        stateSnapshot_ = QuicConnectionState{kind, error};
        maximumDatagramSizeSnapshot_ = 0;
    }
    publishStatistics();
    notifyState();

    const auto failure = [error] { return std::make_exception_ptr(std::system_error(error)); };
    for (auto& [id, stream] : streams_) {
        if (!(stream->finReceived && stream->bufferedBytes > 0)) {
            failReceives(*stream, failure);
        }
        failUnwrittenSends(*stream, failure);
    }
    inboundStreams_.clear();
    auto acceptWaiters = std::move(acceptWaiters_);
    acceptWaiters_.clear();
    for (auto& waiter : acceptWaiters) {
        if (kind == QuicConnectionState::Kind::cancelled) {
            waiter.completion.succeed(nullptr);
        } else {
            waiter.completion.fail(failure());
        }
    }
    auto opens = std::move(pendingOpens_);
    pendingOpens_.clear();
    for (auto& open : opens) {
        open.completion.fail(failure());
    }
    auto datagramWaiters = std::move(datagramWaiters_);
    datagramWaiters_.clear();
    for (auto& waiter : datagramWaiters) {
        waiter.completion.fail(failure());
    }
    outgoingDatagrams_.clear();
    if (connectCompletion_) {
        connectCompletion_.fail(failure());
    }

    if ((phase == Phase::closing || phase == Phase::draining) && connection_ != nullptr && timer_) {
        // Stay around for three probe time-outs to absorb what is still in flight.
        const auto linger = std::chrono::nanoseconds(3 * ngtcp2_conn_get_pto(connection_));
        armedExpiry_ = UINT64_MAX - 1;
        timer_->expires_after(linger);
        timer_->async_wait([weak = weak_from_this()](std::error_code error) {
            if (auto self = weak.lock(); self && !error) {
                self->finish();
            }
        });
    }
}

void QuicConnectionEngine::finish() {
    if (phase_ == Phase::finished && connection_ == nullptr) {
        return;
    }
    auto self = shared_from_this();
    if (phase_ != Phase::finished) {
        enterTerminal(Phase::finished, QuicConnectionState::Kind::failed,
                      make_error_code(QuicError::connectionClosed));
    }
    phase_ = Phase::finished;
    publishStatistics();
    if (timer_) {
        timer_->cancel();
        timer_.reset();
    }
    for (auto& [id, stream] : streams_) {
        stream->closed = true;
        releaseQueuedStreamBytes(queuedBytes(*stream));
        stream->sendQueue.clear();
        stream->firstUnwrittenChunk = 0;
    }
    streams_.clear();
    sendList_.clear();
    if (connection_ != nullptr) {
        ngtcp2_conn_del(connection_);
        connection_ = nullptr;
    }
    if (tls_ != nullptr) {
        gnutls_deinit(tls_);
        tls_ = nullptr;
    }
    if (endpoint_ != nullptr) {
        auto* endpoint = endpoint_;
        endpoint_ = nullptr;
        for (const auto& id : issuedConnectionIDs_) {
            endpoint->removeConnectionID(id);
        }
        if (!originalDestinationConnectionID_.empty()) {
            endpoint->removeConnectionID(originalDestinationConnectionID_);
        }
        endpoint->connectionFinished(*this);
    }
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
