#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <fdk-aac/aacenc_lib.h>

#include "core/Bytes.hpp"
#include "core/Logger.hpp"
#include "session/AudioCompressionSettings.hpp"
#include "session/AudioConverter.hpp"

namespace quillbridge {

// An AAC-ELD encoder on fdk-aac: audio object type 39, 512-frame packets, spectral band replication off,
// constant bit rate, raw access units. Input is non-interleaved 32-bit float PCM at the output's sample
// rate and channel count, in the desktop's channel order (L, R, C, LFE, ...); it is converted to 16-bit
// samples with clipping.
//
// Each 512 frames of input give one packet in the same call, from the first call on: fdk-aac's 256-frame
// codec delay lies inside the decoded signal and holds back no packet. Frames short of a whole packet wait
// inside the encoder for the next call. The magic cookie is the ES_Descriptor around the encoder's
// AudioSpecificConfig, built from the configuration alone.
class FdkAacAudioConverter final : public AudioConverter {
public:
    static constexpr std::uint32_t framesPerPacket = 512;
    static constexpr std::uint32_t maximumChannelCount = 8;

    // An encoder for `inputFormat` with `settings`, or nullptr when fdk-aac cannot produce that output from
    // that input (another codec, a sample rate or channel count it does not encode, input that is not
    // non-interleaved float at the output's rate and channel count).
    static std::unique_ptr<FdkAacAudioConverter> make(const AudioPCMFormat& inputFormat,
                                                      const AudioCompressionSettings& settings);

    ~FdkAacAudioConverter() override;
    FdkAacAudioConverter(const FdkAacAudioConverter&) = delete;
    FdkAacAudioConverter& operator=(const FdkAacAudioConverter&) = delete;

    AudioCompressedFormat outputFormat() const override { return outputFormat_; }
    std::size_t maximumOutputPacketSize() const override { return maximumOutputPacketSize_; }
    std::optional<Bytes> magicCookie() const override { return magicCookie_; }

    // Refuses (error) input in another format, input whose channels hold fewer samples than its frame
    // length, and output with too little room for the packets.
    AudioConverterOutputStatus convert(const AudioPCMBuffer& input, AudioCompressedBuffer& output) override;

    // The encoder's AudioSpecificConfig, as the cookie carries it.
    const Bytes& audioSpecificConfig() const { return audioSpecificConfig_; }

private:
    FdkAacAudioConverter(HANDLE_AACENCODER encoder, const AudioPCMFormat& inputFormat,
                         const AudioCompressionSettings& settings, const AACENC_InfoStruct& info);

    bool isUsableInput(const AudioPCMBuffer& input) const;
    AudioConverterOutputStatus failed(const char* operation, AACENC_ERROR status);

    HANDLE_AACENCODER encoder_;
    AudioPCMFormat inputFormat_;
    AudioCompressedFormat outputFormat_;
    std::size_t maximumOutputPacketSize_;
    Bytes audioSpecificConfig_;
    Bytes magicCookie_;
    // Scratch space reused by every conversion: the interleaved 16-bit input and one packet's output.
    std::vector<std::int16_t> interleavedSamples_;
    Bytes packetBytes_;
    // Logs an encoding failure once until a conversion succeeds again.
    bool isFailing_ = false;
    Logger logger_{"FdkAacAudioConverter"};
};

}  // namespace quillbridge
