#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/AudioCompressionSession.hpp"
#include "support/audio/FakeAudioConverterFactory.hpp"

namespace quillbridge {
namespace {

constexpr AudioPCMFormat stereo48k{48'000, 2, AudioSampleFormat::float32, false};

AudioPCMBuffer makeChunk(const AudioPCMFormat& format, std::uint32_t frameCount = 512) {
    AudioPCMBuffer buffer;
    buffer.format = format;
    buffer.frameLength = frameCount;
    buffer.floatChannels.assign(format.channelCount, std::vector<float>(frameCount, 0.25f));
    return buffer;
}

AudioPCMFormat withChannels(std::uint32_t channelCount, double sampleRate = 48'000) {
    return {sampleRate, channelCount, AudioSampleFormat::float32, false};
}

TEST(AudioCompressionSessionTests, AsksForAacEldAtTheInputRateWithTheBitRateOfItsChannels) {
    const struct {
        AudioPCMFormat format;
        std::uint32_t bitRate;
    } cases[] = {
        {withChannels(1), 48'000},
        {withChannels(2, 44'100), 96'000},
        {withChannels(3), 128'000},
        {withChannels(6), 128'000},
    };
    for (const auto& [format, bitRate] : cases) {
        SCOPED_TRACE(format.channelCount);
        FakeAudioConverterFactory factory;
        AudioCompressionSession session(factory);
        ASSERT_TRUE(session.encode(makeChunk(format)));
        ASSERT_EQ(factory.requests.size(), 1u);
        EXPECT_EQ(factory.requests[0].inputFormat, format);
        EXPECT_EQ(
            factory.requests[0].settings,
            (AudioCompressionSettings{AudioCodec::aacELD, format.sampleRate, format.channelCount, bitRate}));
    }
}

TEST(AudioCompressionSessionTests, KeepsItsConverterUntilTheInputFormatChanges) {
    auto changed = [](auto change) {
        AudioPCMFormat format = stereo48k;
        change(format);
        return format;
    };
    const std::pair<std::string, AudioPCMFormat> changes[] = {
        {"sample rate", changed([](auto& format) { format.sampleRate = 44'100; })},
        {"channel count", changed([](auto& format) { format.channelCount = 1; })},
        {"interleaving", changed([](auto& format) { format.isInterleaved = true; })},
        {"sample format", changed([](auto& format) { format.sampleFormat = AudioSampleFormat::int16; })},
    };
    for (const auto& [name, format] : changes) {
        SCOPED_TRACE(name);
        FakeAudioConverterFactory factory;
        AudioCompressionSession session(factory);
        for (int chunk = 0; chunk < 3; ++chunk)
            ASSERT_TRUE(session.encode(makeChunk(stereo48k)));
        EXPECT_EQ(factory.requests.size(), 1u);

        ASSERT_TRUE(session.configureIfNeeded(format));
        EXPECT_EQ(factory.requests.size(), 2u);
        EXPECT_EQ(session.inputFormat(), format);
        EXPECT_EQ(factory.liveConverterCount, 1u) << "the converter of the old format is released";
        EXPECT_TRUE(session.configureIfNeeded(format));
        EXPECT_EQ(factory.requests.size(), 2u);
    }
}

TEST(AudioCompressionSessionTests, FailedSetUpLeavesThePreviousConverterInPlace) {
    FakeAudioConverterFactory factory;
    AudioCompressionSession session(factory);
    ASSERT_TRUE(session.encode(makeChunk(stereo48k)));
    const auto formatMessage = session.formatMessage();

    factory.refusesConverters = true;
    EXPECT_FALSE(session.configureIfNeeded(withChannels(1)));
    EXPECT_FALSE(session.encode(makeChunk(withChannels(1))));
    EXPECT_EQ(session.inputFormat(), stereo48k);
    EXPECT_EQ(session.formatMessage(), formatMessage);
    EXPECT_EQ(session.maximumPacketSize(), 400u);
    EXPECT_EQ(factory.liveConverterCount, 1u);
    EXPECT_EQ(factory.conversions.size(), 1u) << "nothing was converted in the refused format";

    ASSERT_TRUE(session.encode(makeChunk(stereo48k)));
    EXPECT_EQ(factory.requests.size(), 3u);
    EXPECT_EQ(factory.conversions.back().converterIndex, 0u);
}

TEST(AudioCompressionSessionTests, DescribesTheConverterOutputAndSizesTheOutputBuffer) {
    const struct {
        std::size_t reportedPacketSize;
        std::size_t maximumPacketSize;
        std::optional<Bytes> magicCookie;
    } cases[] = {
        {0, 1, Bytes{0x03, 0x01}},
        {1, 1, std::nullopt},
        {2, 2, Bytes{}},
        {1536, 1536, Bytes{0x03, 0x80, 0x07}},
    };
    for (const auto& [reported, expected, cookie] : cases) {
        SCOPED_TRACE(reported);
        FakeAudioConverterFactory factory;
        factory.maximumOutputPacketSize = reported;
        factory.magicCookie = cookie;
        AudioCompressionSession session(factory);
        auto packet = session.encode(makeChunk(stereo48k));
        ASSERT_TRUE(packet);

        EXPECT_EQ(session.maximumPacketSize(), expected);
        EXPECT_EQ(session.compressedFormat(), (AudioCompressedFormat{AudioCodec::aacELD, 48'000, 2}));
        const AudioStreamFormatMessage message{AudioCodec::aacELD, 48'000, 2, cookie};
        EXPECT_EQ(session.formatMessage(), message);
        EXPECT_EQ(packet->formatMessage, message);

        ASSERT_EQ(factory.conversions.size(), 1u);
        EXPECT_EQ(factory.conversions[0].frameLength, 512u);
        EXPECT_EQ(factory.conversions[0].packetCapacity, 1u)
            << "room for the one packet of a 512-frame chunk";
        EXPECT_EQ(factory.conversions[0].maximumPacketSize, expected);
    }
}

TEST(AudioCompressionSessionTests, PacketComesFromTheConvertedBytes) {
    using Status = AudioConverterOutputStatus;
    const struct {
        std::string name;
        FakeAudioConversion conversion;
        std::optional<std::vector<AudioPacketDescription>> descriptions;
    } cases[] = {
        {"bytes without descriptions: one description covers them",
         {Status::haveData, Bytes(117, 1), {}},
         {{{117, 0}}}},
        {"input ran dry after a packet", {Status::inputRanDry, Bytes(64, 2), {}}, {{{64, 0}}}},
        {"end of stream after a packet", {Status::endOfStream, Bytes(9, 3), {}}, {{{9, 0}}}},
        {"the converter's own descriptions are kept",
         {Status::haveData, Bytes(150, 4), {{100, 0}, {50, 512}}},
         {{{100, 0}, {50, 512}}}},
        {"no bytes: no packet", {Status::haveData, Bytes{}, {}}, std::nullopt},
        {"input ran dry before a packet", {Status::inputRanDry, Bytes{}, {}}, std::nullopt},
        {"an error, even with bytes: no packet", {Status::error, Bytes(100, 5), {}}, std::nullopt},
    };
    for (const auto& [name, conversion, descriptions] : cases) {
        SCOPED_TRACE(name);
        FakeAudioConverterFactory factory;
        factory.scriptedConversions.push_back(conversion);
        AudioCompressionSession session(factory);
        auto packet = session.encode(makeChunk(stereo48k));
        ASSERT_EQ(packet.has_value(), descriptions.has_value());
        if (packet) {
            EXPECT_EQ(packet->payload, conversion.data);
            EXPECT_EQ(packet->packetDescriptions, *descriptions);
            EXPECT_EQ(packet->formatMessage, session.formatMessage());
        }
        EXPECT_TRUE(session.encode(makeChunk(stereo48k))) << "one lost chunk does not stop the next";
        EXPECT_EQ(factory.requests.size(), 1u);
    }
}

TEST(AudioCompressionSessionTests, ResetForgetsTheConverterAndTheNextChunkBuildsAFreshOne) {
    FakeAudioConverterFactory factory;
    AudioCompressionSession session(factory);
    ASSERT_TRUE(session.encode(makeChunk(stereo48k)));

    session.reset();
    EXPECT_EQ(factory.liveConverterCount, 0u);
    EXPECT_EQ(session.inputFormat(), std::nullopt);
    EXPECT_EQ(session.compressedFormat(), std::nullopt);
    EXPECT_EQ(session.formatMessage(), std::nullopt);
    EXPECT_EQ(session.maximumPacketSize(), 0u);

    factory.magicCookie = Bytes{0x03, 0x02};
    auto packet = session.encode(makeChunk(stereo48k));
    ASSERT_TRUE(packet);
    EXPECT_EQ(factory.requests.size(), 2u) << "the same format still gets a new converter";
    EXPECT_EQ(factory.conversions.back().converterIndex, 1u);
    EXPECT_EQ(packet->formatMessage.magicCookie, factory.magicCookie);
}

}  // namespace
}  // namespace quillbridge
