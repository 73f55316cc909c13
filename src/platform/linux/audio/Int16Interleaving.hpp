#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace quillbridge {

// One float sample (full scale ±1) as a 16-bit sample: scaled by 32,768, rounded to the nearest value and
// clipped to [-32,768, 32,767]. Not-a-number gives silence.
inline std::int16_t int16Sample(float sample) {
    if (std::isnan(sample))
        return 0;
    const float scaled = sample * 32768.0f;
    if (scaled >= 32767.0f)
        return 32767;
    if (scaled <= -32768.0f)
        return -32768;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

// Writes the first `frameCount` frames of non-interleaved float channels into `interleaved` (which holds
// frameCount × channels.size() samples) as interleaved 16-bit samples: frame by frame, channel by channel.
void interleaveAsInt16(const std::vector<std::vector<float>>& channels, std::size_t frameCount,
                       std::span<std::int16_t> interleaved);

}  // namespace quillbridge
