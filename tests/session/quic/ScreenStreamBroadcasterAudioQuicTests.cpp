// The broadcaster's audio over the real QUIC transport on loopback with the real AAC-ELD encoder: the
// headset reads the format announcement, receives the datagrams and decodes them back into the tone.

#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <numbers>
#include <optional>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "core/BigEndian.hpp"
#include "core/Logger.hpp"
#include "core/SteadyClock.hpp"
#include "platform/linux/audio/FdkAacAudioConverterFactory.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/quic/LoopbackBroadcasterTest.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "support/audio/ElementaryStreamDescriptorReader.hpp"
#include "support/audio/FdkAacTestDecoder.hpp"
#include "support/audio/ToneAnalysis.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/session/LoopbackBroadcasterServices.hpp"
#include "wire/AudioFrameDatagram.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

class BroadcasterAudioOverQuicTest : public LoopbackBroadcasterTest {
protected:
    void SetUp() override {
        auto dependencies = loopbackDependencies(context.get_executor());
        dependencies.audioConverterFactory = &converters;
        startAdvertisedBroadcaster(std::move(dependencies));
    }

    FdkAacAudioConverterFactory converters;
};

TEST_F(BroadcasterAudioOverQuicTest, HeadsetDecodesTheAnnouncedToneFromTheDatagrams) {
    QuicTestClient client;
    auto connection = run(client.connect(port));
    auto control = run(connection->openStream(QuicStreamDirectionality::bidirectional));
    auto send = [&](const StreamControlMessage& message) {
        run(control->send(ControlMessageFraming::encode(message), false));
    };
    ASSERT_TRUE(sendPairingHello(*control, "Loopback Headset"));
    run(broadcaster->authorizeCurrentSession());
    send(StreamControlMessage::make<Case::receiverReady>());
    ASSERT_TRUE(runUntil([&] {
        while (broadcaster->updates().bufferedCount() > 0) {
            auto state = run(broadcaster->updates().next());
            if (state && state->kind == ScreenStreamBroadcaster::State::Kind::connected) {
                return true;
            }
        }
        return false;
    }));

    // 24 chunks (the whole flight window without receiver reports) of a 1 kHz tone in 10 ms buffers.
    constexpr std::uint32_t totalFrames = 24 * 512;
    constexpr std::uint32_t bufferFrames = 480;
    for (std::uint32_t first = 0; first < totalFrames; first += bufferFrames) {
        const std::uint32_t frames = std::min(bufferFrames, totalFrames - first);
        AudioPCMBuffer buffer;
        buffer.format = {48'000, 1, AudioSampleFormat::float32, false};
        buffer.frameLength = frames;
        auto& samples = buffer.floatChannels.emplace_back();
        for (std::uint32_t frame = first; frame < first + frames; ++frame) {
            samples.push_back(
                static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000 * frame / 48'000.0)));
        }
        buffer.presentationTimeNanoseconds = 1'000'000'000ull + first * 1'000'000'000ull / 48'000;
        run(broadcaster->sendAudioDatagrams(std::move(buffer)));
    }

    // The announcement arrives on the control stream (other host messages may come first).
    std::optional<AudioStreamFormatAnnouncementMessage> announcement;
    for (int read = 0; read < 20 && !announcement; ++read) {
        auto message = readControlMessage(*control);
        ASSERT_TRUE(message);
        if (const auto* format = message->get<Case::audioFormat>()) {
            announcement = *format;
        }
    }
    ASSERT_TRUE(announcement);
    EXPECT_EQ(announcement->revision, 1u);
    EXPECT_EQ(announcement->format.sampleRate, 48'000);
    EXPECT_EQ(announcement->format.channelCount, 1u);
    ASSERT_TRUE(announcement->format.magicCookie);
    const auto descriptor = readElementaryStreamDescriptor(*announcement->format.magicCookie);
    ASSERT_TRUE(descriptor);
    auto decoder = FdkAacTestDecoder::make(descriptor->audioSpecificConfig);
    ASSERT_TRUE(decoder);

    std::vector<float> output;
    for (std::uint64_t expectedChunk = 0; expectedChunk < 24; ++expectedChunk) {
        const Bytes datagram = run(connection->receiveDatagram());
        ASSERT_LE(datagram.size(), AudioFrameDatagram::maximumByteCount);
        std::size_t cursor = 0;
        ASSERT_EQ(readUInt8(datagram, cursor), AudioFrameDatagram::kindByte);
        EXPECT_EQ(readBigEndianUInt32(datagram, cursor), 1u);
        EXPECT_EQ(readUInt8(datagram, cursor), 1);
        EXPECT_EQ(readBigEndianUInt64(datagram, cursor), expectedChunk);
        // The chunk's time is its first frame's (to within the rounding of the buffer times).
        const auto time = static_cast<double>(readBigEndianUInt64(datagram, cursor).value_or(0));
        EXPECT_NEAR(time, 1e9 + static_cast<double>(expectedChunk * 512) * 1e9 / 48'000, 2);
        const auto packetCount = readBigEndianUInt16(datagram, cursor).value_or(0);
        ASSERT_EQ(packetCount, 1);
        cursor += 4;  // descriptions byte count
        const auto payloadBytes = readBigEndianUInt32(datagram, cursor).value_or(0);
        cursor += AudioPacketDescription::byteCount;
        ASSERT_EQ(cursor + payloadBytes, datagram.size());
        auto frame = decoder->decode(ByteView(datagram).subspan(cursor));
        ASSERT_TRUE(frame) << "chunk " << expectedChunk;
        ASSERT_EQ(frame->channels.size(), 1u);
        output.insert(output.end(), frame->channels[0].begin(), frame->channels[0].end());
    }
    ASSERT_EQ(output.size(), totalFrames);
    const auto steady = std::span<const float>(output).subspan(4096, 8192);
    EXPECT_NEAR(dominantFrequencyHertz(steady, 48'000, 200, 4000), 1000, 10);
}

}  // namespace
}  // namespace quillbridge
