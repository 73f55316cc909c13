#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>

#include "core/Logger.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/ScreenStreamBroadcasterFixture.hpp"
#include "session/VideoCompressionSupport.hpp"
#include "support/FakeVideoEncoder.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

namespace quillbridge {
namespace {

std::shared_ptr<CapturedVideoFrame> capturedFrame(std::uint32_t width = 64, std::uint32_t height = 32,
                                                  std::uint32_t pixelFormat = pixelFormatBGRA,
                                                  std::uint64_t presentationTime = 1000) {
    auto pixels = std::make_shared<CapturedPixelBuffer>();
    pixels->width = width;
    pixels->height = height;
    pixels->pixelFormat = pixelFormat;
    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->imageBuffer = pixels;
    frame->formatDescription = CapturedVideoFrame::FormatDescription{width, height, {}};
    frame->presentationTimeNanoseconds = presentationTime;
    return frame;
}

std::shared_ptr<const VideoEncoderOutputFormat> outputFormat(std::uint32_t width = 64,
                                                             std::uint32_t height = 32,
                                                             std::uint8_t parameterSetTag = 1) {
    auto format = std::make_shared<VideoEncoderOutputFormat>();
    format->width = width;
    format->height = height;
    format->parameterSets = {Bytes{0x67, parameterSetTag}, Bytes{0x68, parameterSetTag}};
    return format;
}

// One parsed frame of a media stream.
struct MediaFrame {
    VideoFrameStreamHeader header;
    Bytes payload;
};

// A media stream as the headset reads it: the kind byte, then header + payload per frame.
struct MediaStreamContents {
    std::optional<std::uint8_t> kind;
    std::vector<MediaFrame> frames;
    bool wellFormed = true;
};

MediaStreamContents parseMediaStream(const Bytes& bytes) {
    MediaStreamContents contents;
    if (bytes.empty()) {
        return contents;
    }
    contents.kind = bytes[0];
    std::size_t offset = 1;
    while (offset < bytes.size()) {
        if (bytes.size() - offset < VideoFrameStreamHeader::byteCount) {
            contents.wellFormed = false;
            break;
        }
        // The reader of the wire module takes only the headset's version; read the host's fields by hand.
        ByteView view(bytes.data() + offset, VideoFrameStreamHeader::byteCount);
        auto be = [&](std::size_t at, std::size_t count) {
            std::uint64_t value = 0;
            for (std::size_t i = 0; i < count; ++i) {
                value = (value << 8) | view[at + i];
            }
            return value;
        };
        MediaFrame frame;
        frame.header.version = view[0];
        frame.header.frameID = be(1, 8);
        frame.header.presentationTimeNanoseconds = be(9, 8);
        frame.header.payloadByteCount = static_cast<std::uint32_t>(be(17, 4));
        frame.header.isKeyFrame = view[21] != 0;
        offset += VideoFrameStreamHeader::byteCount;
        if (bytes.size() - offset < frame.header.payloadByteCount) {
            contents.wellFormed = false;
            break;
        }
        frame.payload.assign(
            bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset + frame.header.payloadByteCount));
        offset += frame.header.payloadByteCount;
        contents.frames.push_back(std::move(frame));
    }
    return contents;
}

class BroadcasterVideoTest : public ScreenStreamBroadcasterFixture {
protected:
    void SetUp() override {
        ScreenStreamBroadcasterFixture::SetUp();
        startListening();
    }

    void adjust(ScreenStreamBroadcasterDependencies& dependencies) override {
        dependencies.videoEncoderFactory = &encoders;
    }

    // A headset that said it is ready, with the media stream the host opened for it.
    struct ReadyHeadset {
        Headset headset;
        std::shared_ptr<QuicStream> media;
    };
    ReadyHeadset readyHeadset() {
        ReadyHeadset ready{connect(), nullptr};
        authorize();
        send(ready.headset, StreamControlMessage::make<Case::receiverReady>());
        ready.media = acceptMediaStream(ready.headset);
        return ready;
    }
    std::shared_ptr<QuicStream> acceptMediaStream(Headset& headset) {
        return runUntilIdle<std::shared_ptr<QuicStream>>(headset.connection->acceptStream())
            .value_or(nullptr);
    }

    // Runs an awaitable until the context is idle; nothing when it has not finished by then.
    template <class T>
    std::optional<T> runUntilIdle(asio::awaitable<T> awaitable) {
        std::optional<T> result;
        bool done = false;
        asio::cancellation_signal signal;
        asio::co_spawn(context, std::move(awaitable),
                       asio::bind_cancellation_slot(signal.slot(), [&](std::exception_ptr e, T value) {
                           if (!e) {
                               result = std::move(value);
                           }
                           done = true;
                       }));
        drain();
        if (!done) {
            signal.emit(asio::cancellation_type::all);
            drain();
        }
        return result;
    }

    // Every byte the host has written on a stream so far.
    Bytes readAvailable(QuicStream& stream) {
        Bytes bytes;
        for (;;) {
            auto chunk = runUntilIdle<QuicStreamChunk>(stream.receive(1, 1 << 20));
            if (!chunk || chunk->data.empty()) {
                return bytes;
            }
            appendBytes(bytes, chunk->data);
        }
    }

    // Control messages the host sent, by case.
    std::vector<Case> receivedCases(Headset& headset) {
        std::vector<Case> cases;
        while (auto message = receive(headset)) {
            cases.push_back(message->messageCase());
        }
        return cases;
    }

    void submit(std::shared_ptr<CapturedVideoFrame> frame = capturedFrame()) {
        run(broadcaster->encodeOrDeferVideoFrame(std::move(frame)));
        drain();
    }

    // Answers every frame waiting in the newest encoder.
    void emitAll(std::shared_ptr<const VideoEncoderOutputFormat> format = outputFormat()) {
        auto& encoder = encoders.latest();
        while (encoder.waitingCount() > 0) {
            encoder.emit(format);
            drain();
        }
    }

    void acknowledge(Headset& headset, std::uint64_t frameID) {
        send(headset,
             StreamControlMessage::make<Case::receiverReport>({frameID, std::nullopt, std::nullopt}));
    }

    void setFrameRate(int frameRate) {
        ScreenStreamBroadcaster::CapturedDisplay display;
        display.displayID = 1;
        display.frameRate = frameRate;
        display.pointWidth = 64;
        display.pointHeight = 32;
        display.pixelWidth = 64;
        display.pixelHeight = 32;
        run(broadcaster->updateCapturedDisplay(display));
        drain();
    }

    std::size_t submittedCount() {
        std::size_t count = 0;
        for (const auto& encoder : encoders.encoders) {
            count += encoder->submitted.size();
        }
        return count;
    }

    FakeVideoEncoderFactory encoders;
};

TEST_F(BroadcasterVideoTest, FrameRateSetsTheEncoderAndAcknowledgementLimits) {
    struct Row {
        int frameRate;
        std::size_t inEncoder;
        std::size_t unacknowledged;
    };
    const std::vector<Row> rows{{25, 1, 2}, {30, 1, 3}, {50, 1, 4}, {60, 1, 5}, {90, 3, 8}, {120, 3, 10}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.frameRate);
        if (broadcaster) {
            run(broadcaster->stop());
            drain();
        }
        encoders = FakeVideoEncoderFactory();
        makeBroadcaster();
        startListening();
        setFrameRate(row.frameRate);
        auto ready = readyHeadset();

        for (int i = 0; i < 5; ++i) {
            submit();
        }
        EXPECT_EQ(encoders.latest().waitingCount(), row.inEncoder);
        EXPECT_TRUE(Access::hasDeferredVideoFrame(*broadcaster));

        // Without receiver reports the encoder gets no more than the limit, however many outputs come back.
        for (int i = 0; i < 15; ++i) {
            emitAll();
            submit();
        }
        emitAll();
        EXPECT_EQ(submittedCount(), row.unacknowledged);
        EXPECT_EQ(encoders.configurations.back().frameRate, row.frameRate);
        EXPECT_EQ(encoders.configurations.back().averageBitRate, recommendedBitrate(64, 32, row.frameRate));

        // Acknowledging the first frame lets the waiting frame go.
        acknowledge(ready.headset, 0);
        EXPECT_EQ(submittedCount(), row.unacknowledged + 1);
        EXPECT_FALSE(Access::hasDeferredVideoFrame(*broadcaster));
    }
}

TEST_F(BroadcasterVideoTest, OnlyTheNewestHeldBackFrameIsEncoded) {
    auto ready = readyHeadset();
    submit(capturedFrame(64, 32, pixelFormatBGRA, 1));
    submit(capturedFrame(64, 32, pixelFormatBGRA, 2));
    submit(capturedFrame(64, 32, pixelFormatBGRA, 3));
    emitAll();
    auto& submitted = encoders.latest().submitted;
    ASSERT_EQ(submitted.size(), 2u);
    EXPECT_EQ(submitted[0].presentationTimeNanoseconds, 1u);
    EXPECT_EQ(submitted[1].presentationTimeNanoseconds, 3u);
}

TEST_F(BroadcasterVideoTest, FormatIsAnnouncedBeforeItsFirstFrameAndAgainOnlyWhenItChanges) {
    auto ready = readyHeadset();
    receivedCases(ready.headset);
    auto& encoder = [&]() -> FakeVideoEncoder& {
        submit();
        return encoders.latest();
    }();
    EXPECT_TRUE(encoder.submitted.at(0).forceKeyFrame);

    encoder.emit(outputFormat());
    drain();
    EXPECT_EQ(receivedCases(ready.headset), std::vector<Case>{Case::videoFormat});
    // A new format makes the next submitted frame a key frame as well.
    acknowledge(ready.headset, 0);
    submit();
    ASSERT_EQ(encoder.submitted.size(), 2u);
    EXPECT_TRUE(encoder.submitted[1].forceKeyFrame);

    encoder.emit(outputFormat());
    drain();
    EXPECT_TRUE(receivedCases(ready.headset).empty());
    acknowledge(ready.headset, 1);
    submit();
    EXPECT_FALSE(encoder.submitted.at(2).forceKeyFrame);

    encoder.emit(outputFormat(64, 32, 2));
    drain();
    auto message = receive(ready.headset);
    ASSERT_TRUE(message.has_value());
    ASSERT_EQ(message->messageCase(), Case::videoFormat);
    EXPECT_EQ(message->get<Case::videoFormat>()->parameterSets, (std::vector<Bytes>{{0x67, 2}, {0x68, 2}}));
    acknowledge(ready.headset, 2);
    submit();
    EXPECT_TRUE(encoder.submitted.at(3).forceKeyFrame);
}

TEST_F(BroadcasterVideoTest, KeyFrameRequestIsHonouredEvenWhenTheEncoderRefusesTheFrame) {
    auto ready = readyHeadset();
    // The first frame and the one after the format announcement are key frames anyway.
    for (std::uint64_t frameID = 0; frameID < 2; ++frameID) {
        submit();
        emitAll();
        acknowledge(ready.headset, frameID);
    }
    auto& encoder = encoders.latest();
    ASSERT_EQ(encoder.submitted.size(), 2u);

    send(ready.headset, StreamControlMessage::make<Case::requestKeyFrame>({}));
    encoder.refuseFrames = true;
    submit();
    EXPECT_EQ(Access::framesInFlight(*broadcaster), 0);
    EXPECT_TRUE(Access::hasDeferredVideoFrame(*broadcaster));

    encoder.refuseFrames = false;
    acknowledge(ready.headset, 1);  // a receiver report retries the waiting frame
    ASSERT_EQ(encoder.submitted.size(), 3u);
    EXPECT_TRUE(encoder.submitted[2].forceKeyFrame);
    EXPECT_FALSE(Access::hasDeferredVideoFrame(*broadcaster));
}

TEST_F(BroadcasterVideoTest, ChangedFramesRebuildTheEncoderOnceThePipelineIsIdle) {
    struct Row {
        const char* name;
        std::shared_ptr<CapturedVideoFrame> next;
        bool rebuilds;
    };
    auto hdr = capturedFrame();
    hdr->formatDescription->extensions.emplace_back("CVImageBufferTransferFunction",
                                                    PropertyListValue(std::string("ITU_R_2100_HLG")));
    const std::vector<Row> rows{
        {"same frame", capturedFrame(), false},
        {"new size", capturedFrame(128, 64), true},
        {"new pixel format", capturedFrame(64, 32, pixelFormatARGB2101010), true},
        {"new colour", hdr, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (broadcaster) {
            run(broadcaster->stop());
            drain();
        }
        encoders = FakeVideoEncoderFactory();
        makeBroadcaster();
        startListening();
        auto ready = readyHeadset();
        submit();
        auto first = encoders.encoders.back();
        const auto generation = Access::compressionSessionGeneration(*broadcaster);

        // Busy: the changed frame waits and asks for a reset; nothing is submitted meanwhile.
        submit(row.next);
        EXPECT_EQ(Access::isVideoEncodingPipelineResetPending(*broadcaster), row.rebuilds);
        EXPECT_TRUE(Access::hasDeferredVideoFrame(*broadcaster));
        emitAll();
        EXPECT_EQ(encoders.encoders.size(), 1u);
        acknowledge(ready.headset, 0);

        EXPECT_FALSE(Access::hasDeferredVideoFrame(*broadcaster));
        EXPECT_EQ(encoders.encoders.size(), row.rebuilds ? 2u : 1u);
        EXPECT_EQ(first->closed, row.rebuilds);
        const auto& latest = encoders.latest();
        ASSERT_EQ(latest.submitted.size(), row.rebuilds ? 1u : 2u);
        if (row.rebuilds) {
            EXPECT_TRUE(latest.submitted.back().forceKeyFrame);
        }
        EXPECT_EQ(latest.configuration.width, row.next->formatDescription->width);
        EXPECT_EQ(latest.configuration.inputPixelFormat, row.next->imageBuffer->pixelFormat);
        EXPECT_EQ(Access::compressionSessionGeneration(*broadcaster) > generation, row.rebuilds);
    }
}

TEST_F(BroadcasterVideoTest, LateOutputsOfADiscardedEncoderChangeNothing) {
    auto ready = readyHeadset();
    submit();
    auto old = encoders.encoders.back();
    const auto oldGeneration = old->submitted.at(0).generation;
    emitAll();
    acknowledge(ready.headset, 0);
    run(broadcaster->setVideoCodec(StreamCodec::hevc));
    drain();
    submit();
    ASSERT_EQ(encoders.encoders.size(), 2u);
    EXPECT_EQ(encoders.latest().configuration.codec, StreamCodec::hevc);
    ASSERT_EQ(Access::framesInFlight(*broadcaster), 1);

    EncodedVideoSample sample;
    sample.payload = {0, 0, 0, 1, 0x65};
    sample.format = outputFormat();
    old->post(VideoEncoderOutput{oldGeneration, true, sample});
    old->post(VideoEncoderOutput{oldGeneration, false, std::nullopt});
    drain();
    EXPECT_EQ(Access::framesInFlight(*broadcaster), 1);
    EXPECT_EQ(Access::nextSentFrameID(*broadcaster), 1u);
}

TEST_F(BroadcasterVideoTest, EncoderFailuresAndMissingEncodersKeepTheFrameForLater) {
    auto ready = readyHeadset();
    encoders.failuresLeft = 1;
    {
        ScopedLogCapture logs;
        submit();
        EXPECT_EQ(logs.messages("ScreenStreamBroadcaster"),
                  std::vector<std::string>{"Video encoder creation failed with status -22"});
    }
    EXPECT_TRUE(Access::hasDeferredVideoFrame(*broadcaster));
    submit();
    ASSERT_EQ(encoders.encoders.size(), 1u);
    EXPECT_TRUE(encoders.latest().submitted.at(0).forceKeyFrame);

    // A failed output is counted like any other and loses only its frame.
    encoders.latest().fail();
    drain();
    EXPECT_EQ(Access::framesInFlight(*broadcaster), 0);
    EXPECT_EQ(Access::nextSentFrameID(*broadcaster), 0u);
}

TEST_F(BroadcasterVideoTest, FramesBeforeTheHeadsetIsReadyAreDropped) {
    auto headset = connect();
    authorize();
    submit();
    emitAll();
    EXPECT_EQ(Access::nextSentFrameID(*broadcaster), 0u);
    EXPECT_EQ(Access::framesInFlight(*broadcaster), 0);
    EXPECT_TRUE(Access::pendingMediaFrames(*broadcaster).empty());
}

TEST_F(BroadcasterVideoTest, MediaStreamCarriesKindByteThenHeadersAndPayloadsInOrder) {
    auto ready = readyHeadset();
    ASSERT_TRUE(ready.media);
    const std::vector<Bytes> payloads{{0, 0, 0, 2, 0x65, 0x88}, {0, 0, 0, 1, 0x41}, {0, 0, 0, 3, 0x41, 1, 2}};
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        submit(capturedFrame(64, 32, pixelFormatBGRA, 1000 * (i + 1)));
        encoders.latest().emit(outputFormat(), payloads[i], i != 1);
        drain();
        acknowledge(ready.headset, i);
    }
    auto contents = parseMediaStream(readAvailable(*ready.media));
    EXPECT_TRUE(contents.wellFormed);
    EXPECT_EQ(contents.kind, std::optional<std::uint8_t>(1));
    ASSERT_EQ(contents.frames.size(), payloads.size());
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& frame = contents.frames[i];
        EXPECT_EQ(frame.header.version, 2);
        EXPECT_EQ(frame.header.frameID, i);
        EXPECT_EQ(frame.header.presentationTimeNanoseconds, 1000 * (i + 1));
        EXPECT_EQ(frame.header.isKeyFrame, i != 1);
        EXPECT_EQ(frame.payload, payloads[i]);
    }
}

TEST_F(BroadcasterVideoTest, FrameIDsStartOverInEverySession) {
    for (int session = 0; session < 2; ++session) {
        SCOPED_TRACE(session);
        auto ready = readyHeadset();
        submit();
        emitAll();
        auto contents = parseMediaStream(readAvailable(*ready.media));
        ASSERT_EQ(contents.frames.size(), 1u);
        EXPECT_EQ(contents.frames[0].header.frameID, 0u);
        EXPECT_TRUE(contents.frames[0].header.isKeyFrame);
        ready.headset.connection->close(0);
        drain();
        ASSERT_FALSE(Access::hasConnection(*broadcaster));
    }
}

// The capture may hand over a frame it grabbed just before the session ended, after the teardown: it must
// not build an encoder (and its picture buffers) that nobody releases until the next session.
TEST_F(BroadcasterVideoTest, AFrameAfterTheSessionEndedBuildsNoEncoder) {
    auto ready = readyHeadset();
    submit();
    emitAll();
    ASSERT_EQ(encoders.encoders.size(), 1u);
    ready.headset.connection->close(0);
    drain();
    ASSERT_FALSE(Access::hasConnection(*broadcaster));
    EXPECT_TRUE(encoders.latest().closed);

    submit(capturedFrame(64, 32, pixelFormatBGRA, 9000));
    EXPECT_EQ(encoders.encoders.size(), 1u);
    EXPECT_EQ(submittedCount(), 1u);

    // The next session builds its encoder again.
    auto next = readyHeadset();
    submit(capturedFrame(64, 32, pixelFormatBGRA, 12000));
    ASSERT_EQ(encoders.encoders.size(), 2u);
    EXPECT_FALSE(encoders.latest().submitted.empty());
}

TEST_F(BroadcasterVideoTest, SendFailuresFollowTheTransportErrorRule) {
    struct Row {
        const char* name;
        std::error_code error;
        bool sessionSurvives;
    };
    const std::vector<Row> rows{
        {"connection reset", std::make_error_code(std::errc::connection_reset), true},
        {"broken pipe", std::make_error_code(std::errc::broken_pipe), true},
        {"other failure", std::make_error_code(std::errc::io_error), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (broadcaster) {
            run(broadcaster->stop());
            drain();
        }
        encoders = FakeVideoEncoderFactory();
        makeBroadcaster();
        startListening();
        auto ready = readyHeadset();
        updates();
        auto hostMedia = std::dynamic_pointer_cast<FakeQuicStream>(Access::mediaStream(*broadcaster));
        ASSERT_TRUE(hostMedia);
        hostMedia->failNextSend(row.error);
        submit();
        emitAll();
        EXPECT_EQ(Access::mediaStream(*broadcaster), nullptr);
        EXPECT_EQ(Access::hasConnection(*broadcaster), row.sessionSurvives);
        if (!row.sessionSurvives) {
            auto states = updates();
            ASSERT_FALSE(states.empty());
            EXPECT_EQ(states.front(), State::failed("Connection lost"));
            continue;
        }
        // The next frame goes out on a new media stream that starts with its kind byte.
        acknowledge(ready.headset, 0);
        submit();
        emitAll();
        auto media = acceptMediaStream(ready.headset);
        ASSERT_TRUE(media);
        auto contents = parseMediaStream(readAvailable(*media));
        EXPECT_EQ(contents.kind, std::optional<std::uint8_t>(1));
        ASSERT_EQ(contents.frames.size(), 1u);
        EXPECT_EQ(contents.frames[0].header.frameID, 1u);
    }
}

TEST_F(BroadcasterVideoTest, SentFramesAreCompactedOnlyInLargeSteps) {
    struct Row {
        std::size_t queued;
        std::size_t taken;
        std::size_t remaining;
        std::size_t startIndex;
    };
    const std::vector<Row> rows{
        {40, 31, 40, 31}, {40, 32, 8, 0}, {100, 49, 100, 49}, {100, 50, 50, 0}, {5, 5, 0, 0}, {5, 0, 5, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.queued << " queued, " << row.taken << " taken");
        auto& frames = Access::pendingMediaFrames(*broadcaster);
        auto& start = Access::pendingMediaFrameStartIndex(*broadcaster);
        frames.assign(row.queued, EncodedVideoFrame{});
        for (std::size_t i = 0; i < row.queued; ++i) {
            frames[i].frameID = i;
        }
        start = 0;
        for (std::size_t i = 0; i < row.taken; ++i) {
            ++start;
            Access::compactPendingMediaFrames(*broadcaster);
        }
        EXPECT_EQ(frames.size(), row.remaining);
        EXPECT_EQ(start, row.startIndex);
        if (!frames.empty()) {
            EXPECT_EQ(frames[start].frameID, row.taken);
        }
        frames.clear();
        start = 0;
    }
}

TEST_F(BroadcasterVideoTest, CapturedDisplayChangesSendGeometryOrResetAsNeeded) {
    auto headset = connect();
    authorize();
    ScreenStreamBroadcaster::CapturedDisplay display{7, 60, {0, 0, 1512.4, 982.5}, 1512.4, 982.5, 3024, 1965};
    run(broadcaster->updateCapturedDisplay(display));
    drain();
    auto message = receive(headset);
    ASSERT_TRUE(message.has_value());
    ASSERT_EQ(message->messageCase(), Case::displayGeometry);
    EXPECT_EQ(message->get<Case::displayGeometry>()->pointWidth, 1512);
    EXPECT_EQ(message->get<Case::displayGeometry>()->pointHeight, 983);
    submit();
    ASSERT_EQ(encoders.encoders.size(), 1u);
    emitAll();
    receivedCases(headset);

    struct Row {
        const char* name;
        ScreenStreamBroadcaster::CapturedDisplay display;
        bool sendsGeometry;
        bool resets;
    };
    auto moved = display;
    moved.frame.x = 1512;
    auto morePixels = moved;
    morePixels.pixelWidth = 1512;
    morePixels.pixelHeight = 983;
    auto otherDisplay = morePixels;
    otherDisplay.displayID = std::nullopt;
    auto stopped = otherDisplay;
    stopped.frameRate = 0;
    const std::vector<Row> rows{
        {"same", display, false, false},         {"moved", moved, true, false},
        {"pixel size", morePixels, false, true}, {"display", otherDisplay, false, true},
        {"frame rate 0", stopped, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto generation = Access::compressionSessionGeneration(*broadcaster);
        run(broadcaster->updateCapturedDisplay(row.display));
        drain();
        EXPECT_EQ(receivedCases(headset),
                  row.sendsGeometry ? std::vector<Case>{Case::displayGeometry} : std::vector<Case>{});
        EXPECT_EQ(Access::compressionSessionGeneration(*broadcaster) > generation, row.resets);
        EXPECT_EQ(input.displayFrames.back(), row.display.frame);
    }
    EXPECT_EQ(Access::frameRate(*broadcaster), 1);
    EXPECT_FALSE(Access::pendingFrameRate(*broadcaster).has_value());
}

// A screen that stops changing sends one frame and no more: the headset must still get a format and a key
// frame when that frame's output was dropped before it was ready, or when the encoder started over.
TEST_F(BroadcasterVideoTest, StaticScreenStillReachesTheHeadsetAfterReadinessOrReset) {
    struct Row {
        const char* name;
        bool encodedBeforeReady;
        bool resetAfterFrame;
    };
    const std::vector<Row> rows{
        {"output dropped before ready", true, false},
        {"frame in the encoder when the frame rate changes", false, true},
        {"both", true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto headset = connect();
        authorize();
        setFrameRate(60);
        submit(capturedFrame(64, 32, pixelFormatBGRA, 5000));
        if (row.encodedBeforeReady) {
            emitAll();
        }
        if (row.resetAfterFrame) {
            setFrameRate(30);
            emitAll();
        }
        send(headset, StreamControlMessage::make<Case::receiverReady>());
        auto media = acceptMediaStream(headset);
        ASSERT_TRUE(media);
        emitAll();
        const auto cases = receivedCases(headset);
        EXPECT_NE(std::find(cases.begin(), cases.end(), Case::videoFormat), cases.end());
        auto contents = parseMediaStream(readAvailable(*media));
        ASSERT_FALSE(contents.frames.empty());
        EXPECT_TRUE(contents.frames[0].header.isKeyFrame);
        EXPECT_EQ(contents.frames[0].header.presentationTimeNanoseconds, 5000u);
        EXPECT_FALSE(Access::hasDeferredVideoFrame(*broadcaster));
        headset.connection->close(0);
        drain();
        ASSERT_FALSE(Access::hasConnection(*broadcaster));
    }
}

TEST_F(BroadcasterVideoTest, CodecChangeReencodesTheLastPictureButADisplayChangeDoesNot) {
    auto ready = readyHeadset();
    setFrameRate(60);
    submit(capturedFrame(64, 32, pixelFormatBGRA, 7000));
    emitAll();
    acknowledge(ready.headset, 0);
    receivedCases(ready.headset);

    run(broadcaster->setVideoCodec(StreamCodec::hevc));
    drain();
    ASSERT_EQ(encoders.encoders.size(), 2u);
    EXPECT_EQ(encoders.latest().configuration.codec, StreamCodec::hevc);
    emitAll();
    EXPECT_EQ(receivedCases(ready.headset), std::vector<Case>{Case::videoFormat});
    auto contents = parseMediaStream(readAvailable(*ready.media));
    ASSERT_EQ(contents.frames.size(), 2u);
    EXPECT_TRUE(contents.frames[1].header.isKeyFrame);
    EXPECT_EQ(contents.frames[1].header.presentationTimeNanoseconds, 7000u);
    acknowledge(ready.headset, 1);

    // A picture of another size waits for the capture of the new display.
    ScreenStreamBroadcaster::CapturedDisplay display{1, 60, {}, 64, 32, 128, 64};
    run(broadcaster->updateCapturedDisplay(display));
    drain();
    EXPECT_EQ(submittedCount(), 2u);
    EXPECT_FALSE(Access::hasDeferredVideoFrame(*broadcaster));
}

TEST_F(BroadcasterVideoTest, CompletingPendingFramesFlushesTheEncoderIfThereIsOne) {
    // An encoder is built only while a headset is connected.
    auto headset = connect();
    run(broadcaster->completePendingFrames());
    submit();
    run(broadcaster->completePendingFrames());
    EXPECT_EQ(encoders.latest().flushCount, 1);
}

}  // namespace
}  // namespace quillbridge
