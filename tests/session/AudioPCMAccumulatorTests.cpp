#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "session/AudioPCMAccumulator.hpp"

namespace quillbridge {
namespace {

using Segment = AudioPCMAccumulator::QueuedAudioSegment;

constexpr std::uint64_t t0 = 5'000'000'000;
constexpr std::uint64_t maximumTime = std::numeric_limits<std::uint64_t>::max();

constexpr AudioPCMFormat stereo48k{48'000, 2, AudioSampleFormat::float32, false};
constexpr AudioPCMFormat mono48k{48'000, 1, AudioSampleFormat::float32, false};

// Channel c of frame i (counting from `firstFrame`) holds (c + 1) × (firstFrame + i), so every sample says
// where it came from.
AudioPCMBuffer makeBuffer(const AudioPCMFormat& format, std::uint32_t frameCount,
                          std::uint32_t firstFrame = 0) {
    AudioPCMBuffer buffer;
    buffer.format = format;
    buffer.frameLength = frameCount;
    buffer.floatChannels.resize(format.channelCount);
    for (std::uint32_t channel = 0; channel < format.channelCount; ++channel) {
        for (std::uint32_t frame = 0; frame < frameCount; ++frame)
            buffer.floatChannels[channel].push_back(static_cast<float>((channel + 1) * (firstFrame + frame)));
    }
    return buffer;
}

struct Append {
    std::uint32_t frameCount;
    std::uint64_t presentationTimeNanoseconds;
};

struct TimingCase {
    std::string name;
    std::vector<Append> appends;
    // The times of the chunks each append returns.
    std::vector<std::vector<std::uint64_t>> chunkTimes;
    std::vector<Segment> segmentsLeft;
};

TEST(AudioPCMAccumulatorTests, ChunkTimesCarryTheBufferTimes) {
    const TimingCase cases[] = {
        {"300 + 300 frames: the second buffer's leftover time advances by 212 frames",
         {{300, t0}, {300, t0 + 6'250'000}},
         {{}, {t0}},
         {{t0 + 6'250'000 + 4'416'667, 88}}},
        {"the advanced leftover time stamps the next chunk",
         {{300, t0}, {300, t0 + 6'250'000}, {424, t0 + 12'500'000}},
         {{}, {t0}, {t0 + 10'666'667}},
         {}},
        {"1,100 frames at once: two chunks, 76 frames left",
         {{1100, t0}},
         {{t0, t0 + 10'666'667}},
         {{t0 + 2 * 10'666'667, 76}}},
        {"a gap between buffers passes into the chunk times",
         {{512, t0}, {512, t0 + 50'000'000}},
         {{t0}, {t0 + 50'000'000}},
         {}},
        {"an empty buffer neither cuts nor stamps a chunk",
         {{512, t0}, {0, t0 + 999}, {512, t0 + 20'000'000}},
         {{t0}, {}, {t0 + 20'000'000}},
         {}},
        {"a time at the end of the range stays there",
         {{1100, maximumTime - 5'000'000}},
         {{maximumTime - 5'000'000, maximumTime}},
         {{maximumTime, 76}}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        AudioPCMAccumulator accumulator;
        std::size_t framesAppended = 0;
        for (std::size_t index = 0; index < testCase.appends.size(); ++index) {
            const auto& append = testCase.appends[index];
            auto chunks = accumulator.append(makeBuffer(mono48k, append.frameCount),
                                             append.presentationTimeNanoseconds);
            framesAppended += append.frameCount;
            std::vector<std::uint64_t> times;
            for (const auto& chunk : chunks) {
                times.push_back(chunk.presentationTimeNanoseconds);
                EXPECT_EQ(chunk.buffer.presentationTimeNanoseconds, chunk.presentationTimeNanoseconds);
            }
            EXPECT_EQ(times, testCase.chunkTimes[index]) << "append " << index;
        }
        EXPECT_EQ(accumulator.queuedSegments(), testCase.segmentsLeft);
        EXPECT_EQ(accumulator.queuedFrameCount(), framesAppended % 512);
    }
}

TEST(AudioPCMAccumulatorTests, ChunksHoldTheSamplesInOrderChannelByChannel) {
    AudioPCMAccumulator accumulator;
    std::vector<TimestampedAudioChunk> chunks;
    std::uint32_t nextFrame = 0;
    for (std::uint32_t frameCount : {300u, 300u, 1100u, 7u, 517u}) {
        for (auto& chunk : accumulator.append(makeBuffer(stereo48k, frameCount, nextFrame), t0))
            chunks.push_back(std::move(chunk));
        nextFrame += frameCount;
    }
    ASSERT_EQ(chunks.size(), nextFrame / 512);
    for (std::size_t index = 0; index < chunks.size(); ++index) {
        const auto& buffer = chunks[index].buffer;
        EXPECT_EQ(buffer.format, stereo48k);
        EXPECT_EQ(buffer.frameLength, 512u);
        ASSERT_TRUE(buffer.hasFloatChannelData());
        for (std::uint32_t channel = 0; channel < 2; ++channel) {
            ASSERT_EQ(buffer.floatChannels[channel].size(), 512u);
            for (std::uint32_t frame = 0; frame < 512; ++frame) {
                ASSERT_EQ(buffer.floatChannels[channel][frame], float((channel + 1) * (index * 512 + frame)))
                    << "chunk " << index << " channel " << channel << " frame " << frame;
            }
        }
    }
    EXPECT_EQ(accumulator.queuedFrameCount(), nextFrame % 512);
}

TEST(AudioPCMAccumulatorTests, AnotherFormatThrowsTheQueuedAudioAway) {
    const std::pair<std::string, AudioPCMFormat> changes[] = {
        {"sample rate", {44'100, 2, AudioSampleFormat::float32, false}},
        {"channel count", mono48k},
    };
    for (const auto& [name, format] : changes) {
        SCOPED_TRACE(name);
        AudioPCMAccumulator accumulator;
        EXPECT_TRUE(accumulator.append(makeBuffer(stereo48k, 300, 100'000), t0).empty());

        EXPECT_TRUE(accumulator.append(makeBuffer(format, 300), t0 + 1'000'000).empty());
        EXPECT_EQ(accumulator.currentFormat(), format);
        EXPECT_EQ(accumulator.queuedFrameCount(), 300u);
        EXPECT_EQ(accumulator.queuedSegments(), (std::vector<Segment>{{t0 + 1'000'000, 300}}));

        auto chunks = accumulator.append(makeBuffer(format, 212, 300), t0 + 2'000'000);
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_EQ(chunks[0].presentationTimeNanoseconds, t0 + 1'000'000);
        EXPECT_EQ(chunks[0].buffer.format, format);
        ASSERT_EQ(chunks[0].buffer.floatChannels.size(), format.channelCount);
        EXPECT_EQ(chunks[0].buffer.floatChannels[0].front(), 0.0f) << "no sample of the old format survives";
        EXPECT_EQ(chunks[0].buffer.floatChannels[0].back(), 511.0f);
    }
}

TEST(AudioPCMAccumulatorTests, BufferWithoutUsableFloatDataResetsEverything) {
    auto withFormat = [](AudioSampleFormat sampleFormat, bool interleaved) {
        auto buffer = makeBuffer(stereo48k, 600);
        buffer.format.sampleFormat = sampleFormat;
        buffer.format.isInterleaved = interleaved;
        if (sampleFormat != AudioSampleFormat::float32 || interleaved) {
            buffer.floatChannels.clear();
            buffer.interleavedData.assign(600 * 2 * 4, 0);
        }
        return buffer;
    };
    auto changed = [](auto change) {
        auto buffer = makeBuffer(stereo48k, 600);
        change(buffer);
        return buffer;
    };
    const std::pair<std::string, AudioPCMBuffer> cases[] = {
        {"16-bit integers", withFormat(AudioSampleFormat::int16, true)},
        {"interleaved floats", withFormat(AudioSampleFormat::float32, true)},
        {"64-bit floats", withFormat(AudioSampleFormat::float64, false)},
        {"a channel array missing", changed([](auto& buffer) { buffer.floatChannels.pop_back(); })},
        {"a channel shorter than the frame length",
         changed([](auto& buffer) { buffer.floatChannels[1].resize(599); })},
        {"no channels", makeBuffer({48'000, 0, AudioSampleFormat::float32, false}, 600)},
        {"sample rate 0", changed([](auto& buffer) { buffer.format.sampleRate = 0; })},
        {"sample rate not a number", changed([](auto& buffer) { buffer.format.sampleRate = std::nan(""); })},
        {"infinite sample rate", changed([](auto& buffer) { buffer.format.sampleRate = INFINITY; })},
    };
    for (const auto& [name, unusable] : cases) {
        SCOPED_TRACE(name);
        AudioPCMAccumulator accumulator;
        EXPECT_TRUE(accumulator.append(makeBuffer(stereo48k, 300), t0).empty());

        EXPECT_TRUE(accumulator.append(unusable, t0 + 6'250'000).empty());
        EXPECT_EQ(accumulator.currentFormat(), std::nullopt);
        EXPECT_EQ(accumulator.queuedFrameCount(), 0u);
        EXPECT_TRUE(accumulator.queuedSegments().empty());

        EXPECT_TRUE(accumulator.append(makeBuffer(stereo48k, 300), t0 + 20'000'000).empty());
        EXPECT_EQ(accumulator.queuedFrameCount(), 300u) << "the audio before the unusable buffer is gone";
    }
}

TEST(AudioPCMAccumulatorTests, ResetForgetsFormatSamplesAndSegments) {
    AudioPCMAccumulator accumulator;
    accumulator.append(makeBuffer(stereo48k, 700), t0);
    accumulator.reset();
    EXPECT_EQ(accumulator.currentFormat(), std::nullopt);
    EXPECT_EQ(accumulator.queuedFrameCount(), 0u);
    EXPECT_TRUE(accumulator.queuedSegments().empty());

    auto chunks = accumulator.append(makeBuffer(mono48k, 512, 40), t0 + 1);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].presentationTimeNanoseconds, t0 + 1);
    EXPECT_EQ(chunks[0].buffer.floatChannels[0].front(), 40.0f);
}

}  // namespace
}  // namespace quillbridge
