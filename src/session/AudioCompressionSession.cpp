#include "session/AudioCompressionSession.hpp"

#include <algorithm>
#include <utility>

namespace quillbridge {

namespace {

constexpr std::uint64_t bitRatePerChannel = 48'000;
constexpr std::uint64_t maximumBitRate = 128'000;
// Room for one packet per 1024 frames, and one more.
constexpr std::size_t framesPerPacketCapacity = 1024;

}  // namespace

AudioCompressionSession::AudioCompressionSession(AudioConverterFactory& converterFactory)
    : converterFactory_(converterFactory) {}

std::uint32_t AudioCompressionSession::bitRateBitsPerSecond(std::uint32_t channelCount) {
    const std::uint64_t channels = std::max<std::uint32_t>(channelCount, 1);
    return static_cast<std::uint32_t>(std::min(channels * bitRatePerChannel, maximumBitRate));
}

bool AudioCompressionSession::configureIfNeeded(const AudioPCMFormat& format) {
    if (inputFormat_ && *inputFormat_ == format)
        return true;

    const AudioCompressionSettings settings{AudioCodec::aacELD, format.sampleRate, format.channelCount,
                                            bitRateBitsPerSecond(format.channelCount)};
    auto converter = converterFactory_.makeConverter(format, settings);
    if (!converter)
        return false;

    const auto outputFormat = converter->outputFormat();
    const std::size_t reportedPacketSize = converter->maximumOutputPacketSize();
    inputFormat_ = format;
    compressedFormat_ = outputFormat;
    maximumPacketSize_ = reportedPacketSize < 2 ? 1 : reportedPacketSize;
    formatMessage_ = AudioStreamFormatMessage{AudioCodec::aacELD, outputFormat.sampleRate,
                                              outputFormat.channelCount, converter->magicCookie()};
    encoder_ = std::move(converter);
    return true;
}

std::optional<EncodedAudioPacket> AudioCompressionSession::encode(const AudioPCMBuffer& buffer) {
    if (!configureIfNeeded(buffer.format))
        return std::nullopt;
    if (!encoder_ || !compressedFormat_ || !formatMessage_)
        return std::nullopt;

    AudioCompressedBuffer output;
    output.packetCapacity = buffer.frameLength / framesPerPacketCapacity + 1;
    output.maximumPacketSize = maximumPacketSize_;
    const auto status = encoder_->convert(buffer, output);
    if (status == AudioConverterOutputStatus::error || output.data.empty())
        return std::nullopt;

    EncodedAudioPacket packet;
    packet.formatMessage = *formatMessage_;
    if (output.packetDescriptions.empty()) {
        packet.packetDescriptions.push_back({static_cast<std::uint32_t>(output.data.size()), 0});
    } else {
        packet.packetDescriptions = std::move(output.packetDescriptions);
    }
    packet.payload = std::move(output.data);
    return packet;
}

void AudioCompressionSession::reset() {
    encoder_.reset();
    inputFormat_.reset();
    compressedFormat_.reset();
    maximumPacketSize_ = 0;
    formatMessage_.reset();
}

}  // namespace quillbridge
