#include "support/headset/HeadsetSimulator.hpp"

#include "support/headset/HeadsetSimulatorSupport.hpp"

// Audio: the host's datagrams, their format and decoding.

namespace quillbridge {

using namespace headset_simulator_detail;

// Audio.

asio::awaitable<void> HeadsetSimulator::readDatagrams(std::shared_ptr<QuicConnection> connection,
                                                      std::shared_ptr<bool> alive) {
    for (;;) {
        Bytes datagram;
        try {
            datagram = co_await connection->receiveDatagram();
        } catch (const std::system_error&) {
            co_return;
        }
        if (!*alive) {
            co_return;
        }
        const auto chunksBefore = receivedAudioChunks_.size();
        if (!takeAudioDatagram(datagram)) {
            datagramsAwaitingFormat_.push_back(std::move(datagram));
            while (datagramsAwaitingFormat_.size() > keptDatagramsAwaitingFormat) {
                datagramsAwaitingFormat_.pop_front();
            }
        }
        notifyChange();
        if (options_.sendsReceiverReports && receivedAudioChunks_.size() > chunksBefore &&
            receivedAudioChunks_.back().chunkID % audioChunksPerReport == audioChunksPerReport - 1) {
            co_await sendAutomaticReport(false);
            if (!*alive) {
                co_return;
            }
        }
    }
}

void HeadsetSimulator::takeAudioFormat(const AudioStreamFormatAnnouncementMessage& announcement) {
    audioFormats_[announcement.revision] = announcement;
    std::unique_ptr<AacTestDecoder> decoder;
    if (announcement.format.magicCookie) {
        if (const auto descriptor = readElementaryStreamDescriptor(*announcement.format.magicCookie)) {
            decoder = FdkAacTestDecoder::make(descriptor->audioSpecificConfig);
        }
    }
    audioDecoders_[announcement.revision] = std::move(decoder);
    auto waiting = std::move(datagramsAwaitingFormat_);
    datagramsAwaitingFormat_.clear();
    for (auto& datagram : waiting) {
        if (!takeAudioDatagram(datagram)) {
            datagramsAwaitingFormat_.push_back(std::move(datagram));
        }
    }
}

bool HeadsetSimulator::takeAudioDatagram(const Bytes& datagram) {
    std::size_t cursor = 0;
    const auto kind = readUInt8(datagram, cursor);
    const auto revision = readBigEndianUInt32(datagram, cursor);
    const auto version = readUInt8(datagram, cursor);
    const auto chunkID = readBigEndianUInt64(datagram, cursor);
    const auto time = readBigEndianUInt64(datagram, cursor);
    const auto packetCount = readBigEndianUInt16(datagram, cursor);
    const auto descriptionsBytes = readBigEndianUInt32(datagram, cursor);
    const auto payloadBytes = readBigEndianUInt32(datagram, cursor);
    if (!kind || *kind != AudioFrameDatagram::kindByte || !revision || !version ||
        *version != AudioFrameStreamHeader::currentProtocolVersion || !chunkID || !time || !packetCount ||
        !descriptionsBytes || !payloadBytes ||
        *descriptionsBytes != *packetCount * AudioPacketDescription::byteCount ||
        datagram.size() - cursor != static_cast<std::size_t>(*descriptionsBytes) + *payloadBytes) {
        // Not an audio datagram the headset can read: counted as undecodable, never retried.
        ++undecodableAudioPacketCount_;
        return true;
    }
    const auto decoder = audioDecoders_.find(*revision);
    if (decoder == audioDecoders_.end()) {
        return false;
    }
    std::vector<std::uint32_t> packetSizes;
    for (std::uint16_t packet = 0; packet < *packetCount; ++packet) {
        packetSizes.push_back(readBigEndianUInt32(datagram, cursor).value_or(0));
        cursor += 4;
    }
    ReceivedAudioChunk chunk{*revision, *chunkID, *time, *packetCount, 0};
    const ByteView payload = ByteView(datagram).subspan(cursor);
    std::size_t offset = 0;
    for (const auto size : packetSizes) {
        if (size > payload.size() - offset) {
            ++undecodableAudioPacketCount_;
            break;
        }
        const ByteView packet = payload.subspan(offset, size);
        offset += size;
        auto decoded = decoder->second ? decoder->second->decode(packet) : std::nullopt;
        if (!decoded || decoded->channels.empty()) {
            ++undecodableAudioPacketCount_;
            continue;
        }
        chunk.decodedFrameCount += decoded->channels[0].size();
        decodedAudioSamples_.insert(decodedAudioSamples_.end(), decoded->channels[0].begin(),
                                    decoded->channels[0].end());
    }
    receivedAudioChunks_.push_back(chunk);
    if (!highestAudioChunkID_ || *chunkID > *highestAudioChunkID_) {
        highestAudioChunkID_ = *chunkID;
    }
    return true;
}

}  // namespace quillbridge
