#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <asio/io_context.hpp>

#include "platform/linux/video/LibavVideoEncoder.hpp"
#include "session/VideoCompressionSupport.hpp"

// The sanitizer runtime's heap accounting and leak check; absent (null) in builds without it.
extern "C" {
__attribute__((weak)) std::size_t __sanitizer_get_current_allocated_bytes();
__attribute__((weak)) int __lsan_do_recoverable_leak_check();
}

namespace quillbridge {
namespace {

// How the HEVC encoder is used over one streaming session.
struct SessionShape {
    std::string name;
    std::uint32_t width = 320;
    std::uint32_t height = 240;
    int frameRate = 60;
    int threadCount = 4;
    int frameCount = 8;
    // Frames the session lets into the encoder before it waits for their outputs.
    int framesInFlight = 1;
    // Every this many frames is a forced key frame (the first always is).
    int keyFrameInterval = 0;
    // Whether the encoder is closed before it is destroyed, as a session reset does, or only destroyed.
    bool closeFirst = true;
    // Frames submitted right before closing, never waited for.
    int abandonedFrames = 0;
    // What libx265 itself loses per encoder at this size (see LeakSuppressions.cpp), with some room: about
    // 11.8 KB at 320x240 and 97 KB at 1280x720. A frame, packet or context of ours left behind per session
    // would add far more, or show up in the leak check.
    long long libraryLossPerSession = 16 * 1024;
};

void PrintTo(const SessionShape& shape, std::ostream* out) {
    *out << shape.name;
}

std::shared_ptr<const CapturedPixelBuffer> solidFrame(std::uint32_t width, std::uint32_t height, int index) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(width) * height * 4);
    for (std::size_t offset = 0; offset < bytes->size(); offset += 4) {
        (*bytes)[offset] = static_cast<std::uint8_t>(index * 7);
        (*bytes)[offset + 1] = static_cast<std::uint8_t>(offset / 4 / width);
        (*bytes)[offset + 2] = 200;
        (*bytes)[offset + 3] = 255;
    }
    auto buffer = std::make_shared<CapturedPixelBuffer>();
    buffer->width = width;
    buffer->height = height;
    buffer->pixelFormat = pixelFormatBGRA;
    buffer->planes = {{bytes->data(), static_cast<std::size_t>(width) * 4}};
    buffer->storage = bytes;
    return buffer;
}

// Opens the HEVC encoder, streams frames through it and ends it the way the broadcaster does: submit up to
// the in-flight limit, wait for the outputs, repeat; then close and drop the encoder.
void runSession(const SessionShape& shape) {
    VideoEncoderConfiguration configuration;
    configuration.codec = StreamCodec::hevc;
    configuration.width = shape.width;
    configuration.height = shape.height;
    configuration.frameRate = shape.frameRate;
    configuration.averageBitRate = recommendedBitrate(shape.width, shape.height, shape.frameRate);
    LibavVideoEncoder::Options options;
    options.threadCount = shape.threadCount;

    asio::io_context outputs;
    std::size_t received = 0;
    auto opened = LibavVideoEncoder::open(configuration, options, outputs.get_executor(),
                                          [&received](VideoEncoderOutput output) {
                                              if (output.succeeded && output.sample)
                                                  ++received;
                                          });
    ASSERT_TRUE(opened) << "the encoder did not open: " << opened.error().status;
    auto encoder = std::move(*opened);
    const auto frameDuration = 1'000'000'000ull / static_cast<std::uint64_t>(shape.frameRate);
    int submitted = 0;
    auto submit = [&] {
        const int index = submitted++;
        const bool key = index == 0 || (shape.keyFrameInterval > 0 && index % shape.keyFrameInterval == 0);
        return encoder->encode({solidFrame(shape.width, shape.height, index),
                                static_cast<std::uint64_t>(index) * frameDuration, frameDuration, key, 1});
    };
    while (submitted < shape.frameCount) {
        for (int slot = 0; slot < shape.framesInFlight && submitted < shape.frameCount; ++slot)
            ASSERT_TRUE(submit());
        encoder->flush();
        outputs.restart();
        outputs.run();
    }
    EXPECT_EQ(received, static_cast<std::size_t>(shape.frameCount));
    for (int index = 0; index < shape.abandonedFrames; ++index)
        submit();
    if (shape.closeFirst)
        encoder->close();
    encoder.reset();
    // Outputs posted for abandoned frames go away with the context.
}

class LibavVideoEncoderLifetimeTest : public testing::TestWithParam<SessionShape> {};

// Whole HEVC sessions, the way the broadcaster runs them, leave nothing of ours behind: no codec context,
// frame, packet or hardware reference is unreachable once the encoder is gone, and the heap in use grows
// per session by no more than libx265's own loss. A few sessions run first so that anything set up once
// per process is in place before the heap is compared.
TEST_P(LibavVideoEncoderLifetimeTest, EndedSessionsLeaveNothingOfOursBehind) {
    if (__sanitizer_get_current_allocated_bytes == nullptr || __lsan_do_recoverable_leak_check == nullptr)
        GTEST_SKIP() << "needs the AddressSanitizer runtime (a QUILLBRIDGE_SANITIZE build)";
    const auto& shape = GetParam();
    constexpr int warmUpSessions = 2;
    constexpr int measuredSessions = 4;
    for (int session = 0; session < warmUpSessions; ++session)
        runSession(shape);
    if (HasFatalFailure())
        return;
    const std::size_t before = __sanitizer_get_current_allocated_bytes();
    for (int session = 0; session < measuredSessions; ++session)
        runSession(shape);
    const std::size_t after = __sanitizer_get_current_allocated_bytes();
    const auto growth = static_cast<long long>(after) - static_cast<long long>(before);
    EXPECT_LT(growth, shape.libraryLossPerSession * measuredSessions)
        << "heap grew by " << growth << " bytes over " << measuredSessions << " sessions";
    // Anything unreachable that is not libx265's own (suppressed) allocation fails here.
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, LibavVideoEncoderLifetimeTest,
    testing::Values(SessionShape{.name = "OneFrame", .frameCount = 1}, SessionShape{.name = "Session60Hz"},
                    SessionShape{.name = "Session120HzThreeInFlight", .frameRate = 120, .framesInFlight = 3},
                    SessionShape{.name = "OneThread", .threadCount = 1},
                    SessionShape{.name = "ForcedKeyFrames", .frameCount = 12, .keyFrameInterval = 3},
                    SessionShape{.name = "DestroyedWithoutClose", .closeFirst = false},
                    SessionShape{.name = "ClosedWithFramesQueued", .abandonedFrames = 3},
                    SessionShape{.name = "Session720p",
                                 .width = 1280,
                                 .height = 720,
                                 .frameCount = 3,
                                 .libraryLossPerSession = 128 * 1024}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillbridge
