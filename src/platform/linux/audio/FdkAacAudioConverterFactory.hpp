#pragma once

#include <memory>

#include "session/AudioConverterFactory.hpp"

namespace quillbridge {

// Builds FdkAacAudioConverter encoders.
class FdkAacAudioConverterFactory final : public AudioConverterFactory {
public:
    std::unique_ptr<AudioConverter> makeConverter(const AudioPCMFormat& inputFormat,
                                                  const AudioCompressionSettings& settings) override;
};

}  // namespace quillbridge
