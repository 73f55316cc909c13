#include "platform/linux/audio/Int16Interleaving.hpp"

namespace quillbridge {

void interleaveAsInt16(const std::vector<std::vector<float>>& channels, std::size_t frameCount,
                       std::span<std::int16_t> interleaved) {
    const std::size_t channelCount = channels.size();
    for (std::size_t channel = 0; channel < channelCount; ++channel) {
        const float* samples = channels[channel].data();
        std::int16_t* out = interleaved.data() + channel;
        for (std::size_t frame = 0; frame < frameCount; ++frame)
            out[frame * channelCount] = int16Sample(samples[frame]);
    }
}

}  // namespace quillbridge
