#include "support/audio/LibavAacTestDecoder.hpp"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

namespace quillbridge {

std::unique_ptr<LibavAacTestDecoder> LibavAacTestDecoder::make(ByteView audioSpecificConfig) {
    const AVCodec* codec = avcodec_find_decoder_by_name("aac");
    if (!codec)
        return nullptr;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    auto decoder = std::unique_ptr<LibavAacTestDecoder>(new LibavAacTestDecoder(context, frame, packet));
    if (!context || !frame || !packet)
        return nullptr;
    context->extradata =
        static_cast<std::uint8_t*>(av_mallocz(audioSpecificConfig.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context->extradata)
        return nullptr;
    std::memcpy(context->extradata, audioSpecificConfig.data(), audioSpecificConfig.size());
    context->extradata_size = static_cast<int>(audioSpecificConfig.size());
    if (avcodec_open2(context, codec, nullptr) < 0)
        return nullptr;
    return decoder;
}

LibavAacTestDecoder::~LibavAacTestDecoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

std::optional<DecodedAudioFrame> LibavAacTestDecoder::decode(ByteView packet) {
    if (av_new_packet(packet_, static_cast<int>(packet.size())) < 0)
        return std::nullopt;
    std::memcpy(packet_->data, packet.data(), packet.size());
    const int sent = avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    if (sent < 0 || avcodec_receive_frame(context_, frame_) < 0)
        return std::nullopt;
    if (frame_->format != AV_SAMPLE_FMT_FLTP) {
        av_frame_unref(frame_);
        return std::nullopt;
    }

    DecodedAudioFrame decoded;
    const int channelCount = frame_->ch_layout.nb_channels;
    for (int channel = 0; channel < channelCount; ++channel) {
        const auto* samples = reinterpret_cast<const float*>(frame_->extended_data[channel]);
        decoded.channels.emplace_back(samples, samples + frame_->nb_samples);
    }
    av_frame_unref(frame_);
    return decoded;
}

}  // namespace quillbridge
