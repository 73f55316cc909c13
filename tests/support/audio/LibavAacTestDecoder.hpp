#pragma once

#include <memory>
#include <optional>

#include "support/audio/AacTestDecoder.hpp"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quillbridge {

// libavcodec's own AAC decoder ("aac", not a wrapper of fdk-aac), configured with the AudioSpecificConfig
// as extradata: a second reader written independently of the encoder.
class LibavAacTestDecoder final : public AacTestDecoder {
public:
    // Nothing when the decoder is missing or refuses the configuration.
    static std::unique_ptr<LibavAacTestDecoder> make(ByteView audioSpecificConfig);
    ~LibavAacTestDecoder() override;

    std::optional<DecodedAudioFrame> decode(ByteView packet) override;

private:
    LibavAacTestDecoder(AVCodecContext* context, AVFrame* frame, AVPacket* packet)
        : context_(context), frame_(frame), packet_(packet) {}

    AVCodecContext* context_;
    AVFrame* frame_;
    AVPacket* packet_;
};

}  // namespace quillbridge
