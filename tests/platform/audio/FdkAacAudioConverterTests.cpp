#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "core/Logger.hpp"
#include "platform/linux/audio/FdkAacAudioConverter.hpp"
#include "platform/linux/audio/FdkAacAudioConverterFactory.hpp"
#include "session/AudioCompressionSession.hpp"
#include "session/AudioPCMAccumulator.hpp"
#include "support/audio/ElementaryStreamDescriptorReader.hpp"
#include "support/audio/FdkAacTestDecoder.hpp"
#include "support/audio/LibavAacTestDecoder.hpp"
#include "support/audio/ToneAnalysis.hpp"
#include "wire/AudioFrameDatagram.hpp"

namespace quillbridge {
namespace {

constexpr double toneAmplitude = 0.5;

AudioPCMFormat floatFormat(std::uint32_t channelCount, double sampleRate = 48'000) {
    return {sampleRate, channelCount, AudioSampleFormat::float32, false};
}

AudioCompressionSettings settingsFor(const AudioPCMFormat& format) {
    return {AudioCodec::aacELD, format.sampleRate, format.channelCount,
            AudioCompressionSession::bitRateBitsPerSecond(format.channelCount)};
}

// Sines of the given frequencies, one per channel, from frame `firstFrame` on.
AudioPCMBuffer makeTone(const AudioPCMFormat& format, const std::vector<double>& frequencies,
                        std::uint32_t firstFrame, std::uint32_t frameCount) {
    AudioPCMBuffer buffer;
    buffer.format = format;
    buffer.frameLength = frameCount;
    for (double frequency : frequencies) {
        auto& samples = buffer.floatChannels.emplace_back();
        for (std::uint32_t frame = firstFrame; frame < firstFrame + frameCount; ++frame) {
            samples.push_back(static_cast<float>(
                toneAmplitude * std::sin(2 * std::numbers::pi * frequency * frame / format.sampleRate)));
        }
    }
    return buffer;
}

// The audio object type an AudioSpecificConfig names (5 bits, 31 escaping to 32 + the next 6 bits).
int audioObjectType(const Bytes& config) {
    const int first = config.at(0) >> 3;
    if (first != 31)
        return first;
    return 32 + (((config.at(0) & 0x07) << 3) | (config.at(1) >> 5));
}

Bytes audioSpecificConfigOf(const AudioStreamFormatMessage& message) {
    if (!message.magicCookie)
        return {};
    auto descriptor = readElementaryStreamDescriptor(*message.magicCookie);
    return descriptor ? descriptor->audioSpecificConfig : Bytes{};
}

// Captured audio as it arrives (10 ms buffers) through the accumulator and the compression session.
struct EncodedTone {
    std::size_t chunkCount = 0;
    std::vector<EncodedAudioPacket> packets;
};

EncodedTone encodeTone(AudioCompressionSession& session, const AudioPCMFormat& format,
                       const std::vector<double>& frequencies, std::uint32_t frameCount) {
    constexpr std::uint32_t captureFrames = 480;
    AudioPCMAccumulator accumulator;
    EncodedTone result;
    for (std::uint32_t frame = 0; frame < frameCount; frame += captureFrames) {
        for (const auto& chunk :
             accumulator.append(makeTone(format, frequencies, frame, captureFrames), frame)) {
            ++result.chunkCount;
            if (auto packet = session.encode(chunk.buffer))
                result.packets.push_back(std::move(*packet));
        }
    }
    return result;
}

TEST(FdkAacAudioConverterTests, EncodedToneDecodesBackWithFdkAacAndLibavcodec) {
    const struct {
        std::string name;
        std::vector<double> frequencies;
    } cases[] = {
        {"mono 1 kHz", {1000}},
        {"stereo, 1 kHz left and 2.5 kHz right", {1000, 2500}},
    };
    for (const auto& [name, frequencies] : cases) {
        SCOPED_TRACE(name);
        const auto format = floatFormat(static_cast<std::uint32_t>(frequencies.size()));
        FdkAacAudioConverterFactory factory;
        AudioCompressionSession session(factory);
        const auto encoded = encodeTone(session, format, frequencies, 48'000);

        ASSERT_EQ(encoded.chunkCount, 48'000u / 512);
        ASSERT_EQ(encoded.packets.size(), encoded.chunkCount)
            << "one packet per chunk, from the first chunk on";
        for (const auto& packet : encoded.packets) {
            ASSERT_EQ(packet.packetDescriptions.size(), 1u);
            EXPECT_EQ(packet.packetDescriptions[0],
                      (AudioPacketDescription{std::uint32_t(packet.payload.size()), 0}));
            EXPECT_LE(packet.payload.size(), session.maximumPacketSize());
            EXPECT_LE(AudioFrameDatagram::fixedByteCount + AudioPacketDescription::byteCount +
                          packet.payload.size(),
                      AudioFrameDatagram::maximumByteCount);
            EXPECT_EQ(packet.formatMessage, session.formatMessage());
        }
        const auto& message = encoded.packets.front().formatMessage;
        EXPECT_EQ(message.codec, AudioCodec::aacELD);
        EXPECT_EQ(message.sampleRate, 48'000);
        EXPECT_EQ(message.channelCount, format.channelCount);

        const Bytes config = audioSpecificConfigOf(message);
        ASSERT_FALSE(config.empty()) << "the cookie is an ES_Descriptor around the AudioSpecificConfig";
        EXPECT_EQ(audioObjectType(config), 39);

        auto fdkDecoder = FdkAacTestDecoder::make(config);
        auto libavDecoder = LibavAacTestDecoder::make(config);
        ASSERT_TRUE(fdkDecoder);
        ASSERT_TRUE(libavDecoder);
        for (AacTestDecoder* decoder : {static_cast<AacTestDecoder*>(fdkDecoder.get()),
                                        static_cast<AacTestDecoder*>(libavDecoder.get())}) {
            const bool isFdk = decoder == fdkDecoder.get();
            SCOPED_TRACE(isFdk ? "fdk-aac decoder" : "libavcodec decoder");
            std::vector<std::vector<float>> output(format.channelCount);
            for (std::size_t index = 0; index < encoded.packets.size(); ++index) {
                auto frame = decoder->decode(encoded.packets[index].payload);
                ASSERT_TRUE(frame) << "packet " << index;
                ASSERT_EQ(frame->channels.size(), format.channelCount);
                for (std::size_t channel = 0; channel < format.channelCount; ++channel) {
                    ASSERT_EQ(frame->channels[channel].size(), 512u) << "packet " << index;
                    output[channel].insert(output[channel].end(), frame->channels[channel].begin(),
                                           frame->channels[channel].end());
                }
            }
            if (isFdk) {
                const auto info = fdkDecoder->streamInfo();
                EXPECT_EQ(info.audioObjectType, 39);
                EXPECT_EQ(info.sampleRate, 48'000);
                EXPECT_EQ(info.channelCount, static_cast<int>(format.channelCount));
                EXPECT_EQ(info.frameSize, 512) << "no spectral band replication";
            }
            for (std::size_t channel = 0; channel < format.channelCount; ++channel) {
                // Past the codec delay and the encoder's first frames.
                const auto steady = std::span<const float>(output[channel]).subspan(4096, 8192);
                EXPECT_NEAR(dominantFrequencyHertz(steady, 48'000, 200, 4000), frequencies[channel], 10)
                    << "channel " << channel;
                EXPECT_NEAR(rootMeanSquare(steady), toneAmplitude / std::numbers::sqrt2, 0.05)
                    << "channel " << channel;
            }
        }
    }
}

TEST(FdkAacAudioConverterTests, EqualFormatsGiveByteIdenticalCookiesAcrossConvertersAndSessions) {
    const AudioPCMFormat formats[] = {floatFormat(1), floatFormat(2), floatFormat(2, 44'100), floatFormat(6)};
    std::vector<Bytes> cookies;
    for (const auto& format : formats) {
        SCOPED_TRACE(testing::Message() << format.channelCount << " channels at " << format.sampleRate);
        FdkAacAudioConverterFactory firstFactory;
        FdkAacAudioConverterFactory secondFactory;
        AudioCompressionSession first(firstFactory);
        AudioCompressionSession second(secondFactory);
        const std::vector<double> frequencies(format.channelCount, 440);
        ASSERT_TRUE(first.encode(makeTone(format, frequencies, 0, 512)));
        ASSERT_TRUE(first.encode(makeTone(format, frequencies, 512, 512)));
        ASSERT_TRUE(second.configureIfNeeded(format));
        ASSERT_TRUE(first.formatMessage() && first.formatMessage()->magicCookie);
        EXPECT_EQ(first.formatMessage(), second.formatMessage());

        first.reset();
        ASSERT_TRUE(first.encode(makeTone(format, frequencies, 0, 512)));
        EXPECT_EQ(first.formatMessage(), second.formatMessage()) << "a fresh converter after reset";

        const auto cookie = *first.formatMessage()->magicCookie;
        auto descriptor = readElementaryStreamDescriptor(cookie);
        ASSERT_TRUE(descriptor);
        auto converter = FdkAacAudioConverter::make(format, settingsFor(format));
        ASSERT_TRUE(converter);
        EXPECT_EQ(descriptor->audioSpecificConfig, converter->audioSpecificConfig());
        EXPECT_EQ(descriptor->averageBitRateBitsPerSecond,
                  AudioCompressionSession::bitRateBitsPerSecond(format.channelCount));
        cookies.push_back(cookie);
    }
    for (std::size_t left = 0; left < cookies.size(); ++left) {
        for (std::size_t right = left + 1; right < cookies.size(); ++right)
            EXPECT_NE(cookies[left], cookies[right]) << left << " and " << right;
    }
}

TEST(FdkAacAudioConverterTests, EveryChunkGivesExactlyOnePacketWhateverItHolds) {
    const AudioPCMFormat formats[] = {floatFormat(1), floatFormat(2), floatFormat(2, 44'100),
                                      floatFormat(6), floatFormat(8), floatFormat(1, 16'000)};
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (const auto& format : formats) {
        SCOPED_TRACE(testing::Message() << format.channelCount << " channels at " << format.sampleRate);
        auto converter = FdkAacAudioConverter::make(format, settingsFor(format));
        ASSERT_TRUE(converter);
        for (int chunk = 0; chunk < 40; ++chunk) {
            AudioPCMBuffer buffer;
            buffer.format = format;
            buffer.frameLength = 512;
            for (std::uint32_t channel = 0; channel < format.channelCount; ++channel) {
                auto& samples = buffer.floatChannels.emplace_back(512, 0.0f);
                // Silence, full-scale noise, then samples far past full scale, infinite or not a number.
                for (std::size_t frame = 0; frame < 512; ++frame) {
                    if (chunk >= 10 && chunk < 25)
                        samples[frame] = noise(random);
                    else if (chunk >= 25)
                        samples[frame] = frame % 3 == 0   ? 40.0f
                                         : frame % 3 == 1 ? -std::numeric_limits<float>::infinity()
                                                          : std::numeric_limits<float>::quiet_NaN();
                }
            }
            AudioCompressedBuffer output{1, converter->maximumOutputPacketSize(), {}, {}};
            ASSERT_EQ(converter->convert(buffer, output), AudioConverterOutputStatus::haveData)
                << "chunk " << chunk;
            ASSERT_EQ(output.packetDescriptions.size(), 1u) << "chunk " << chunk;
            EXPECT_EQ(output.packetDescriptions[0].dataByteSize, output.data.size());
            EXPECT_GT(output.data.size(), 0u);
            EXPECT_LE(output.data.size(), converter->maximumOutputPacketSize());
        }
    }
}

TEST(FdkAacAudioConverterTests, FramesShortOfAPacketWaitForTheNextCall) {
    const auto format = floatFormat(2);
    auto converter = FdkAacAudioConverter::make(format, settingsFor(format));
    ASSERT_TRUE(converter);
    const std::vector<double> frequencies{1000, 1000};
    const struct {
        std::uint32_t frameCount;
        std::size_t packetCapacity;
        AudioConverterOutputStatus status;
        std::size_t packetCount;
    } steps[] = {
        {300, 1, AudioConverterOutputStatus::inputRanDry, 0},
        {212, 1, AudioConverterOutputStatus::haveData, 1},
        {1100, 2, AudioConverterOutputStatus::haveData, 2},
        {436, 1, AudioConverterOutputStatus::haveData, 1},
        {1536, 2, AudioConverterOutputStatus::error, 0},
    };
    std::uint32_t firstFrame = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.frameCount);
        AudioCompressedBuffer output{step.packetCapacity, converter->maximumOutputPacketSize(), {}, {}};
        EXPECT_EQ(converter->convert(makeTone(format, frequencies, firstFrame, step.frameCount), output),
                  step.status);
        if (step.status != AudioConverterOutputStatus::error) {
            EXPECT_EQ(output.packetDescriptions.size(), step.packetCount);
        }
        firstFrame += step.frameCount;
    }
}

TEST(FdkAacAudioConverterTests, RefusesFormatsItCannotEncode) {
    auto with = [](auto change) {
        AudioPCMFormat input = floatFormat(2);
        AudioCompressionSettings settings = settingsFor(input);
        change(input, settings);
        return std::pair{input, settings};
    };
    const std::pair<std::string, std::pair<AudioPCMFormat, AudioCompressionSettings>> cases[] = {
        {"interleaved input", with([](auto& input, auto&) { input.isInterleaved = true; })},
        {"16-bit input", with([](auto& input, auto&) { input.sampleFormat = AudioSampleFormat::int16; })},
        {"output at another rate", with([](auto&, auto& settings) { settings.sampleRate = 44'100; })},
        {"output with other channels", with([](auto&, auto& settings) { settings.channelCount = 1; })},
        {"no channels",
         with([](auto& input, auto& settings) { input.channelCount = settings.channelCount = 0; })},
        {"9 channels",
         with([](auto& input, auto& settings) { input.channelCount = settings.channelCount = 9; })},
        {"fractional rate",
         with([](auto& input, auto& settings) { input.sampleRate = settings.sampleRate = 47'999.5; })},
        {"192 kHz",
         with([](auto& input, auto& settings) { input.sampleRate = settings.sampleRate = 192'000; })},
        {"7 kHz", with([](auto& input, auto& settings) { input.sampleRate = settings.sampleRate = 7'000; })},
        {"rate not a number",
         with([](auto& input, auto& settings) { input.sampleRate = settings.sampleRate = std::nan(""); })},
        {"no bit rate", with([](auto&, auto& settings) { settings.bitRateBitsPerSecond = 0; })},
    };
    ScopedLogCapture logs;
    FdkAacAudioConverterFactory factory;
    for (const auto& [name, request] : cases)
        EXPECT_EQ(factory.makeConverter(request.first, request.second), nullptr) << name;
}

TEST(FdkAacAudioConverterTests, RefusesBuffersThatDoNotMatchItsInput) {
    const auto format = floatFormat(2);
    auto converter = FdkAacAudioConverter::make(format, settingsFor(format));
    ASSERT_TRUE(converter);
    auto changed = [&](auto change) {
        auto buffer = makeTone(format, {1000, 1000}, 0, 512);
        change(buffer);
        return buffer;
    };
    const std::pair<std::string, AudioPCMBuffer> cases[] = {
        {"another sample rate", changed([](auto& buffer) { buffer.format.sampleRate = 44'100; })},
        {"one channel missing", changed([](auto& buffer) {
             buffer.format.channelCount = 1;
             buffer.floatChannels.pop_back();
         })},
        {"a channel shorter than the frame length",
         changed([](auto& buffer) { buffer.floatChannels[1].resize(100); })},
        {"no float data", changed([](auto& buffer) { buffer.floatChannels.clear(); })},
    };
    for (const auto& [name, buffer] : cases) {
        AudioCompressedBuffer output{1, converter->maximumOutputPacketSize(), {}, {}};
        EXPECT_EQ(converter->convert(buffer, output), AudioConverterOutputStatus::error) << name;
    }
    AudioCompressedBuffer output{1, converter->maximumOutputPacketSize(), {}, {}};
    EXPECT_EQ(converter->convert(makeTone(format, {1000, 1000}, 0, 512), output),
              AudioConverterOutputStatus::haveData);
}

}  // namespace
}  // namespace quillbridge
