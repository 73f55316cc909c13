#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/linux/audio/Int16Interleaving.hpp"

namespace quillbridge {
namespace {

TEST(Int16InterleavingTests, FloatSamplesAreScaledRoundedAndClipped) {
    const struct {
        float sample;
        std::int16_t expected;
    } cases[] = {
        {0.0f, 0},
        {0.5f, 16384},
        {-0.5f, -16384},
        {1.0f / 32768 * 2.4f, 2},
        {-1.0f / 32768 * 2.6f, -3},
        {32766.0f / 32768, 32766},
        {1.0f, 32767},
        {-1.0f, -32768},
        {1.5f, 32767},
        {-7.0f, -32768},
        {1e30f, 32767},
        {-1e30f, -32768},
        {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32768},
        {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const auto& [sample, expected] : cases)
        EXPECT_EQ(int16Sample(sample), expected) << sample;
}

TEST(Int16InterleavingTests, ChannelsAreInterleavedFrameByFrame) {
    const std::vector<std::vector<float>> channels = {
        {0.25f, 0.5f, 0.75f, 9.0f},
        {-0.25f, -0.5f, -0.75f, 9.0f},
        {0.0f, 2.0f, -2.0f, 9.0f},
    };
    std::vector<std::int16_t> interleaved(9, 77);
    interleaveAsInt16(channels, 3, interleaved);
    EXPECT_EQ(interleaved,
              (std::vector<std::int16_t>{8192, -8192, 0, 16384, -16384, 32767, 24576, -24576, -32768}));
}

}  // namespace
}  // namespace quillbridge
