#pragma once

#include <memory>

#include "session/AudioCompressionSettings.hpp"
#include "session/AudioConverter.hpp"
#include "session/AudioPCMBuffer.hpp"

namespace quillbridge {

// Builds audio converters. Member functions may be called from any thread.
class AudioConverterFactory {
public:
    virtual ~AudioConverterFactory() = default;

    // A converter from `inputFormat` to the compressed output `settings` describe, or nullptr when the
    // platform cannot produce that output from that input.
    virtual std::unique_ptr<AudioConverter> makeConverter(const AudioPCMFormat& inputFormat,
                                                          const AudioCompressionSettings& settings) = 0;
};

}  // namespace quillbridge
