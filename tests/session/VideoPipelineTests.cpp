#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "RecordingSessionContext.hpp"
#include "session/VideoPipeline.hpp"
#include "support/FakeQuicTransport.hpp"
#include "support/FakeVideoEncoder.hpp"

// The video pipeline on its own, against a recording session and a scripted encoder.

namespace quillbridge {

struct VideoPipelineTestAccess {
    static int framesInFlight(const VideoPipeline& pipeline) { return pipeline.framesInFlight_; }
    static bool hasMediaStream(const VideoPipeline& pipeline) { return pipeline.mediaStream_ != nullptr; }
};

namespace {

using Case = StreamControlMessage::Case;

std::shared_ptr<CapturedVideoFrame> capturedFrame(std::uint64_t presentationTime = 1000) {
    auto pixels = std::make_shared<CapturedPixelBuffer>();
    pixels->width = 64;
    pixels->height = 32;
    pixels->pixelFormat = pixelFormatBGRA;
    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->imageBuffer = pixels;
    frame->formatDescription = CapturedVideoFrame::FormatDescription{64, 32, {}};
    frame->presentationTimeNanoseconds = presentationTime;
    return frame;
}

std::shared_ptr<const VideoEncoderOutputFormat> outputFormat() {
    auto format = std::make_shared<VideoEncoderOutputFormat>();
    format->width = 64;
    format->height = 32;
    format->parameterSets = {Bytes{0x67, 1}, Bytes{0x68, 1}};
    return format;
}

ScreenStreamBroadcasterDependencies encoderOnly(VideoEncoderFactory* factory) {
    ScreenStreamBroadcasterDependencies dependencies;
    dependencies.videoEncoderFactory = factory;
    return dependencies;
}

struct VideoPipelineTest : ::testing::Test {
    void drain() {
        for (int round = 0; round < 1000; ++round) {
            context.restart();
            if (context.poll() == 0) {
                return;
            }
        }
        FAIL() << "the io_context never went idle";
    }

    template <class T>
    T run(asio::awaitable<T> awaitable) {
        std::optional<T> result;
        asio::co_spawn(context, std::move(awaitable), [&](std::exception_ptr error, T value) {
            EXPECT_FALSE(error);
            result = std::move(value);
        });
        drain();
        EXPECT_TRUE(result.has_value());
        return result ? std::move(*result) : T{};
    }

    // A headset connected, its control stream open and its receiver ready; the pipeline's media stream open.
    std::shared_ptr<FakeQuicConnection> readyHeadset() {
        auto [host, headset] = FakeQuicConnection::makePair();
        session.quicConnection = host;
        session.control = run(host->openStream(QuicStreamDirectionality::bidirectional));
        session.receiverReady = true;
        bool opened = false;
        asio::co_spawn(context, pipeline.openMediaStream(), [&](std::exception_ptr error) {
            EXPECT_FALSE(error);
            opened = true;
        });
        drain();
        EXPECT_TRUE(opened);
        pipeline.startSending();
        drain();
        return headset;
    }

    void answerEveryFrame() {
        auto& encoder = encoders.latest();
        while (encoder.waitingCount() > 0) {
            encoder.emit(outputFormat());
            drain();
        }
    }

    std::vector<Case> sentCases() const {
        std::vector<Case> cases;
        for (const auto& message : session.sent) {
            cases.push_back(message.messageCase());
        }
        return cases;
    }

    asio::io_context context;
    RecordingSessionContext session{context};
    FakeVideoEncoderFactory encoders;
    ScreenStreamBroadcasterDependencies dependencies = encoderOnly(&encoders);
    VideoPipeline pipeline{session, dependencies};
};

// One reset serves both cases: within a session the rebuilt encoder gets the last picture again (a static
// screen sends no other), at a session's end the picture goes with the encoder (the next session captures
// its own).
TEST_F(VideoPipelineTest, ResetReencodesTheLastPictureWithinASessionButNotAcrossSessions) {
    pipeline.encodeOrDefer(capturedFrame());
    ASSERT_EQ(encoders.encoders.size(), 1u);
    EXPECT_TRUE(encoders.latest().submitted.at(0).forceKeyFrame);
    answerEveryFrame();

    pipeline.setCodec(StreamCodec::hevc);
    drain();
    ASSERT_EQ(encoders.encoders.size(), 2u);
    EXPECT_EQ(encoders.latest().configuration.codec, StreamCodec::hevc);
    ASSERT_EQ(encoders.latest().submitted.size(), 1u);
    EXPECT_EQ(encoders.latest().submitted[0].presentationTimeNanoseconds, 1000u);
    EXPECT_TRUE(encoders.latest().submitted[0].forceKeyFrame);
    EXPECT_TRUE(encoders.encoders[0]->closed);

    // The session ends in the teardown's order while that frame is still inside the encoder.
    pipeline.cancelSending();
    pipeline.closeMediaStream();
    pipeline.resetForNextSession();
    pipeline.endSession();
    EXPECT_TRUE(encoders.latest().closed);
    EXPECT_EQ(VideoPipelineTestAccess::framesInFlight(pipeline), 0);

    // The next session's headset is ready before anything was captured for it: no encoder is built for the
    // old picture.
    session.currentSessionID = Uuid::random();
    pipeline.startSending();
    drain();
    EXPECT_EQ(encoders.encoders.size(), 2u);
    // Its first captured frame is a key frame of the codec taken over by the reset.
    pipeline.encodeOrDefer(capturedFrame(2000));
    ASSERT_EQ(encoders.encoders.size(), 3u);
    EXPECT_EQ(encoders.latest().configuration.codec, StreamCodec::hevc);
    EXPECT_TRUE(encoders.latest().submitted.at(0).forceKeyFrame);
}

// The encoder answers on the session's strand after the session (and with it the pipeline's owner) may be
// gone: such an answer must not be handled.
TEST_F(VideoPipelineTest, AnEncoderAnswerAfterTheSessionWentIsDropped) {
    pipeline.encodeOrDefer(capturedFrame());
    ASSERT_EQ(encoders.latest().waitingCount(), 1u);
    session.alive.reset();
    encoders.latest().emit(outputFormat());
    drain();
    EXPECT_EQ(VideoPipelineTestAccess::framesInFlight(pipeline), 1);
    EXPECT_TRUE(session.sent.empty());
}

// A ready headset learns the format before the first frame; a frame the send loop cannot deliver either
// forgets the media stream (an expected end, whose teardown is someone else's) or ends the session, as the
// session's transport rule says.
TEST_F(VideoPipelineTest, FramesFollowTheirFormatAndSendFailuresFollowTheSessionsRule) {
    struct Row {
        bool expected;
        int lostConnections;
        bool keepsMediaStream;
    };
    for (const Row row : {Row{true, 0, false}, Row{false, 1, true}}) {
        SCOPED_TRACE(row.expected ? "expected end" : "unexpected failure");
        session.transportErrorsExpected = row.expected;
        session.lostConnectionCount = 0;
        session.sent.clear();
        auto headset = readyHeadset();
        auto control = run(headset->acceptStream());
        auto media = run(headset->acceptStream());
        ASSERT_NE(media, nullptr);

        pipeline.encodeOrDefer(capturedFrame());
        answerEveryFrame();
        EXPECT_EQ(sentCases(), std::vector<Case>{Case::videoFormat});
        auto kindAndFirstFrame = run(media->receive(1, 1 << 20));
        ASSERT_FALSE(kindAndFirstFrame.data.empty());

        session.quicConnection->close(0);
        drain();
        pipeline.noteHighestReceivedFrameID(0);
        pipeline.encodeOrDefer(capturedFrame(2000));
        answerEveryFrame();
        EXPECT_EQ(session.lostConnectionCount, row.lostConnections);
        EXPECT_EQ(VideoPipelineTestAccess::hasMediaStream(pipeline), row.keepsMediaStream);

        pipeline.cancelSending();
        pipeline.closeMediaStream();
        pipeline.resetForNextSession();
        pipeline.endSession();
        session.currentSessionID = Uuid::random();
        drain();
    }
}

}  // namespace
}  // namespace quillbridge
