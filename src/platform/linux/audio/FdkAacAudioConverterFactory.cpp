#include "platform/linux/audio/FdkAacAudioConverterFactory.hpp"

#include "platform/linux/audio/FdkAacAudioConverter.hpp"

namespace quillbridge {

std::unique_ptr<AudioConverter> FdkAacAudioConverterFactory::makeConverter(
    const AudioPCMFormat& inputFormat, const AudioCompressionSettings& settings) {
    return FdkAacAudioConverter::make(inputFormat, settings);
}

}  // namespace quillbridge
