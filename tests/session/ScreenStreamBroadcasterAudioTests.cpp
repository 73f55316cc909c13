#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>

#include "core/BigEndian.hpp"
#include "core/Logger.hpp"
#include "session/QuicError.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/ScreenStreamBroadcasterFixture.hpp"
#include "support/audio/FakeAudioConverterFactory.hpp"
#include "wire/AudioFrameDatagram.hpp"

namespace quillbridge {

struct ScreenStreamBroadcasterAudioTestAccess {
    using Broadcaster = ScreenStreamBroadcaster;
    static std::shared_ptr<QuicConnection>& connection(Broadcaster& b) { return b.connection_; }
    static std::shared_ptr<QuicStream>& controlStream(Broadcaster& b) { return b.controlStream_; }
    static bool audioDatagramsOpen(const Broadcaster& b) { return b.audioPipeline_->audioDatagrams_; }
    static std::uint32_t audioFormatRevision(const Broadcaster& b) {
        return b.audioPipeline_->audioFormatRevision_;
    }
    static bool hasAudioFormat(const Broadcaster& b) {
        return b.audioPipeline_->lastAudioFormatMessage_.has_value();
    }
    static const AudioPCMAccumulator& accumulator(const Broadcaster& b) {
        return b.audioPipeline_->audioAccumulator_;
    }
    static bool hasAudioEncoderConverter(const Broadcaster& b) {
        return b.audioPipeline_->audioEncoder_ && b.audioPipeline_->audioEncoder_->inputFormat().has_value();
    }
    static std::optional<std::uint64_t> pressureTime(const Broadcaster& b) {
        return b.audioPipeline_->audioFlightWindow_.pressureObservedAtHostTimeNanoseconds;
    }
    static std::optional<std::uint64_t> lastProbeTime(const Broadcaster& b) {
        return b.audioPipeline_->audioFlightWindow_.lastRecoveryProbeHostTimeNanoseconds;
    }
};

namespace {

using AudioAccess = ScreenStreamBroadcasterAudioTestAccess;
constexpr std::uint64_t millisecond = 1'000'000;

// What the host did on the wire, in order: "control:<case>" for a control frame, "datagram" for an audio
// datagram.
using EventLog = std::vector<std::string>;

// Stands between the broadcaster and its control stream: records each frame written and can fail them.
class RecordingControlStream final : public QuicStream {
public:
    RecordingControlStream(std::shared_ptr<QuicStream> inner, std::shared_ptr<EventLog> events)
        : inner_(std::move(inner)), events_(std::move(events)) {}

    std::optional<std::error_code> sendFailure;

    std::int64_t id() const override { return inner_->id(); }
    QuicStreamDirectionality directionality() const override { return inner_->directionality(); }
    bool isLocallyInitiated() const override { return inner_->isLocallyInitiated(); }
    asio::awaitable<QuicStreamChunk> receive(std::size_t minimumLength, std::size_t maximumLength) override {
        return inner_->receive(minimumLength, maximumLength);
    }
    asio::awaitable<void> send(Bytes data, bool endOfStream) override {
        if (sendFailure) {
            throw std::system_error(*sendFailure);
        }
        std::string name = "control";
        if (data.size() > 4) {
            auto message = decodeJson<StreamControlMessage>(
                std::string_view(reinterpret_cast<const char*>(data.data()) + 4, data.size() - 4));
            if (message) {
                name += ":" + std::string(message->caseName());
            }
        }
        events_->push_back(name);
        co_await inner_->send(std::move(data), endOfStream);
    }
    void setApplicationErrorCode(std::uint64_t code) override { inner_->setApplicationErrorCode(code); }
    void reset(std::uint64_t code) override { inner_->reset(code); }
    void stopSending(std::uint64_t code) override { inner_->stopSending(code); }

private:
    std::shared_ptr<QuicStream> inner_;
    std::shared_ptr<EventLog> events_;
};

// Stands between the broadcaster and its connection for datagrams: records them, can fail the sends and
// reports a chosen path limit.
class RecordingDatagramConnection final : public QuicConnection {
public:
    RecordingDatagramConnection(std::shared_ptr<QuicConnection> inner, std::shared_ptr<EventLog> events)
        : inner_(std::move(inner)), events_(std::move(events)) {}

    std::deque<std::error_code> sendFailures;
    std::size_t maximumSize = 1200;
    std::uint64_t droppedUnsent = 0;
    std::vector<Bytes> sent;

    void setStateHandler(asio::any_io_executor executor, StateHandler handler) override {
        inner_->setStateHandler(std::move(executor), std::move(handler));
    }
    QuicConnectionState state() const override { return inner_->state(); }
    QuicConnectionCloseInfo closeInfo() const override { return inner_->closeInfo(); }
    asio::awaitable<std::shared_ptr<QuicStream>> acceptStream() override { return inner_->acceptStream(); }
    asio::awaitable<std::shared_ptr<QuicStream>> openStream(QuicStreamDirectionality d) override {
        return inner_->openStream(d);
    }
    asio::awaitable<void> sendDatagram(Bytes datagram) override {
        if (!sendFailures.empty()) {
            auto failure = sendFailures.front();
            sendFailures.pop_front();
            throw std::system_error(failure);
        }
        events_->push_back("datagram");
        sent.push_back(datagram);
        co_await inner_->sendDatagram(std::move(datagram));
    }
    asio::awaitable<Bytes> receiveDatagram() override { return inner_->receiveDatagram(); }
    std::size_t maximumDatagramSize() const override { return maximumSize; }
    Bytes peerCertificateDER() const override { return inner_->peerCertificateDER(); }
    QuicConnectionStatistics statistics() const override {
        auto statistics = inner_->statistics();
        statistics.datagramsDroppedUnsent = droppedUnsent;
        return statistics;
    }
    void close(std::uint64_t code) override { inner_->close(code); }

private:
    std::shared_ptr<QuicConnection> inner_;
    std::shared_ptr<EventLog> events_;
};

// One audio datagram as the headset reads it.
struct ReceivedAudioDatagram {
    std::uint32_t formatRevision = 0;
    std::uint64_t chunkID = 0;
    std::uint64_t presentationTimeNanoseconds = 0;
    std::size_t payloadByteCount = 0;
};

ReceivedAudioDatagram parseAudioDatagram(const Bytes& bytes) {
    ReceivedAudioDatagram parsed;
    std::size_t cursor = 0;
    EXPECT_EQ(readUInt8(bytes, cursor), AudioFrameDatagram::kindByte);
    parsed.formatRevision = readBigEndianUInt32(bytes, cursor).value_or(0);
    EXPECT_EQ(readUInt8(bytes, cursor), 1);
    parsed.chunkID = readBigEndianUInt64(bytes, cursor).value_or(0);
    parsed.presentationTimeNanoseconds = readBigEndianUInt64(bytes, cursor).value_or(0);
    const auto packetCount = readBigEndianUInt16(bytes, cursor).value_or(0);
    EXPECT_EQ(readBigEndianUInt32(bytes, cursor), 8u * packetCount);
    parsed.payloadByteCount = readBigEndianUInt32(bytes, cursor).value_or(0);
    EXPECT_EQ(bytes.size(), AudioFrameDatagram::fixedByteCount + 8u * packetCount + parsed.payloadByteCount);
    return parsed;
}

// 512 frames of silence-free float audio per chunk, one array per channel.
AudioPCMBuffer pcm(std::uint32_t frames, std::uint64_t time, double sampleRate = 48000,
                   std::uint32_t channels = 1) {
    AudioPCMBuffer buffer;
    buffer.format = {sampleRate, channels, AudioSampleFormat::float32, false};
    buffer.frameLength = frames;
    buffer.floatChannels.assign(channels, std::vector<float>(frames, 0.25f));
    buffer.presentationTimeNanoseconds = time;
    return buffer;
}

// Outlives the fixture's broadcaster (bases are destroyed after the derived parts).
struct AudioConverters {
    FakeAudioConverterFactory converters;
};

class BroadcasterAudioTest : public AudioConverters, public ScreenStreamBroadcasterFixture {
protected:
    void adjust(ScreenStreamBroadcasterDependencies& dependencies) override {
        dependencies.audioConverterFactory = &converters;
        dependencies.hostTimeNanoseconds = [this] { return audioHostTime; };
    }

    void SetUp() override {
        ScreenStreamBroadcasterFixture::SetUp();
        startListening();
    }

    // A connected, authorised headset whose receiver is not ready yet; the host's control stream and
    // connection are wrapped for recording.
    Headset authorisedHeadset() {
        auto headset = connect();
        authorize();
        auto& stream = AudioAccess::controlStream(*broadcaster);
        control = std::make_shared<RecordingControlStream>(stream, events);
        stream = control;
        auto& connection = AudioAccess::connection(*broadcaster);
        datagrams = std::make_shared<RecordingDatagramConnection>(connection, events);
        connection = datagrams;
        return headset;
    }

    Headset readyHeadset() {
        auto headset = authorisedHeadset();
        send(headset, StreamControlMessage::make<Case::receiverReady>());
        events->clear();
        return headset;
    }

    void sendAudio(AudioPCMBuffer buffer) {
        run(broadcaster->sendAudioDatagrams(std::move(buffer)));
        drain();
    }

    // One chunk at the given host time (ms); its presentation time is its index.
    void sendChunkAt(std::uint64_t hostMilliseconds) {
        audioHostTime = hostMilliseconds * millisecond;
        sendAudio(pcm(512, chunkTime++));
    }

    std::vector<std::uint64_t> sentChunkIDs() {
        std::vector<std::uint64_t> ids;
        for (const auto& bytes : datagrams->sent) {
            ids.push_back(parseAudioDatagram(bytes).chunkID);
        }
        return ids;
    }

    void report(Headset& headset, std::uint64_t highestAudioChunk) {
        send(headset, StreamControlMessage::make<Case::receiverReport>(
                          {std::nullopt, std::nullopt, highestAudioChunk}));
    }

    std::vector<State> failures() {
        std::vector<State> result;
        for (auto& state : updates()) {
            if (state.kind == State::Kind::failed) {
                result.push_back(state);
            }
        }
        return result;
    }

    std::uint64_t audioHostTime = 1'000 * millisecond;
    std::uint64_t chunkTime = 0;
    std::shared_ptr<EventLog> events = std::make_shared<EventLog>();
    std::shared_ptr<RecordingControlStream> control;
    std::shared_ptr<RecordingDatagramConnection> datagrams;
};

TEST_F(BroadcasterAudioTest, AudioBeforeReceiverReadyIsDroppedNotQueued) {
    auto headset = authorisedHeadset();
    sendAudio(pcm(700, 5'000));
    EXPECT_TRUE(events->empty());
    EXPECT_EQ(AudioAccess::accumulator(*broadcaster).queuedFrameCount(), 0u);
    EXPECT_TRUE(converters.conversions.empty());

    send(headset, StreamControlMessage::make<Case::receiverReady>());
    events->clear();
    sendAudio(pcm(512, 9'000));
    ASSERT_EQ(datagrams->sent.size(), 1u);
    const auto datagram = parseAudioDatagram(datagrams->sent[0]);
    EXPECT_EQ(datagram.chunkID, 0u);
    EXPECT_EQ(datagram.formatRevision, 1u);
    // The chunk is the later buffer's, not the dropped one's.
    EXPECT_EQ(datagram.presentationTimeNanoseconds, 9'000u);
}

TEST_F(BroadcasterAudioTest, FormatIsAnnouncedBeforeTheFirstDatagramOfEachRevision) {
    auto headset = readyHeadset();
    sendAudio(pcm(1024, 0));
    sendAudio(pcm(512, 20 * millisecond));
    // The capture's sample rate changes: a new announcement with the next revision comes first.
    sendAudio(pcm(512, 40 * millisecond, 44100));
    EXPECT_EQ(*events, (EventLog{"control:audioFormat", "datagram", "datagram", "datagram",
                                 "control:audioFormat", "datagram"}));

    std::vector<std::pair<std::uint32_t, std::uint64_t>> revisionsAndChunks;
    for (const auto& bytes : datagrams->sent) {
        const auto datagram = parseAudioDatagram(bytes);
        revisionsAndChunks.emplace_back(datagram.formatRevision, datagram.chunkID);
    }
    EXPECT_EQ(revisionsAndChunks,
              (std::vector<std::pair<std::uint32_t, std::uint64_t>>{{1, 0}, {1, 1}, {1, 2}, {2, 3}}));

    // The headset reads the announcements in order, with the format each describes.
    auto first = receive(headset);
    ASSERT_TRUE(first && first->get<Case::audioFormat>());
    EXPECT_EQ(first->get<Case::audioFormat>()->revision, 1u);
    EXPECT_EQ(first->get<Case::audioFormat>()->format.sampleRate, 48000);
    EXPECT_EQ(first->get<Case::audioFormat>()->format.channelCount, 1u);
    EXPECT_EQ(first->get<Case::audioFormat>()->format.magicCookie, converters.magicCookie);
    auto second = receive(headset);
    ASSERT_TRUE(second && second->get<Case::audioFormat>());
    EXPECT_EQ(second->get<Case::audioFormat>()->revision, 2u);
    EXPECT_EQ(second->get<Case::audioFormat>()->format.sampleRate, 44100);

    // And the datagrams reach the headset as sent.
    auto received = run(headset.connection->receiveDatagram());
    EXPECT_EQ(received, datagrams->sent[0]);
}

TEST_F(BroadcasterAudioTest, FlightWindowSendsTwentyFourChunksThenOneProbeEveryQuarterSecond) {
    auto headset = readyHeadset();
    // Chunks 0-23 go out; 24 fills the window at t=100 ms; 25-27 wait; 28 at 350 ms is the first probe;
    // 29 at 599 ms waits; 30 at 600 ms is the next probe.
    for (int chunk = 0; chunk < 24; ++chunk) {
        sendChunkAt(10);
    }
    sendChunkAt(100);
    EXPECT_EQ(AudioAccess::pressureTime(*broadcaster), 100 * millisecond);
    for (std::uint64_t at : {120, 200, 349, 350, 599, 600}) {
        sendChunkAt(at);
    }
    std::vector<std::uint64_t> expected;
    for (std::uint64_t id = 0; id < 24; ++id) {
        expected.push_back(id);
    }
    expected.push_back(28);
    expected.push_back(30);
    EXPECT_EQ(sentChunkIDs(), expected);
    // Skipped chunks are never encoded.
    EXPECT_EQ(converters.conversions.size(), 26u);
    EXPECT_EQ(AudioAccess::lastProbeTime(*broadcaster), 600 * millisecond);

    // A report that brings the outstanding count under 24 clears both times and sending resumes at once.
    report(headset, 20);
    EXPECT_EQ(AudioAccess::pressureTime(*broadcaster), 100 * millisecond);  // cleared by the next chunk
    sendChunkAt(601);
    EXPECT_EQ(sentChunkIDs().back(), 31u);
    EXPECT_FALSE(AudioAccess::pressureTime(*broadcaster));
    EXPECT_FALSE(AudioAccess::lastProbeTime(*broadcaster));
}

TEST_F(BroadcasterAudioTest, ReportedChunksKeepTheWindowOpen) {
    auto headset = readyHeadset();
    for (int chunk = 0; chunk < 40; ++chunk) {
        sendChunkAt(10);
        if (chunk % 10 == 9) {
            report(headset, chunk);
        }
    }
    EXPECT_EQ(datagrams->sent.size(), 40u);
    EXPECT_FALSE(AudioAccess::pressureTime(*broadcaster));
}

TEST_F(BroadcasterAudioTest, DatagramsLargerThanTheProtocolOrThePathAllowAreDroppedAndLogged) {
    auto headset = readyHeadset();
    struct Row {
        std::size_t payload;
        std::size_t pathLimit;
        bool sent;
    };
    // 40 bytes of framing around the payload: 1,160 fills a 1,200-byte datagram.
    const Row cases[] = {{1160, 1400, true}, {1161, 1400, false}, {1160, 1158, false}, {1118, 1158, true}};
    std::uint64_t chunkID = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "payload " << c.payload << ", path " << c.pathLimit);
        datagrams->maximumSize = c.pathLimit;
        converters.scriptedConversions.push_back(
            {AudioConverterOutputStatus::haveData, Bytes(c.payload, 0x11), {}});
        const auto before = datagrams->sent.size();
        ScopedLogCapture logs;
        sendAudio(pcm(512, chunkID));
        EXPECT_EQ(datagrams->sent.size(), before + (c.sent ? 1 : 0));
        const auto messages = logs.messages("ScreenStreamBroadcaster");
        if (c.sent) {
            EXPECT_EQ(parseAudioDatagram(datagrams->sent.back()).chunkID, chunkID);
            EXPECT_TRUE(messages.empty());
        } else {
            EXPECT_EQ(messages, (std::vector<std::string>{
                                    "Dropped oversized audio datagram: chunk=" + std::to_string(chunkID) +
                                    ", payloadBytes=" + std::to_string(c.payload)}));
        }
        ++chunkID;
    }
    EXPECT_TRUE(failures().empty());
    EXPECT_FALSE(isClosed(headset));
}

TEST_F(BroadcasterAudioTest, DatagramsTheTransportDroppedUnsentAreLoggedOnce) {
    auto headset = readyHeadset();
    std::vector<std::string> logged;
    for (std::uint64_t droppedSoFar : {0, 3, 3, 4}) {
        datagrams->droppedUnsent = droppedSoFar;
        ScopedLogCapture logs;
        sendAudio(pcm(512, droppedSoFar));
        for (auto& message : logs.messages("ScreenStreamBroadcaster")) {
            logged.push_back(message);
        }
    }
    EXPECT_EQ(logged, (std::vector<std::string>{"Dropped unsent audio datagrams: count=3",
                                                "Dropped unsent audio datagrams: count=1"}));
    EXPECT_EQ(datagrams->sent.size(), 4u);
    EXPECT_TRUE(failures().empty());
}

TEST_F(BroadcasterAudioTest, EncoderWithoutOutputUsesUpTheChunkIdentifier) {
    auto headset = readyHeadset();
    converters.scriptedConversions.push_back({AudioConverterOutputStatus::haveData, Bytes{}, {}});
    sendAudio(pcm(1024, 0));
    EXPECT_EQ(sentChunkIDs(), (std::vector<std::uint64_t>{1}));
}

TEST_F(BroadcasterAudioTest, BenignSendFailuresForgetTheFlowAndOthersEndTheSession) {
    struct Row {
        std::error_code error;
        bool endsSession;
    };
    const Row cases[] = {
        {std::make_error_code(std::errc::broken_pipe), false},
        {std::make_error_code(std::errc::not_connected), false},
        {std::make_error_code(std::errc::connection_reset), false},
        {std::make_error_code(std::errc::message_size), true},
        {make_error_code(QuicError::idleTimeout), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error.message());
        auto headset = readyHeadset();
        updates();
        datagrams->sendFailures.push_back(c.error);
        // Two chunks in one call: after the failure the rest of the call's audio is dropped.
        sendAudio(pcm(1024, 0));
        EXPECT_TRUE(datagrams->sent.empty());
        if (c.endsSession) {
            EXPECT_EQ(failures(), (std::vector<State>{State::failed("Connection lost")}));
            EXPECT_TRUE(isClosed(headset));
            EXPECT_FALSE(AudioAccess::audioDatagramsOpen(*broadcaster));
        } else {
            EXPECT_TRUE(failures().empty());
            EXPECT_FALSE(isClosed(headset));
            EXPECT_FALSE(AudioAccess::audioDatagramsOpen(*broadcaster));
            // The next call opens the flow again and sends.
            sendAudio(pcm(512, 1));
            EXPECT_TRUE(AudioAccess::audioDatagramsOpen(*broadcaster));
            // The failed chunk used up identifier 0; the dropped rest of that call took none.
            EXPECT_EQ(sentChunkIDs(), (std::vector<std::uint64_t>{1}));
            run(broadcaster->endSession(nullptr, std::nullopt, true, true));
            drain();
        }
        updates();
    }
}

TEST_F(BroadcasterAudioTest, FailedAnnouncementEndsTheSessionWithoutAudio) {
    auto headset = readyHeadset();
    updates();
    control->sendFailure = std::make_error_code(std::errc::broken_pipe);
    sendAudio(pcm(512, 0));
    EXPECT_TRUE(datagrams->sent.empty());
    EXPECT_EQ(failures(), (std::vector<State>{State::failed("Connection lost")}));
    EXPECT_TRUE(isClosed(headset));
}

TEST_F(BroadcasterAudioTest, SessionEndResetsTheAudioStateForTheNextSession) {
    auto headset = readyHeadset();
    for (int chunk = 0; chunk < 25; ++chunk) {
        sendChunkAt(10);
    }
    sendAudio(pcm(100, 0));  // leaves frames queued
    ASSERT_TRUE(AudioAccess::pressureTime(*broadcaster));
    ASSERT_GT(AudioAccess::accumulator(*broadcaster).queuedFrameCount(), 0u);

    run(broadcaster->endSession(nullptr, std::nullopt, true, true));
    drain();
    EXPECT_FALSE(AudioAccess::audioDatagramsOpen(*broadcaster));
    EXPECT_FALSE(AudioAccess::hasAudioFormat(*broadcaster));
    EXPECT_EQ(AudioAccess::audioFormatRevision(*broadcaster), 0u);
    EXPECT_EQ(Access::nextSentAudioChunkID(*broadcaster), 0u);
    EXPECT_FALSE(Access::highestReceivedAudioChunkID(*broadcaster));
    EXPECT_FALSE(AudioAccess::pressureTime(*broadcaster));
    EXPECT_FALSE(AudioAccess::lastProbeTime(*broadcaster));
    EXPECT_EQ(AudioAccess::accumulator(*broadcaster).queuedFrameCount(), 0u);
    EXPECT_FALSE(AudioAccess::accumulator(*broadcaster).currentFormat());
    EXPECT_FALSE(AudioAccess::hasAudioEncoderConverter(*broadcaster));

    // The next session starts over: revision 1, chunk 0, announced first.
    auto next = readyHeadset();
    sendAudio(pcm(512, 77));
    EXPECT_EQ(*events, (EventLog{"control:audioFormat", "datagram"}));
    const auto datagram = parseAudioDatagram(datagrams->sent.at(0));
    EXPECT_EQ(datagram.formatRevision, 1u);
    EXPECT_EQ(datagram.chunkID, 0u);
}

TEST_F(BroadcasterAudioTest, ReceiverReadyRepeatsAKnownFormatWithItsRevision) {
    auto headset = readyHeadset();
    sendAudio(pcm(512, 0));
    sendAudio(pcm(512, 1, 44100));
    events->clear();
    send(headset, StreamControlMessage::make<Case::receiverReady>());
    EXPECT_EQ(*events, (EventLog{"control:audioFormat"}));
    EXPECT_EQ(AudioAccess::audioFormatRevision(*broadcaster), 2u);
}

}  // namespace
}  // namespace quillbridge
