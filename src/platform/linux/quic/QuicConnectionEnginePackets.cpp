// Datagrams both ways, incoming packets and the write loop that batches outgoing ones.

#include "platform/linux/quic/QuicConnectionEngine.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include <ngtcp2/ngtcp2_crypto_gnutls.h>
#include <asio/error.hpp>
#include <asio/post.hpp>

#include "core/FrameStageTrace.hpp"
#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"
#include "core/SecureRandom.hpp"
#include "platform/linux/quic/QuicConnectionEngineShared.hpp"
#include "platform/linux/quic/QuicEndpoint.hpp"
#include "platform/linux/quic/QuicHandles.hpp"

namespace quillbridge {

using namespace quic_engine;

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
        if (batchTraceKey_ != 0) {
            FrameStageTrace::stamp(FrameStage::firstUdpSend, std::exchange(batchTraceKey_, 0));
        }
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
                if (streamBytes > 0) {
                    // A traced frame's first bytes now in the batch.
                    for (std::size_t index = stream->firstUnwrittenChunk; index < stream->sendQueue.size();
                         ++index) {
                        auto& chunk = stream->sendQueue[index];
                        if (chunk.endOffset - chunk.data.size() >=
                            stream->writtenOffset + static_cast<std::uint64_t>(streamBytes)) {
                            break;
                        }
                        if (chunk.traceKey != 0) {
                            batchTraceKey_ = std::exchange(chunk.traceKey, 0);
                        }
                    }
                }
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

}  // namespace quillbridge
