#include "platform/linux/video/LibavPersonaCameraFrameDecoder.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "bridge/DecodingPersonaCameraReceiver.hpp"
#include "bridge/LengthPrefixedNalUnits.hpp"
#include "support/headset/PersonaCameraTestEncoder.hpp"

namespace quillbridge {
namespace {

constexpr std::int64_t frameDuration = 1'000'000'000 / 30;

// Collects what the decoder's thread hands out.
class FrameCollector {
public:
    PersonaCameraFrameDecoder::OutputHandler handler() {
        return [this](DecodedPersonaCameraFrame frame) {
            std::lock_guard guard(mutex_);
            frames_.push_back(std::move(frame));
            changed_.notify_all();
        };
    }
    // The frames once there are `count` of them (a generous bound keeps a broken decoder from hanging the
    // test).
    std::vector<DecodedPersonaCameraFrame> waitFor(std::size_t count) {
        std::unique_lock guard(mutex_);
        changed_.wait_for(guard, std::chrono::seconds(30), [&] { return frames_.size() >= count; });
        return frames_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DecodedPersonaCameraFrame> frames_;
};

struct Colour {
    std::uint8_t red, green, blue;
    // BT.601 video range, as the test encoder writes it.
    int luma() const {
        return static_cast<int>(std::lround(16 + (65.481 * red + 128.553 * green + 24.966 * blue) / 255.0));
    }
    int chromaBlue() const {
        return static_cast<int>(std::lround(128 + (-37.797 * red - 74.203 * green + 112.0 * blue) / 255.0));
    }
    int chromaRed() const {
        return static_cast<int>(std::lround(128 + (112.0 * red - 93.786 * green - 18.214 * blue) / 255.0));
    }
};

const std::vector<Colour> colours{{200, 30, 40}, {20, 180, 60}, {40, 60, 220}, {250, 250, 250}, {10, 10, 10}};

struct EncodedStream {
    std::shared_ptr<const PersonaCameraFormatDescription> format;
    std::vector<EncodedVideoFrame> frames;
};

EncodedStream encode(int width, int height, PersonaCameraTestEncoder::Options options,
                     std::size_t frameCount) {
    EncodedStream stream;
    auto encoder = PersonaCameraTestEncoder::make(width, height, options);
    if (!encoder) {
        return stream;
    }
    for (std::size_t index = 0; index < frameCount; ++index) {
        const Colour& colour = colours[index % colours.size()];
        auto frame =
            encoder->encode(colour.red, colour.green, colour.blue, index + 1, (index + 1) * frameDuration);
        if (!frame) {
            return {};
        }
        stream.frames.push_back(std::move(*frame));
    }
    if (encoder->format()) {
        if (auto description = PersonaCameraFormatDescription::make(*encoder->format())) {
            stream.format = std::make_shared<const PersonaCameraFormatDescription>(std::move(*description));
        }
    }
    return stream;
}

PersonaCameraSampleBuffer sampleOf(const EncodedStream& stream, std::size_t index) {
    PersonaCameraSampleBuffer sample;
    sample.annexBPayload = *LengthPrefixedNalUnits::toAnnexB(stream.frames[index].payload, 4);
    sample.presentationTimeNanoseconds = 7'000'000'000 + static_cast<std::int64_t>(index) * frameDuration;
    sample.isNotSync = !stream.frames[index].isKeyFrame;
    sample.formatDescription = stream.format;
    return sample;
}

void expectColour(const DecodedPersonaCameraFrame& frame, const Colour& colour) {
    // Sample the middle of the picture, away from any edge effects.
    const std::size_t row = static_cast<std::size_t>(frame.height) / 2;
    const std::size_t column = static_cast<std::size_t>(frame.width) / 2 & ~std::size_t{1};
    const int luma = frame.lumaPlane[row * static_cast<std::size_t>(frame.width) + column];
    const std::size_t chroma = row / 2 * static_cast<std::size_t>(frame.chromaRowByteCount()) + column;
    EXPECT_NEAR(luma, colour.luma(), 3);
    EXPECT_NEAR(frame.chromaPlane[chroma], colour.chromaBlue(), 3);
    EXPECT_NEAR(frame.chromaPlane[chroma + 1], colour.chromaRed(), 3);
}

struct StreamCase {
    const char* name;
    PersonaCameraTestEncoder::Options options;
    int width;
    int height;
};

TEST(LibavPersonaCameraFrameDecoder, DecodesH264AndHevcToNv12InVideoRangeWithTheirHostTimes) {
    const std::vector<StreamCase> cases{
        {"H.264 key frames", {StreamCodec::h264, 1, false, false}, 320, 240},
        {"H.264 with delta frames", {StreamCodec::h264, 30, false, false}, 176, 144},
        {"HEVC with delta frames", {StreamCodec::hevc, 30, false, false}, 320, 240},
        {"HEVC Main 10", {StreamCodec::hevc, 30, true, false}, 256, 144},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto stream = encode(testCase.width, testCase.height, testCase.options, colours.size());
        ASSERT_TRUE(stream.format) << "the encoder is missing";
        ASSERT_EQ(stream.frames.size(), colours.size());
        FrameCollector collector;
        LibavPersonaCameraFrameDecoder decoder(collector.handler());
        ASSERT_TRUE(decoder.prepare(stream.format));
        for (std::size_t index = 0; index < stream.frames.size(); ++index) {
            ASSERT_TRUE(decoder.prepare(stream.format)) << "the session stays";
            decoder.decode(sampleOf(stream, index));
        }
        const auto frames = collector.waitFor(colours.size());
        ASSERT_EQ(frames.size(), colours.size());
        for (std::size_t index = 0; index < frames.size(); ++index) {
            const auto& frame = frames[index];
            EXPECT_EQ(frame.width, testCase.width);
            EXPECT_EQ(frame.height, testCase.height);
            EXPECT_EQ(frame.lumaPlane.size(), static_cast<std::size_t>(testCase.width * testCase.height));
            EXPECT_EQ(frame.chromaPlane.size(),
                      static_cast<std::size_t>(testCase.width * testCase.height / 2));
            EXPECT_EQ(frame.presentationTimeNanoseconds, sampleOf(stream, index).presentationTimeNanoseconds);
            EXPECT_EQ(frame.durationNanoseconds, frameDuration);
            expectColour(frame, colours[index]);
        }
    }
}

TEST(LibavPersonaCameraFrameDecoder, CorruptedPicturesAndParameterSetsFailCleanly) {
    const auto stream = encode(160, 120, {StreamCodec::h264, 30, false, false}, 3);
    ASSERT_TRUE(stream.format);
    FrameCollector collector;
    LibavPersonaCameraFrameDecoder decoder(collector.handler());

    // Parameter sets of noise: the session may or may not open, but nothing comes out of it.
    auto noiseFormat = std::make_shared<PersonaCameraFormatDescription>(*stream.format);
    for (auto& set : noiseFormat->parameterSets) {
        for (std::size_t index = 1; index < set.size(); ++index) {
            set[index] = static_cast<std::uint8_t>(index * 151 + 7);
        }
    }
    if (decoder.prepare(noiseFormat)) {
        auto sample = sampleOf(stream, 0);
        sample.formatDescription = noiseFormat;
        decoder.decode(sample);
    }

    // The right format, then pictures of noise and a truncated key frame, then the stream itself.
    ASSERT_TRUE(decoder.prepare(stream.format));
    std::srand(7);
    for (int picture = 0; picture < 8; ++picture) {
        PersonaCameraSampleBuffer noise = sampleOf(stream, 0);
        for (std::size_t index = 5; index < noise.annexBPayload.size(); ++index) {
            noise.annexBPayload[index] = static_cast<std::uint8_t>(std::rand());
        }
        decoder.decode(std::move(noise));
    }
    PersonaCameraSampleBuffer truncated = sampleOf(stream, 0);
    truncated.annexBPayload.resize(truncated.annexBPayload.size() / 3);
    decoder.decode(std::move(truncated));
    decoder.invalidate();
    ASSERT_TRUE(decoder.prepare(stream.format));
    for (std::size_t index = 0; index < stream.frames.size(); ++index) {
        decoder.decode(sampleOf(stream, index));
    }
    // The garbage gave at most pictures of the right size; the clean stream decodes to its colours last.
    const auto frames = collector.waitFor(3);
    ASSERT_GE(frames.size(), 3u);
    for (std::size_t index = 0; index < 3; ++index) {
        const auto& frame = frames[frames.size() - 3 + index];
        EXPECT_EQ(frame.presentationTimeNanoseconds, sampleOf(stream, index).presentationTimeNanoseconds);
        expectColour(frame, colours[index]);
    }
}

TEST(LibavPersonaCameraFrameDecoder, NothingDecodesWithoutAPreparedSession) {
    const auto stream = encode(160, 120, {}, 2);
    ASSERT_TRUE(stream.format);
    FrameCollector collector;
    {
        LibavPersonaCameraFrameDecoder decoder(collector.handler());
        decoder.decode(sampleOf(stream, 0));
        ASSERT_TRUE(decoder.prepare(stream.format));
        decoder.invalidate();
        decoder.decode(sampleOf(stream, 0));
        // A fresh session for the same format decodes again; the first sample is the fence.
        ASSERT_TRUE(decoder.prepare(stream.format));
        decoder.decode(sampleOf(stream, 1));
        const auto frames = collector.waitFor(1);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].presentationTimeNanoseconds, sampleOf(stream, 1).presentationTimeNanoseconds);
    }
}

// The receiver with the real decoder: two-byte lengths, frames before the format, times from the clock.
TEST(LibavPersonaCameraFrameDecoder, TheReceiverDecodesTheHeadsetsFramesThroughIt) {
    auto encoder = PersonaCameraTestEncoder::make(192, 108, {StreamCodec::hevc, 30, false, false});
    ASSERT_TRUE(encoder);
    std::vector<EncodedVideoFrame> frames;
    for (std::size_t index = 0; index < 4; ++index) {
        const Colour& colour = colours[index];
        frames.push_back(
            *encoder->encode(colour.red, colour.green, colour.blue, index + 1, (index + 1) * frameDuration));
        // Rewrite the 4-byte lengths as 2-byte ones.
        Bytes shorter;
        const auto& payload = frames.back().payload;
        for (std::size_t position = 0; position < payload.size();) {
            const std::size_t length =
                static_cast<std::size_t>(payload[position + 2]) << 8 | payload[position + 3];
            ASSERT_EQ(payload[position] | payload[position + 1], 0);
            shorter.push_back(payload[position + 2]);
            shorter.push_back(payload[position + 3]);
            shorter.insert(shorter.end(), payload.begin() + static_cast<std::ptrdiff_t>(position + 4),
                           payload.begin() + static_cast<std::ptrdiff_t>(position + 4 + length));
            position += 4 + length;
        }
        frames.back().payload = std::move(shorter);
    }
    auto format = *encoder->format();
    format.nalUnitHeaderLength = 2;

    FrameCollector collector;
    asio::io_context context;
    auto clock = std::make_shared<PersonaAVTimingCoordinator>();
    clock->applyClockSynchronization(5'000'000'000, 20'000'000);
    DecodingPersonaCameraReceiver receiver(
        context.get_executor(), clock, std::make_unique<LibavPersonaCameraFrameDecoder>(collector.handler()));
    auto run = [&](auto awaitable) {
        auto future = asio::co_spawn(context, std::move(awaitable), asio::use_future);
        context.restart();
        context.run();
        return future.get();
    };
    for (const auto& frame : frames) {
        // Each arrives on time: 5 s after its media time on the host clock.
        run(receiver.receiveFrame(frame.frameID, frame.presentationTimeNanoseconds, frame.isKeyFrame,
                                  frame.payload, frame.presentationTimeNanoseconds + 5'000'000'000));
    }
    const auto report = run(receiver.updateFormat(format));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->highestReceivedFrameID, 4u);
    const auto decoded = collector.waitFor(4);
    ASSERT_EQ(decoded.size(), 4u);
    for (std::size_t index = 0; index < 4; ++index) {
        EXPECT_EQ(decoded[index].width, 192);
        EXPECT_EQ(decoded[index].height, 108);
        EXPECT_EQ(decoded[index].presentationTimeNanoseconds,
                  static_cast<std::int64_t>(frames[index].presentationTimeNanoseconds) + 5'000'000'000 +
                      20'000'000);
        expectColour(decoded[index], colours[index]);
    }
}

}  // namespace
}  // namespace quillbridge
