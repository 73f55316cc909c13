// Headset-opened streams and clipboard transfers over the real QUIC transport on loopback, with a headset
// made of the test client and fakes for the clipboard, keyboard and bridge receivers.

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
#include "support/bridge/RecordingBridgeReceivers.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/session/FakeClipboardTransferService.hpp"
#include "support/session/FakeKeyboardReportingService.hpp"
#include "support/session/LoopbackBroadcasterServices.hpp"
#include "wire/ClipboardLimits.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"
#include "wire/ClipboardPayloadStreamHeader.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

struct ScreenStreamBroadcasterLoopbackTestAccess {
    // Used only between turns of the broadcaster's event loop.
    static std::shared_ptr<QuicConnection> connection(const ScreenStreamBroadcaster& broadcaster) {
        return broadcaster.connection_;
    }
    static bool isIdle(const ScreenStreamBroadcaster& broadcaster) {
        const auto& transfers = *broadcaster.clipboardTransfers_;
        return !transfers.activeTransferID_ && !transfers.activeStream_;
    }
};

namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;
using Result = ClipboardTransferResultCode;

ClipboardTransferPayload payloadOfSize(std::size_t byteCount, std::uint8_t fill) {
    Bytes data(byteCount);
    for (std::size_t index = 0; index < byteCount; ++index) {
        data[index] = static_cast<std::uint8_t>(fill + index * 31);
    }
    auto representation = ClipboardRepresentation::make("public.data", std::move(data));
    auto item = ClipboardItem::make({std::move(representation).value()}, std::nullopt);
    return ClipboardTransferPayload::make({std::move(item).value()}).value();
}

// The largest body the protocol allows (67,166,689 bytes): 16 items, each a file with the longest name and
// content type, of 4 representations (64 in all) with the longest type identifiers and 1 MiB of data each
// (64 MiB of data in all).
ClipboardTransferPayload largestPayload() {
    constexpr std::size_t representationsPerItem =
        ClipboardLimits::maximumRepresentationCountPerPayload / ClipboardLimits::maximumItemCount;
    constexpr std::size_t dataPerRepresentation =
        ClipboardLimits::maximumPayloadDataByteCount / ClipboardLimits::maximumRepresentationCountPerPayload;
    std::vector<ClipboardItem> items;
    for (std::size_t item = 0; item < ClipboardLimits::maximumItemCount; ++item) {
        std::vector<ClipboardRepresentation> representations;
        std::vector<std::string> identifiers;
        for (std::size_t form = 0; form < representationsPerItem; ++form) {
            std::string identifier = "public.form" + std::to_string(item) + "-" + std::to_string(form) + ".";
            identifier.resize(ClipboardLimits::maximumTypeIdentifierByteCount, 'x');
            Bytes data(dataPerRepresentation);
            for (std::size_t index = 0; index < data.size(); ++index) {
                data[index] = static_cast<std::uint8_t>(index * 131 + item * 7 + form);
            }
            identifiers.push_back(identifier);
            representations.push_back(ClipboardRepresentation::make(identifier, std::move(data)).value());
        }
        std::string filename = "file" + std::to_string(item) + ".";
        filename.resize(ClipboardLimits::maximumSuggestedFilenameByteCount, 'n');
        auto metadata = ClipboardFileMetadata::make(filename, identifiers.front());
        items.push_back(ClipboardItem::make(std::move(representations), std::move(metadata).value()).value());
    }
    return ClipboardTransferPayload::make(std::move(items)).value();
}

asio::awaitable<std::optional<ClipboardTransferPayload>> readPayload(std::shared_ptr<QuicStream> stream,
                                                                     std::uint64_t byteCount) {
    co_return co_await ClipboardPayloadStreamCodec::read(*stream, byteCount);
}

// What the host's transport may hold unacknowledged on a connection to a headset whose stream window grows
// to at most 16 MiB: that window, plus the slice being written.
constexpr std::uint64_t maximumHostSendBufferByteCount =
    16 * 1024 * 1024 + ClipboardLimits::maximumSliceByteCount;

class StreamsOverQuicTest : public LoopbackBroadcasterTest {
protected:
    // A 64 MiB copy under the sanitizers takes a while.
    StreamsOverQuicTest() {
        waitBound = std::chrono::seconds(20);
        runBound = std::chrono::seconds(60);
    }

    struct Headset {
        std::shared_ptr<QuicConnection> connection;
        std::shared_ptr<QuicStream> control;
    };

    void SetUp() override {
        auto dependencies = loopbackDependencies(context.get_executor());
        // These headsets never send receiverReady; a 64 MiB copy under the sanitizers can outlast the default
        // set-up time.
        dependencies.sessionSetupTimeout = std::chrono::minutes(5);
        dependencies.personaCameraReceiver = camera;
        dependencies.microphoneReceiver = microphone;
        dependencies.clipboard = &clipboard;
        dependencies.keyboardReporting = &keyboard;
        startAdvertisedBroadcaster(std::move(dependencies));
    }

    // Connects, lets the host adopt the control stream and authorises the session.
    Headset authorizedHeadset() {
        Headset headset;
        headset.connection = run(client.connect(port));
        headset.control = run(headset.connection->openStream(QuicStreamDirectionality::bidirectional));
        EXPECT_TRUE(sendPairingHello(*headset.control, "Loopback Headset"));
        run(broadcaster->authorizeCurrentSession());
        return headset;
    }

    // The next control message of case C, skipping others.
    template <Case C>
    StreamControlMessage::PayloadType<C> receive(Headset& headset) {
        for (;;) {
            auto decoded = readControlMessage(*headset.control);
            if (decoded && decoded->get<C>()) {
                return *decoded->get<C>();
            }
        }
    }

    QuicTestClient client;
    std::shared_ptr<RecordingPersonaCameraReceiver> camera =
        std::make_shared<RecordingPersonaCameraReceiver>();
    std::shared_ptr<RecordingVisionMicrophoneReceiver> microphone =
        std::make_shared<RecordingVisionMicrophoneReceiver>();
    FakeClipboardTransferService clipboard;
    FakeKeyboardReportingService keyboard;
};

TEST_F(StreamsOverQuicTest, PasteRoundTripAndARefusedStreamDoesNotStallTheControlStream) {
    auto headset = authorizedHeadset();

    // A stream of an unusable kind with more data than it will ever read.
    auto refused = run(headset.connection->openStream(QuicStreamDirectionality::bidirectional));
    Bytes junk(256 * 1024, 0x02);
    junk[0] = 6;
    try {
        run(refused->send(std::move(junk), false));
    } catch (const std::system_error&) {
        // The host stopped reading it: what it should do.
    }

    const auto payload = payloadOfSize(100'000, 7);
    auto stream = run(headset.connection->openStream(QuicStreamDirectionality::bidirectional));
    ClipboardPayloadStreamHeader header;
    header.operation = ClipboardTransferOperation::pasteToMac;
    header.transferID = 9;
    header.payloadByteCount = static_cast<std::uint32_t>(payload.encodedByteCount());
    Bytes opening = header.encodedData();
    opening.insert(opening.begin(), 5);
    run(stream->send(std::move(opening), false));
    run(ClipboardPayloadStreamCodec::write(payload, *stream));
    EXPECT_EQ(run(ClipboardPayloadStreamCodec::receiveTransferResult(*stream)), Result::succeeded);
    ASSERT_EQ(clipboard.applied.size(), 1u);
    EXPECT_EQ(clipboard.applied[0].items()[0].representations()[0].data(),
              payload.items()[0].representations()[0].data());
    EXPECT_EQ(keyboard.pasteChordCount, 1);

    // The control stream still carries messages both ways.
    run(headset.control->send(
        ControlMessageFraming::encode(StreamControlMessage::make<Case::clipboardTransferCancel>(
            {77, ClipboardTransferOperation::copyFromMac})),
        false));
    EXPECT_EQ(receive<Case::clipboardTransferResult>(headset).transferID, 77u);
}

TEST_F(StreamsOverQuicTest, PersonaAndMicrophoneStreamsReachTheReceivers) {
    auto headset = authorizedHeadset();
    auto persona = run(headset.connection->openStream(QuicStreamDirectionality::unidirectional));
    Bytes frame{3, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 3, 1, 0xA, 0xB, 0xC};
    run(persona->send(std::move(frame), true));
    EXPECT_EQ(receive<Case::personaCameraReceiverReport>(headset).highestReceivedFrameID, 4u);
    ASSERT_EQ(camera->frames.size(), 1u);
    EXPECT_EQ(camera->frames[0].payload, (Bytes{0xA, 0xB, 0xC}));

    auto mic = run(headset.connection->openStream(QuicStreamDirectionality::unidirectional));
    Bytes chunk{4, 1, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0xE0, 0, 0, 0, 2, 0x55, 0x66};
    run(mic->send(std::move(chunk), true));
    EXPECT_EQ(receive<Case::microphoneReceiverReport>(headset).highestReceivedChunkID, 12u);
    ASSERT_EQ(microphone->chunks.size(), 1u);
    EXPECT_EQ(microphone->chunks[0].payload, (Bytes{0x55, 0x66}));
}

TEST_F(StreamsOverQuicTest, SixtyFourMebibyteCopyArrivesIntact) {
    // The most item data a payload may hold, in one representation.
    auto payload = payloadOfSize(64 * 1024 * 1024, 3);
    const auto byteCount = payload.encodedByteCount();
    clipboard.captureResult = RemoteClipboardCaptureResult::captured(payload);
    auto headset = authorizedHeadset();
    run(headset.control->send(
        ControlMessageFraming::encode(StreamControlMessage::make<Case::clipboardTransferRequest>(
            {5, ClipboardTransferOperation::copyFromMac})),
        false));
    auto stream = run(headset.connection->acceptStream());
    ASSERT_TRUE(stream);
    EXPECT_EQ(run(stream->receiveExactly(1)).data, Bytes{5});
    const auto header = ClipboardPayloadStreamHeader::decode(
        run(stream->receiveExactly(ClipboardPayloadStreamHeader::encodedByteCount)).data);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->payloadByteCount, byteCount);
    const auto received = run(readPayload(stream, header->payloadByteCount));
    ASSERT_TRUE(received);
    EXPECT_TRUE(received->items()[0].representations()[0].data() ==
                payload.items()[0].representations()[0].data());
    run(ClipboardPayloadStreamCodec::sendTransferResult(Result::succeeded, *stream));
    runFor(20ms);
}

TEST_F(StreamsOverQuicTest, LargestCopyArrivesIntactWhileTheHostHoldsOneBodyAndABoundedSendBuffer) {
    auto payload = largestPayload();
    ASSERT_EQ(payload.encodedByteCount(), ClipboardLimits::maximumPayloadBodyByteCount);
    clipboard.captureResult = RemoteClipboardCaptureResult::captured(payload);
    auto headset = authorizedHeadset();
    const auto hostConnection = ScreenStreamBroadcasterLoopbackTestAccess::connection(*broadcaster);
    ASSERT_TRUE(hostConnection);
    run(headset.control->send(
        ControlMessageFraming::encode(StreamControlMessage::make<Case::clipboardTransferRequest>(
            {5, ClipboardTransferOperation::copyFromMac})),
        false));
    auto stream = run(headset.connection->acceptStream());
    ASSERT_TRUE(stream);
    EXPECT_EQ(run(stream->receiveExactly(1)).data, Bytes{5});
    const auto header = ClipboardPayloadStreamHeader::decode(
        run(stream->receiveExactly(ClipboardPayloadStreamHeader::encodedByteCount)).data);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->payloadByteCount, 67'166'689u);
    const auto received = run(readPayload(stream, header->payloadByteCount));
    ASSERT_TRUE(received);
    ASSERT_EQ(received->items().size(), payload.items().size());
    for (std::size_t index = 0; index < payload.items().size(); ++index) {
        EXPECT_TRUE(received->items()[index] == payload.items()[index]) << "item " << index;
    }
    run(ClipboardPayloadStreamCodec::sendTransferResult(Result::succeeded, *stream));
    EXPECT_TRUE(runUntil([&] { return ScreenStreamBroadcasterLoopbackTestAccess::isIdle(*broadcaster); }));
    // Back-pressure: the headset's flow control, not the body's size, bounds what the host's transport
    // held unacknowledged at any moment (the captured body itself is the one body the host holds).
    const auto statistics = hostConnection->statistics();
    EXPECT_GT(statistics.peakStreamBytesAwaitingAcknowledgement, 0u);
    EXPECT_LE(statistics.peakStreamBytesAwaitingAcknowledgement, maximumHostSendBufferByteCount);
    // Once acknowledged, nothing of it stays.
    EXPECT_TRUE(
        runUntil([&] { return hostConnection->statistics().streamBytesAwaitingAcknowledgement == 0; }));
}

}  // namespace
}  // namespace quillbridge
