#pragma once

// A broadcaster wired to fakes (transport, service discovery, stores, bridge, input, power) on one
// io_context that the test drives itself, with a manual clock, and a headset made of fake connections.

#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "core/ManualClock.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/FakeConnectionPowerActivity.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeQuicTransport.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "support/RecordingRemoteInputSink.hpp"
#include "support/bridge/RecordingBridgeReceivers.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

// Reaches the broadcaster's state for inspection and arrangement. Used only from the thread that runs
// the broadcaster's strand.
struct ScreenStreamBroadcasterTestAccess {
    using Broadcaster = ScreenStreamBroadcaster;
    static bool isAuthorized(const Broadcaster& b) { return b.isAuthorized_; }
    static bool isReceiverReady(const Broadcaster& b) { return b.isReceiverReady_; }
    static bool hasConnection(const Broadcaster& b) { return b.connection_ != nullptr; }
    static bool isTearingDown(const Broadcaster& b) { return b.isTearingDownSession_; }
    static bool& forceNextKeyFrame(Broadcaster& b) { return b.videoPipeline_->forceNextKeyFrame_; }
    static std::optional<std::uint64_t>& highestReceivedFrameID(Broadcaster& b) {
        return b.videoPipeline_->highestReceivedFrameID_;
    }
    static std::optional<std::uint64_t>& highestReceivedAudioChunkID(Broadcaster& b) {
        return b.audioPipeline_->highestReceivedAudioChunkID_;
    }
    static std::uint64_t& nextSentFrameID(Broadcaster& b) { return b.videoPipeline_->nextSentFrameID_; }
    static std::uint64_t& nextSentAudioChunkID(Broadcaster& b) {
        return b.audioPipeline_->nextSentAudioChunkID_;
    }
    static KeyboardTypePreference keyboardTypePreference(const Broadcaster& b) {
        return b.keyboardReporting_->typePreference_;
    }
    static bool& isPersonaCameraRequested(Broadcaster& b) {
        return b.inboundStreamRouter_->isPersonaCameraRequested_;
    }
    static bool& isMicrophoneRequested(Broadcaster& b) {
        return b.inboundStreamRouter_->isMicrophoneRequested_;
    }
    static const std::optional<SessionHelloMessage>& currentHello(const Broadcaster& b) {
        return b.currentHello_;
    }
    static std::uint64_t localNetworkProbeGeneration(const Broadcaster& b) {
        return b.listener_->localNetworkProbeGeneration_;
    }
    static void localNetworkProbeSucceeded(Broadcaster& b, std::uint64_t generation) {
        b.listener_->localNetworkProbeSucceeded(generation);
    }
    static bool isScrollMomentumRunning(const Broadcaster& b) { return b.scrollMomentum_->isRunning(); }

    // Admission.
    static const std::optional<Bytes>& tlsCertificateDER(const Broadcaster& b) {
        return b.tlsCertificateDER_;
    }
    static bool hasPairingAttempt(const Broadcaster& b) { return b.pairingExchange_ != nullptr; }
    static bool isListenerReady(const Broadcaster& b) { return b.listener_->isListenerReady_; }
    static std::optional<VideoFormatDescriptionMessage>& lastFormatMessage(Broadcaster& b) {
        return b.videoPipeline_->lastFormatMessage_;
    }
    static void setCapturedDisplayPointSize(Broadcaster& b, double width, double height) {
        b.videoPipeline_->capturedDisplay_.pointWidth = width;
        b.videoPipeline_->capturedDisplay_.pointHeight = height;
    }

    // Video.
    static int framesInFlight(const Broadcaster& b) { return b.videoPipeline_->framesInFlight_; }
    static std::uint64_t compressionSessionGeneration(const Broadcaster& b) {
        return b.videoPipeline_->compressionSessionGeneration_;
    }
    static bool isVideoEncodingPipelineResetPending(const Broadcaster& b) {
        return b.videoPipeline_->isResetPending_;
    }
    static bool hasDeferredVideoFrame(const Broadcaster& b) {
        return b.videoPipeline_->deferredVideoSampleBuffer_ != nullptr;
    }
    static std::shared_ptr<QuicStream> mediaStream(const Broadcaster& b) {
        return b.videoPipeline_->mediaStream_;
    }
    static int frameRate(const Broadcaster& b) { return b.videoPipeline_->frameRate_; }
    static std::optional<int> pendingFrameRate(const Broadcaster& b) {
        return b.videoPipeline_->pendingFrameRate_;
    }
    static std::deque<EncodedVideoFrame>& pendingMediaFrames(Broadcaster& b) {
        return b.videoPipeline_->pendingMediaFrames_;
    }
    static std::size_t& pendingMediaFrameStartIndex(Broadcaster& b) {
        return b.videoPipeline_->pendingMediaFrameStartIndex_;
    }
    static void compactPendingMediaFrames(Broadcaster& b) { b.videoPipeline_->compactPendingMediaFrames(); }
};

using Access = ScreenStreamBroadcasterTestAccess;
using State = ScreenStreamBroadcaster::State;
using Case = StreamControlMessage::Case;

class ScreenStreamBroadcasterFixture : public ::testing::Test {
protected:
    // The headset's side of one connection.
    struct Headset {
        std::shared_ptr<FakeQuicConnection> connection;
        std::shared_ptr<QuicStream> control;
    };

    void SetUp() override { makeBroadcaster(); }

    void TearDown() override {
        if (broadcaster) {
            run(broadcaster->stop());
            drain();
            broadcaster.reset();
        }
        drain();
    }

    virtual void adjust(ScreenStreamBroadcasterDependencies&) {}

    void makeBroadcaster() {
        ScreenStreamBroadcasterDependencies dependencies;
        dependencies.executor = context.get_executor();
        dependencies.transport = &transport;
        dependencies.makeAdvertiser = [this] { return discovery.makeAdvertiser(); };
        dependencies.makeBrowser = [this] { return discovery.makeBrowser(); };
        dependencies.clock = &clock;
        dependencies.hostTimeNanoseconds = [this] { return hostTime += 1000; };
        dependencies.defaults = &defaults;
        dependencies.secrets = &secrets;
        dependencies.hostDisplayName = "  Studio Host\n";
        dependencies.personaAVTimingCoordinator = coordinator;
        dependencies.personaCameraReceiver = camera;
        dependencies.microphoneReceiver = microphone;
        dependencies.connectionPowerActivity = &power;
        dependencies.displayWaker = &waker;
        dependencies.remoteInput = &input;
        adjust(dependencies);
        broadcaster = ScreenStreamBroadcaster::create(std::move(dependencies));
    }

    // Runs ready work until none is left (the manual clock's sleepers keep waiting).
    void drain() {
        for (int round = 0; round < 10000; ++round) {
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
        std::exception_ptr error;
        bool done = false;
        asio::co_spawn(context, std::move(awaitable), [&](std::exception_ptr e, T value) {
            error = e;
            if (!e) {
                result.emplace(std::move(value));
            }
            done = true;
        });
        drain();
        if (!done) {
            ADD_FAILURE() << "the awaited operation did not complete";
            return T{};
        }
        if (error) {
            std::rethrow_exception(error);
        }
        return std::move(*result);
    }

    void run(asio::awaitable<void> awaitable) {
        std::exception_ptr error;
        bool done = false;
        asio::co_spawn(context, std::move(awaitable), [&](std::exception_ptr e) {
            error = e;
            done = true;
        });
        drain();
        ASSERT_TRUE(done) << "the awaited operation did not complete";
        if (error) {
            std::rethrow_exception(error);
        }
    }

    // Everything yielded so far on one of the outputs.
    template <class T>
    std::vector<T> taken(AsyncStream<T>& stream) {
        std::vector<T> values;
        while (stream.bufferedCount() > 0) {
            if (auto value = run(stream.next())) {
                values.push_back(std::move(*value));
            }
        }
        return values;
    }
    std::vector<State> updates() { return taken(broadcaster->updates()); }

    void startListening() {
        run(broadcaster->startListening());
        drain();
    }

    FakeQuicListener* listener() { return transport.latestListener(); }

    // A headset connects and, unless told otherwise, opens its control stream.
    Headset connect(bool opensControlStream = true) {
        Headset headset;
        headset.connection = listener()->connect(Bytes{0x30, 0x82, 0x01});
        drain();
        if (headset.connection && opensControlStream) {
            headset.control = run(headset.connection->openStream(QuicStreamDirectionality::bidirectional));
            drain();
        }
        return headset;
    }

    void send(Headset& headset, const StreamControlMessage& message) {
        run(headset.control->send(ControlMessageFraming::encode(message), false));
        drain();
    }

    void sendRaw(Headset& headset, Bytes bytes) {
        run(headset.control->send(std::move(bytes), false));
        drain();
    }

    // The next control message the host sent, or nothing when none is waiting.
    std::optional<StreamControlMessage> receive(Headset& headset) {
        std::optional<Bytes> data;
        bool done = false;
        asio::cancellation_signal signal;
        asio::co_spawn(context, ControlMessageFraming::readMessageData(*headset.control),
                       asio::bind_cancellation_slot(signal.slot(), [&](std::exception_ptr e, Bytes bytes) {
                           if (!e) {
                               data = std::move(bytes);
                           }
                           done = true;
                       }));
        drain();
        if (!done) {
            signal.emit(asio::cancellation_type::all);
            drain();
            return std::nullopt;
        }
        if (!data) {
            return std::nullopt;
        }
        auto decoded = decodeJson<StreamControlMessage>(
            std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
        EXPECT_TRUE(decoded.has_value());
        return decoded ? std::optional(*decoded) : std::nullopt;
    }

    static bool isClosed(const Headset& headset) {
        return headset.connection->state().kind != QuicConnectionState::Kind::ready;
    }

    void authorize() {
        run(broadcaster->authorizeCurrentSession());
        drain();
    }

    asio::io_context context;
    ManualClock clock;
    FakeQuicTransport transport;
    FakeServiceDiscovery discovery;
    FakeDefaultsStore defaults;
    FakeSecretStore secrets;
    std::shared_ptr<RecordingPersonaAVTimingCoordinator> coordinator =
        std::make_shared<RecordingPersonaAVTimingCoordinator>();
    std::shared_ptr<RecordingPersonaCameraReceiver> camera =
        std::make_shared<RecordingPersonaCameraReceiver>();
    std::shared_ptr<RecordingVisionMicrophoneReceiver> microphone =
        std::make_shared<RecordingVisionMicrophoneReceiver>();
    FakeConnectionPowerActivity power;
    FakeDisplayWaker waker;
    RecordingRemoteInputSink input;
    std::uint64_t hostTime = 0;
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster;
};

}  // namespace quillbridge
