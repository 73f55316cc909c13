#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "session/AudioCompressedFormat.hpp"
#include "session/AudioCompressionSettings.hpp"
#include "session/AudioConverter.hpp"
#include "session/AudioConverterFactory.hpp"
#include "session/AudioPCMBuffer.hpp"
#include "session/EncodedAudioPacket.hpp"
#include "wire/AudioStreamFormatMessage.hpp"

namespace quillbridge {

// Compresses PCM chunks into AAC-ELD, one chunk at a time, with one converter per input format. The
// converter is kept while the input format stays the same and rebuilt when it changes or after reset().
// Neither reports errors nor logs: every failure comes back as no packet. Not thread-safe: one owner uses
// it, and encode() runs the conversion on the caller's thread.
class AudioCompressionSession {
public:
    // `converterFactory` must outlive the session.
    explicit AudioCompressionSession(AudioConverterFactory& converterFactory);

    // The target bit rate for a channel count: 48,000 bit/s per channel, at most 128,000.
    static std::uint32_t bitRateBitsPerSecond(std::uint32_t channelCount);

    // The compressed packet of one PCM buffer, described by the current formatMessage(), or nothing when
    // no converter can be built for the buffer's format or the conversion gives no bytes.
    std::optional<EncodedAudioPacket> encode(const AudioPCMBuffer& buffer);

    // Makes sure a converter for `format` is ready: keeps the current one when the format is the one it was
    // built for, else builds a new one. False when that fails, in which case the previous converter and
    // formats stay as they were.
    bool configureIfNeeded(const AudioPCMFormat& format);

    // Forgets the converter and both formats; the next encode() builds a new converter.
    void reset();

    const std::optional<AudioPCMFormat>& inputFormat() const { return inputFormat_; }
    const std::optional<AudioCompressedFormat>& compressedFormat() const { return compressedFormat_; }
    // The largest output packet in bytes: at least 1 while a converter is set, 0 without one.
    std::size_t maximumPacketSize() const { return maximumPacketSize_; }
    // How the current output is described to the headset; nothing without a converter.
    const std::optional<AudioStreamFormatMessage>& formatMessage() const { return formatMessage_; }

private:
    AudioConverterFactory& converterFactory_;
    std::unique_ptr<AudioConverter> encoder_;
    std::optional<AudioPCMFormat> inputFormat_;
    std::optional<AudioCompressedFormat> compressedFormat_;
    std::size_t maximumPacketSize_ = 0;
    std::optional<AudioStreamFormatMessage> formatMessage_;
};

}  // namespace quillbridge
