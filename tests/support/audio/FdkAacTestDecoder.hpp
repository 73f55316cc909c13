#pragma once

#include <memory>
#include <optional>

#include "support/audio/AacTestDecoder.hpp"

struct AAC_DECODER_INSTANCE;

namespace quillbridge {

// fdk-aac's decoder, configured out of band with aacDecoder_ConfigRaw.
class FdkAacTestDecoder final : public AacTestDecoder {
public:
    // What the decoder reports about the stream.
    struct StreamInfo {
        int audioObjectType = 0;
        int sampleRate = 0;
        int channelCount = 0;
        int frameSize = 0;
    };

    // Nothing when the decoder refuses the configuration.
    static std::unique_ptr<FdkAacTestDecoder> make(ByteView audioSpecificConfig);
    ~FdkAacTestDecoder() override;

    std::optional<DecodedAudioFrame> decode(ByteView packet) override;
    StreamInfo streamInfo() const;

private:
    explicit FdkAacTestDecoder(AAC_DECODER_INSTANCE* decoder) : decoder_(decoder) {}

    AAC_DECODER_INSTANCE* decoder_;
};

}  // namespace quillbridge
