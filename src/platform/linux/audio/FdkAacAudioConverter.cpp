#include "platform/linux/audio/FdkAacAudioConverter.hpp"

#include <cmath>
#include <span>
#include <utility>

#include "platform/linux/audio/ElementaryStreamDescriptor.hpp"
#include "platform/linux/audio/Int16Interleaving.hpp"

namespace quillbridge {

namespace {

constexpr UINT elementaryStreamTransport = 0;  // TT_MP4_RAW: raw access units
constexpr UINT constantBitRateMode = 0;
constexpr UINT waveChannelOrder = 1;  // L, R, C, LFE, back, side: the order desktop audio comes in
constexpr UINT allModules = 0;
constexpr double highestSampleRate = 96'000;

// The MPEG channel configuration for a channel count.
CHANNEL_MODE channelMode(std::uint32_t channelCount) {
    switch (channelCount) {
        case 1:
            return MODE_1;
        case 2:
            return MODE_2;
        case 3:
            return MODE_1_2;
        case 4:
            return MODE_1_2_1;
        case 5:
            return MODE_1_2_2;
        case 6:
            return MODE_1_2_2_1;
        case 7:
            return MODE_6_1;
        case 8:
            return MODE_7_1_BACK;
        default:
            return MODE_INVALID;
    }
}

bool isIntegralSampleRate(double sampleRate) {
    return sampleRate > 0 && sampleRate <= highestSampleRate && std::floor(sampleRate) == sampleRate;
}

}  // namespace

std::unique_ptr<FdkAacAudioConverter> FdkAacAudioConverter::make(const AudioPCMFormat& inputFormat,
                                                                 const AudioCompressionSettings& settings) {
    if (settings.codec != AudioCodec::aacELD || inputFormat.sampleFormat != AudioSampleFormat::float32 ||
        inputFormat.isInterleaved || inputFormat.sampleRate != settings.sampleRate ||
        inputFormat.channelCount != settings.channelCount || !isIntegralSampleRate(settings.sampleRate) ||
        channelMode(settings.channelCount) == MODE_INVALID || settings.bitRateBitsPerSecond == 0) {
        return nullptr;
    }

    static const Logger logger{"FdkAacAudioConverter"};
    HANDLE_AACENCODER encoder = nullptr;
    if (auto status = aacEncOpen(&encoder, allModules, settings.channelCount); status != AACENC_OK) {
        logger.error("aacEncOpen failed with status ", static_cast<int>(status));
        return nullptr;
    }
    const std::pair<AACENC_PARAM, UINT> parameters[] = {
        {AACENC_AOT, AOT_ER_AAC_ELD},
        // Without this, ELD quietly turns spectral band replication on and emits 1024-frame packets.
        {AACENC_SBR_MODE, 0},
        {AACENC_GRANULE_LENGTH, framesPerPacket},
        {AACENC_SAMPLERATE, static_cast<UINT>(settings.sampleRate)},
        {AACENC_CHANNELMODE, static_cast<UINT>(channelMode(settings.channelCount))},
        {AACENC_CHANNELORDER, waveChannelOrder},
        {AACENC_BITRATEMODE, constantBitRateMode},
        {AACENC_BITRATE, settings.bitRateBitsPerSecond},
        {AACENC_TRANSMUX, elementaryStreamTransport},
        // Analysis by synthesis: better sound for some 20 µs more per chunk.
        {AACENC_AFTERBURNER, 1},
    };
    AACENC_InfoStruct info{};
    for (const auto& [parameter, value] : parameters) {
        if (auto status = aacEncoder_SetParam(encoder, parameter, value); status != AACENC_OK) {
            logger.error("aacEncoder_SetParam(", static_cast<int>(parameter), ", ", value,
                         ") failed with status ", static_cast<int>(status));
            aacEncClose(&encoder);
            return nullptr;
        }
    }
    if (auto status = aacEncEncode(encoder, nullptr, nullptr, nullptr, nullptr); status != AACENC_OK) {
        logger.error("aacEncEncode (initialisation) failed with status ", static_cast<int>(status));
        aacEncClose(&encoder);
        return nullptr;
    }
    if (auto status = aacEncInfo(encoder, &info); status != AACENC_OK ||
                                                  info.frameLength != framesPerPacket || info.confSize == 0 ||
                                                  info.confSize > sizeof(info.confBuf)) {
        logger.error("aacEncInfo failed with status ", static_cast<int>(status), " (frame length ",
                     info.frameLength, ")");
        aacEncClose(&encoder);
        return nullptr;
    }
    return std::unique_ptr<FdkAacAudioConverter>(
        new FdkAacAudioConverter(encoder, inputFormat, settings, info));
}

FdkAacAudioConverter::FdkAacAudioConverter(HANDLE_AACENCODER encoder, const AudioPCMFormat& inputFormat,
                                           const AudioCompressionSettings& settings,
                                           const AACENC_InfoStruct& info)
    : encoder_(encoder),
      inputFormat_(inputFormat),
      outputFormat_{AudioCodec::aacELD, settings.sampleRate, settings.channelCount},
      maximumOutputPacketSize_(info.maxOutBufBytes),
      audioSpecificConfig_(info.confBuf, info.confBuf + info.confSize),
      interleavedSamples_(std::size_t{framesPerPacket} * settings.channelCount),
      packetBytes_(info.maxOutBufBytes) {
    ElementaryStreamDescriptor descriptor;
    descriptor.bufferSizeBytes = info.maxOutBufBytes;
    descriptor.maximumBitRateBitsPerSecond = settings.bitRateBitsPerSecond;
    descriptor.averageBitRateBitsPerSecond = settings.bitRateBitsPerSecond;
    descriptor.audioSpecificConfig = audioSpecificConfig_;
    magicCookie_ = descriptor.encodedData();
}

FdkAacAudioConverter::~FdkAacAudioConverter() {
    aacEncClose(&encoder_);
}

bool FdkAacAudioConverter::isUsableInput(const AudioPCMBuffer& input) const {
    if (input.format != inputFormat_ || !input.hasFloatChannelData())
        return false;
    for (const auto& channel : input.floatChannels) {
        if (channel.size() < input.frameLength)
            return false;
    }
    return true;
}

AudioConverterOutputStatus FdkAacAudioConverter::failed(const char* operation, AACENC_ERROR status) {
    if (!isFailing_)
        logger_.error(operation, " failed with status ", static_cast<int>(status));
    isFailing_ = true;
    return AudioConverterOutputStatus::error;
}

AudioConverterOutputStatus FdkAacAudioConverter::convert(const AudioPCMBuffer& input,
                                                         AudioCompressedBuffer& output) {
    if (!isUsableInput(input))
        return AudioConverterOutputStatus::error;

    const std::size_t channelCount = inputFormat_.channelCount;
    const std::size_t sampleCount = std::size_t{input.frameLength} * channelCount;
    if (interleavedSamples_.size() < sampleCount)
        interleavedSamples_.resize(sampleCount);
    interleaveAsInt16(input.floatChannels, input.frameLength,
                      std::span(interleavedSamples_).first(sampleCount));

    output.data.clear();
    output.packetDescriptions.clear();
    std::size_t consumedSampleCount = 0;
    // Each call encodes at most one packet; the loop ends once every sample is inside the encoder and the
    // packet it completed, if any, is out.
    while (consumedSampleCount < sampleCount) {
        void* inputBuffer = interleavedSamples_.data() + consumedSampleCount;
        INT inputIdentifier = IN_AUDIO_DATA;
        INT inputSize = static_cast<INT>((sampleCount - consumedSampleCount) * sizeof(std::int16_t));
        INT inputElementSize = sizeof(std::int16_t);
        AACENC_BufDesc inputDescription{1, &inputBuffer, &inputIdentifier, &inputSize, &inputElementSize};

        void* outputBuffer = packetBytes_.data();
        INT outputIdentifier = OUT_BITSTREAM_DATA;
        INT outputSize = static_cast<INT>(packetBytes_.size());
        INT outputElementSize = 1;
        AACENC_BufDesc outputDescription{1, &outputBuffer, &outputIdentifier, &outputSize,
                                         &outputElementSize};

        AACENC_InArgs inputArguments{static_cast<INT>(sampleCount - consumedSampleCount), 0};
        AACENC_OutArgs outputArguments{};
        const auto status =
            aacEncEncode(encoder_, &inputDescription, &outputDescription, &inputArguments, &outputArguments);
        if (status != AACENC_OK)
            return failed("aacEncEncode", status);
        if (outputArguments.numInSamples <= 0 && outputArguments.numOutBytes <= 0)
            return failed("aacEncEncode (no progress)", status);

        consumedSampleCount += static_cast<std::size_t>(std::max<INT>(outputArguments.numInSamples, 0));
        if (outputArguments.numOutBytes > 0) {
            const auto packetSize = static_cast<std::size_t>(outputArguments.numOutBytes);
            if (output.packetDescriptions.size() >= output.packetCapacity ||
                packetSize > output.maximumPacketSize)
                return AudioConverterOutputStatus::error;
            appendBytes(output.data, ByteView(packetBytes_).first(packetSize));
            output.packetDescriptions.push_back({static_cast<std::uint32_t>(packetSize), 0});
        }
    }
    isFailing_ = false;
    return output.packetDescriptions.empty() ? AudioConverterOutputStatus::inputRanDry
                                             : AudioConverterOutputStatus::haveData;
}

}  // namespace quillbridge
