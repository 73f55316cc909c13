#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "RecordingSessionContext.hpp"
#include "session/ClipboardTransfers.hpp"
#include "session/InboundStreamRouter.hpp"
#include "support/FakeQuicTransport.hpp"
#include "support/bridge/RecordingBridgeReceivers.hpp"
#include "wire/InboundStreamKind.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

// The inbound stream router on its own, against a recording session, recording receivers and a headset made
// of a fake connection.

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

struct InboundStreamRouterTest : ::testing::Test {
    void drain() {
        for (int round = 0; round < 1000; ++round) {
            context.restart();
            if (context.poll() == 0) {
                return;
            }
        }
        FAIL() << "the io_context never went idle";
    }

    void run(asio::awaitable<void> awaitable) {
        bool done = false;
        asio::co_spawn(context, std::move(awaitable), [&](std::exception_ptr error) {
            EXPECT_FALSE(error);
            done = true;
        });
        drain();
        EXPECT_TRUE(done);
    }

    // Routes the next stream the headset opens, with `kind` as its first byte; `done` tells when the route
    // returned.
    std::shared_ptr<QuicStream> openRouted(InboundStreamKind kind, bool& done) {
        std::shared_ptr<QuicStream> stream;
        asio::co_spawn(
            context,
            [&]() -> asio::awaitable<void> {
                stream = co_await headset->openStream(QuicStreamDirectionality::unidirectional);
                co_await stream->send(Bytes(1, wireByte(kind)), false);
            },
            [](std::exception_ptr error) { EXPECT_FALSE(error); });
        drain();
        asio::co_spawn(
            context,
            [&]() -> asio::awaitable<void> {
                auto accepted = co_await host->acceptStream();
                co_await router.route(std::move(accepted), session.currentSessionID);
            },
            [&done](std::exception_ptr error) {
                EXPECT_FALSE(error);
                done = true;
            });
        drain();
        return stream;
    }

    void sendCameraFrame(QuicStream& stream, std::uint64_t frameID) {
        VideoFrameStreamHeader header;
        header.version = VideoFrameStreamHeader::readableVersion;
        header.frameID = frameID;
        header.payloadByteCount = 3;
        header.isKeyFrame = true;
        Bytes bytes = header.encodedData();
        bytes.insert(bytes.end(), {1, 2, 3});
        run(stream.send(std::move(bytes), false));
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
    std::shared_ptr<RecordingPersonaCameraReceiver> camera =
        std::make_shared<RecordingPersonaCameraReceiver>();
    std::shared_ptr<RecordingVisionMicrophoneReceiver> microphone =
        std::make_shared<RecordingVisionMicrophoneReceiver>();
    ScreenStreamBroadcasterDependencies dependencies = [this] {
        ScreenStreamBroadcasterDependencies wired;
        wired.personaCameraReceiver = camera;
        wired.microphoneReceiver = microphone;
        return wired;
    }();
    ClipboardTransfers clipboard{session, dependencies};
    AsyncStream<bool> cameraSharing;
    AsyncStream<bool> microphoneSharing;
    InboundStreamRouter router{session, dependencies, clipboard, {cameraSharing, microphoneSharing}};
    std::pair<std::shared_ptr<FakeQuicConnection>, std::shared_ptr<FakeQuicConnection>> connections =
        FakeQuicConnection::makePair();
    std::shared_ptr<FakeQuicConnection> host = connections.first;
    std::shared_ptr<FakeQuicConnection> headset = connections.second;
};

// A camera stream is read frame by frame, each acknowledged; a second one while it lasts is refused at once,
// and so is a stream of a kind the headset never opens.
TEST_F(InboundStreamRouterTest, OneCameraStreamAtATimeAndOnlyKindsTheHeadsetSends) {
    run([&]() -> asio::awaitable<void> {
        session.control = co_await host->openStream(QuicStreamDirectionality::bidirectional);
    }());
    bool firstDone = false;
    auto first = openRouted(InboundStreamKind::personaCamera, firstDone);
    ASSERT_NE(first, nullptr);
    sendCameraFrame(*first, 7);
    ASSERT_EQ(camera->frames.size(), 1u);
    EXPECT_EQ(camera->frames[0].frameID, 7u);
    EXPECT_EQ(sentCases(), std::vector<Case>{Case::personaCameraReceiverReport});

    bool secondDone = false;
    openRouted(InboundStreamKind::personaCamera, secondDone);
    EXPECT_TRUE(secondDone);
    bool videoDone = false;
    openRouted(InboundStreamKind::video, videoDone);
    EXPECT_TRUE(videoDone);
    EXPECT_FALSE(firstDone);

    // A new session stops reading the old one's stream at its next frame; its own stream is read.
    session.currentSessionID = Uuid::random();
    sendCameraFrame(*first, 8);
    EXPECT_TRUE(firstDone);
    EXPECT_EQ(camera->frames.size(), 1u);
    bool thirdDone = false;
    auto third = openRouted(InboundStreamKind::personaCamera, thirdDone);
    sendCameraFrame(*third, 1);
    EXPECT_EQ(camera->frames.size(), 2u);
    EXPECT_FALSE(thirdDone);
    host->close(0);
    drain();
}

// The session's end takes back what the headset shared and what the host asked for, once, and resets both
// receivers: the next session hears the host's asks again.
TEST_F(InboundStreamRouterTest, SessionEndTakesBackSharingAndRequests) {
    run(router.setPersonaCameraRequested(true, 1));
    run(router.setMicrophoneRequested(true, 1));
    router.setPersonaCameraSharingEnabled(true);
    router.setPersonaCameraSharingEnabled(true);
    router.setMicrophoneSharingEnabled(true);
    EXPECT_EQ(sentCases(), (std::vector<Case>{Case::personaCameraRequest, Case::microphoneRequest}));
    EXPECT_EQ(cameraSharing.bufferedCount(), 1u);
    EXPECT_EQ(microphoneSharing.bufferedCount(), 1u);

    run(router.endSession());
    EXPECT_FALSE(router.isPersonaCameraRequested());
    EXPECT_FALSE(router.isMicrophoneRequested());
    EXPECT_EQ(cameraSharing.bufferedCount(), 2u);
    EXPECT_EQ(microphoneSharing.bufferedCount(), 2u);
    EXPECT_EQ(camera->resetCount, 1);
    EXPECT_EQ(microphone->resetCount, 1);
    run(router.endSession());
    EXPECT_EQ(cameraSharing.bufferedCount(), 2u);

    session.sent.clear();
    run(router.setPersonaCameraRequested(true, 2));
    EXPECT_EQ(sentCases(), std::vector<Case>{Case::personaCameraRequest});
}

}  // namespace
}  // namespace quillbridge
