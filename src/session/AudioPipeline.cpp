#include "session/AudioPipeline.hpp"

#include <algorithm>
#include <limits>

#include <asio/error.hpp>
#include <asio/system_error.hpp>
#include <asio/this_coro.hpp>

#include "wire/AudioFrameDatagram.hpp"
#include "wire/ControlMessageFraming.hpp"

// The audio path: the format announcement on the control stream and one unreliable datagram per
// compressed 512-frame chunk, held back by a flight window while the headset stops acknowledging.
//
// The AAC encoder runs on the broadcaster's strand (never on the QUIC engine thread): one 512-frame chunk
// costs a fraction of a millisecond, and keeping it on the strand keeps the encoder single-owner, so a
// teardown's reset can never race an encode.

namespace quillbridge {

namespace {

bool sameAudioFormat(const AudioStreamFormatMessage& a, const AudioStreamFormatMessage& b) {
    return a.codec == b.codec && a.sampleRate == b.sampleRate && a.channelCount == b.channelCount &&
           a.magicCookie == b.magicCookie;
}

// The chunk's datagram; nothing when the packet's counts do not fit the header. Takes the packet's payload.
std::optional<Bytes> encodedDatagram(EncodedAudioPacket& packet, std::uint32_t formatRevision,
                                     std::uint64_t chunkID, std::uint64_t presentationTimeNanoseconds) {
    const std::size_t payloadByteCount = packet.payload.size();
    if (packet.packetDescriptions.size() > std::numeric_limits<std::uint16_t>::max() ||
        payloadByteCount > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    AudioFrameDatagram datagram;
    datagram.formatRevision = formatRevision;
    datagram.header.chunkID = chunkID;
    datagram.header.presentationTimeNanoseconds = presentationTimeNanoseconds;
    datagram.header.packetCount = static_cast<std::uint16_t>(packet.packetDescriptions.size());
    datagram.header.packetDescriptionsByteCount =
        static_cast<std::uint32_t>(AudioPacketDescription::byteCount * packet.packetDescriptions.size());
    datagram.header.payloadByteCount = static_cast<std::uint32_t>(payloadByteCount);
    datagram.packetDescriptions = std::move(packet.packetDescriptions);
    datagram.payload = std::move(packet.payload);
    return datagram.encodedData();
}

}  // namespace

asio::awaitable<bool> AudioPipeline::announceFormatIfChanged(const AudioStreamFormatMessage& format,
                                                             const Uuid& sessionID) {
    if (lastAudioFormatMessage_ && sameAudioFormat(lastAudioFormatMessage_->format, format)) {
        co_return true;
    }
    ++audioFormatRevision_;
    lastAudioFormatMessage_ = AudioStreamFormatAnnouncementMessage{audioFormatRevision_, format};
    std::exception_ptr failure;
    try {
        co_await sendAudioFormatIfNeeded();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        if (session_.sessionID() == sessionID) {
            session_.endSessionForLostConnection(failure);
        }
        co_return false;
    }
    co_return true;
}

asio::awaitable<void> AudioPipeline::send(AudioPCMBuffer buffer) {
    const Uuid sessionID = session_.sessionID();
    if (!session_.hasConnection() || !session_.controlStream() || !session_.isReceiverReady()) {
        co_return;
    }
    const std::uint64_t presentationTime = buffer.presentationTimeNanoseconds;
    std::vector<TimestampedAudioChunk> chunks = audioAccumulator_.append(buffer, presentationTime);

    for (auto& chunk : chunks) {
        auto cancellation = co_await asio::this_coro::cancellation_state;
        if (session_.sessionID() != sessionID || cancellation.cancelled() != asio::cancellation_type::none) {
            co_return;
        }
        const std::uint64_t chunkID = nextSentAudioChunkID_++;
        if (!admitAudioChunk(chunkID, session_.hostTimeNanoseconds())) {
            continue;
        }
        if (!audioEncoder_) {
            continue;
        }
        std::optional<EncodedAudioPacket> packet = audioEncoder_->encode(chunk.buffer);
        if (!packet) {
            continue;
        }

        if (!co_await announceFormatIfChanged(packet->formatMessage, sessionID) ||
            session_.sessionID() != sessionID) {
            co_return;
        }

        const std::size_t payloadByteCount = packet->payload.size();
        std::optional<Bytes> bytes =
            encodedDatagram(*packet, audioFormatRevision_, chunkID, chunk.presentationTimeNanoseconds);
        if (!bytes) {
            logger_.error("Dropped oversized audio datagram: chunk=", chunkID,
                          ", payloadBytes=", payloadByteCount);
            continue;
        }

        std::shared_ptr<QuicConnection> flow;
        std::exception_ptr failure;
        try {
            flow = co_await openAudioDatagrams(sessionID);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            handleAudioDatagramFailure(failure, sessionID);
            co_return;
        }
        if (!flow) {
            co_return;
        }
        // The path may take less than the protocol's 1,200 bytes (a fresh path before MTU discovery, long
        // connection IDs): what does not fit now is dropped here rather than silently by the transport.
        if (bytes->size() > flow->maximumDatagramSize()) {
            logger_.error("Dropped oversized audio datagram: chunk=", chunkID,
                          ", payloadBytes=", payloadByteCount);
            continue;
        }
        try {
            co_await flow->sendDatagram(std::move(*bytes));
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            handleAudioDatagramFailure(failure, sessionID);
            co_return;
        }
        reportUnsentAudioDatagrams(flow);
    }
}

AudioPipeline::AudioPipeline(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies)
    : session_(session), dependencies_(dependencies) {
    if (dependencies_.audioConverterFactory != nullptr) {
        audioEncoder_ = std::make_unique<AudioCompressionSession>(*dependencies_.audioConverterFactory);
    }
}

void AudioPipeline::noteHighestReceivedChunkID(std::optional<std::uint64_t> reported) {
    if (reported) {
        highestReceivedAudioChunkID_ =
            highestReceivedAudioChunkID_ ? std::max(*highestReceivedAudioChunkID_, *reported) : *reported;
    }
}

void AudioPipeline::endSessionTransport() {
    audioDatagrams_ = false;
    nextSentAudioChunkID_ = 0;
    highestReceivedAudioChunkID_.reset();
    audioFlightWindow_.pressureObservedAtHostTimeNanoseconds.reset();
    audioFlightWindow_.lastRecoveryProbeHostTimeNanoseconds.reset();
}

void AudioPipeline::startOver() {
    lastAudioFormatMessage_.reset();
    audioFormatRevision_ = 0;
    resetAudioEncoding();
}

void AudioPipeline::reportUnsentAudioDatagrams(const std::shared_ptr<QuicConnection>& flow) {
    // Only audio travels as datagrams, so every datagram the connection dropped unsent was audio.
    const std::uint64_t dropped = flow->statistics().datagramsDroppedUnsent;
    if (audioStatisticsConnection_.lock() != flow) {
        audioStatisticsConnection_ = flow;
        audioDatagramsDroppedUnsentSeen_ = 0;
    }
    if (dropped <= audioDatagramsDroppedUnsentSeen_) {
        return;
    }
    if (!unsentAudioDatagramLog_) {
        unsentAudioDatagramLog_ = std::make_unique<LogRateLimiter>(
            logger_, "Dropped unsent audio datagrams", LogRateLimiter::Limits{}, dependencies_.clock);
    }
    unsentAudioDatagramLog_->notice("Dropped unsent audio datagrams: count=",
                                    dropped - audioDatagramsDroppedUnsentSeen_);
    audioDatagramsDroppedUnsentSeen_ = dropped;
}

bool AudioPipeline::admitAudioChunk(std::uint64_t chunkID, std::uint64_t hostTimeNanoseconds) {
    auto& window = audioFlightWindow_;
    std::uint64_t outstanding = chunkID;
    if (highestReceivedAudioChunkID_) {
        const std::uint64_t highest = *highestReceivedAudioChunkID_;
        if (highest == std::numeric_limits<std::uint64_t>::max() || chunkID <= highest + 1) {
            outstanding = 0;
        } else {
            outstanding = chunkID - highest - 1;
        }
    }
    const std::uint64_t limit = std::max<std::uint64_t>(window.maximumOutstandingChunkCount, 1);
    if (outstanding < limit) {
        window.pressureObservedAtHostTimeNanoseconds.reset();
        window.lastRecoveryProbeHostTimeNanoseconds.reset();
        return true;
    }
    if (!window.pressureObservedAtHostTimeNanoseconds) {
        window.pressureObservedAtHostTimeNanoseconds = hostTimeNanoseconds;
        return false;
    }
    const std::uint64_t reference =
        window.lastRecoveryProbeHostTimeNanoseconds.value_or(*window.pressureObservedAtHostTimeNanoseconds);
    if (hostTimeNanoseconds < reference ||
        hostTimeNanoseconds - reference < window.recoveryProbeIntervalNanoseconds) {
        return false;
    }
    window.lastRecoveryProbeHostTimeNanoseconds = hostTimeNanoseconds;
    return true;
}

void AudioPipeline::handleAudioDatagramFailure(const std::exception_ptr& error, const Uuid& sessionID) {
    if (session_.sessionID() != sessionID) {
        return;
    }
    if (session_.isExpectedTransportError(error)) {
        // Forgotten; the next chunk opens the flow again.
        audioDatagrams_ = false;
        return;
    }
    session_.endSessionForLostConnection(error);
}

asio::awaitable<void> AudioPipeline::sendAudioFormatIfNeeded() {
    if (!session_.isReceiverReady() || !lastAudioFormatMessage_) {
        co_return;
    }
    auto announcement =
        AudioStreamFormatAnnouncementMessage{audioFormatRevision_, lastAudioFormatMessage_->format};
    auto stream = session_.controlStream();
    if (!stream) {
        co_return;
    }
    Bytes frame = ControlMessageFraming::encode(
        StreamControlMessage::make<StreamControlMessage::Case::audioFormat>(std::move(announcement)));
    co_await stream->send(std::move(frame), false);
}

asio::awaitable<void> AudioPipeline::openAudioDatagrams() {
    co_await openAudioDatagrams(session_.sessionID());
}

asio::awaitable<std::shared_ptr<QuicConnection>> AudioPipeline::openAudioDatagrams(const Uuid& sessionID) {
    if (session_.sessionID() != sessionID) {
        throw asio::system_error(asio::error::operation_aborted);
    }
    auto connection = session_.connection();
    if (!connection) {
        co_return nullptr;
    }
    // Datagrams travel on the connection itself; opening them only marks the flow as in use.
    audioDatagrams_ = true;
    co_return connection;
}

void AudioPipeline::resetAudioEncoding() {
    audioAccumulator_.reset();
    if (audioEncoder_) {
        audioEncoder_->reset();
    }
}

}  // namespace quillbridge
