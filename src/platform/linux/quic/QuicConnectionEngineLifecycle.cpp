// Timers, library errors, closing and the connection's terminal phases.

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

}  // namespace quillbridge
