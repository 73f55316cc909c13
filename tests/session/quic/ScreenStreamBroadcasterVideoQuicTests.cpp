// Video over the real QUIC transport on loopback: a scripted encoder's frame reaches the headset's media
// stream. Service discovery is faked (nothing multicasts).

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "core/Logger.hpp"
#include "core/SteadyClock.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/quic/LoopbackBroadcasterTest.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "support/FakeVideoEncoder.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/session/LoopbackBroadcasterServices.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

class BroadcasterVideoOverQuicTest : public LoopbackBroadcasterTest {
protected:
    void SetUp() override {
        auto dependencies = loopbackDependencies(context.get_executor());
        dependencies.videoEncoderFactory = &encoders;
        startAdvertisedBroadcaster(std::move(dependencies));
    }

    // Runs the context until the condition holds; false when it did not within a generous bound.
    void send(QuicStream& control, const StreamControlMessage& message) {
        run(control.send(ControlMessageFraming::encode(message), false));
    }

    // Reads exactly `count` bytes.
    Bytes read(QuicStream& stream, std::size_t count) {
        Bytes bytes;
        while (bytes.size() < count) {
            auto chunk = run(stream.receive(1, count - bytes.size()));
            if (chunk.data.empty()) {
                break;
            }
            appendBytes(bytes, chunk.data);
        }
        return bytes;
    }

    FakeVideoEncoderFactory encoders;
};

TEST_F(BroadcasterVideoOverQuicTest, HeadsetReceivesAnEncodedFrameOnTheMediaStream) {
    QuicTestClient client;
    auto connection = run(client.connect(port));
    auto control = run(connection->openStream(QuicStreamDirectionality::bidirectional));
    ASSERT_TRUE(sendPairingHello(*control, "Headset"));
    run(broadcaster->authorizeCurrentSession());
    send(*control, StreamControlMessage::make<Case::receiverReady>());
    auto media = run(connection->acceptStream());
    ASSERT_TRUE(media);
    EXPECT_EQ(media->directionality(), QuicStreamDirectionality::unidirectional);

    auto pixels = std::make_shared<CapturedPixelBuffer>();
    pixels->width = 64;
    pixels->height = 32;
    pixels->pixelFormat = pixelFormatBGRA;
    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->imageBuffer = pixels;
    frame->formatDescription = CapturedVideoFrame::FormatDescription{64, 32, {}};
    frame->presentationTimeNanoseconds = 123456789;
    run(broadcaster->encodeOrDeferVideoFrame(frame));
    ASSERT_EQ(encoders.encoders.size(), 1u);
    auto format = std::make_shared<VideoEncoderOutputFormat>();
    format->width = 64;
    format->height = 32;
    format->parameterSets = {Bytes{0x67, 1}, Bytes{0x68, 1}};
    const Bytes payload{0, 0, 0, 3, 0x65, 0xAA, 0xBB};
    encoders.latest().emit(format, payload);

    const Bytes received = read(*media, 1 + 22 + payload.size());
    ASSERT_EQ(received.size(), 1 + 22 + payload.size());
    EXPECT_EQ(received[0], 1);                                                   // the stream kind
    EXPECT_EQ(received[1], 2);                                                   // the header version
    EXPECT_EQ(Bytes(received.begin() + 2, received.begin() + 10), Bytes(8, 0));  // frame ID 0
    EXPECT_EQ(Bytes(received.begin() + 10, received.begin() + 18),
              (Bytes{0, 0, 0, 0, 0x07, 0x5B, 0xCD, 0x15}));
    EXPECT_EQ(Bytes(received.begin() + 18, received.begin() + 22), (Bytes{0, 0, 0, 7}));
    EXPECT_EQ(received[22], 1);  // key frame
    EXPECT_EQ(Bytes(received.begin() + 23, received.end()), payload);
}

}  // namespace
}  // namespace quillbridge
