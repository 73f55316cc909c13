// The engine's side of the C callbacks: the TLS hooks and what ngtcp2 reports about the connection.

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

}  // namespace quillbridge
