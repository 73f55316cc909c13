#include "support/audio/FdkAacTestDecoder.hpp"

#include <vector>

#include <fdk-aac/aacdecoder_lib.h>

namespace quillbridge {

std::unique_ptr<FdkAacTestDecoder> FdkAacTestDecoder::make(ByteView audioSpecificConfig) {
    HANDLE_AACDECODER decoder = aacDecoder_Open(TT_MP4_RAW, 1);
    if (!decoder)
        return nullptr;
    Bytes config(audioSpecificConfig.begin(), audioSpecificConfig.end());
    UCHAR* configs[] = {config.data()};
    const UINT lengths[] = {static_cast<UINT>(config.size())};
    if (aacDecoder_ConfigRaw(decoder, configs, lengths) != AAC_DEC_OK) {
        aacDecoder_Close(decoder);
        return nullptr;
    }
    return std::unique_ptr<FdkAacTestDecoder>(new FdkAacTestDecoder(decoder));
}

FdkAacTestDecoder::~FdkAacTestDecoder() {
    aacDecoder_Close(decoder_);
}

std::optional<DecodedAudioFrame> FdkAacTestDecoder::decode(ByteView packet) {
    Bytes bytes(packet.begin(), packet.end());
    UCHAR* buffers[] = {bytes.data()};
    const UINT sizes[] = {static_cast<UINT>(bytes.size())};
    UINT bytesLeft = sizes[0];
    if (aacDecoder_Fill(decoder_, buffers, sizes, &bytesLeft) != AAC_DEC_OK || bytesLeft != 0)
        return std::nullopt;
    std::vector<INT_PCM> samples(8 * 4096);
    if (aacDecoder_DecodeFrame(decoder_, samples.data(), static_cast<INT>(samples.size()), 0) != AAC_DEC_OK)
        return std::nullopt;
    const CStreamInfo* info = aacDecoder_GetStreamInfo(decoder_);
    if (!info || info->numChannels <= 0 || info->frameSize <= 0)
        return std::nullopt;

    DecodedAudioFrame frame;
    frame.channels.assign(static_cast<std::size_t>(info->numChannels), {});
    for (int index = 0; index < info->frameSize; ++index) {
        for (int channel = 0; channel < info->numChannels; ++channel)
            frame.channels[channel].push_back(samples[index * info->numChannels + channel] / 32768.0f);
    }
    return frame;
}

FdkAacTestDecoder::StreamInfo FdkAacTestDecoder::streamInfo() const {
    const CStreamInfo* info = aacDecoder_GetStreamInfo(decoder_);
    if (!info)
        return {};
    return {static_cast<int>(info->aot), info->sampleRate, info->numChannels, info->frameSize};
}

}  // namespace quillbridge
