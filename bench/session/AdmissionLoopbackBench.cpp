// A whole reconnect of a paired headset over the real QUIC transport on loopback, as a headset sees it:
// from its hello being sent on a connected control stream to the authenticationResult read back. The QUIC
// handshake is not counted. With the blocking-work pool the host runs in production.
//
//   quillbridge_session_bench --benchmark_filter=AdmissionLoopback --benchmark_counters_tabular=true

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include <benchmark/benchmark.h>

#include "ReconnectResponse.hpp"
#include "core/BlockingWorkPool.hpp"
#include "core/Logger.hpp"
#include "pairing/P256SigningKey.hpp"
#include "pairing/PairedPeerStore.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/BoundedEventLoop.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/quic/TestLoopback.hpp"
#include "support/session/LoopbackBroadcasterServices.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

class SilentSink final : public LogSink {
public:
    void write(const LogRecord&) override {}
};

class LoopbackHost : public BoundedEventLoop, public LoopbackBroadcasterServices {
public:
    LoopbackHost() {
        previousSink_ = installLogSink(std::make_shared<SilentSink>());
        auto dependencies = loopbackDependencies(context.get_executor());
        dependencies.blockingWork = pool_.get();
        broadcaster = ScreenStreamBroadcaster::create(std::move(dependencies));
        run(broadcaster->startListening());
    }

    ~LoopbackHost() {
        run(broadcaster->stop());
        runFor(50ms);
        broadcaster.reset();
        runFor(20ms);
        pool_.reset();
        installLogSink(previousSink_);
    }

    std::optional<std::uint16_t> advertisedPort() const {
        for (auto* advertiser : discovery.advertisers()) {
            if (advertiser->isPublished()) {
                return advertiser->advertisement()->port;
            }
        }
        return std::nullopt;
    }

    std::shared_ptr<ScreenStreamBroadcaster> broadcaster;

private:
    std::unique_ptr<BlockingWorkPool> pool_ = std::make_unique<BlockingWorkPool>();
    std::shared_ptr<LogSink> previousSink_;
};

void BM_AdmissionLoopbackReconnect(benchmark::State& state) {
    LoopbackHost host;
    QuicTestClient client;
    const Uuid hostID = host.broadcaster->localPeerIdentity().id;
    const Uuid headsetID = Uuid::random();
    const auto key = P256SigningKey::generate();
    PairedPeerStore(host.defaults, host.secrets, PairingRole::mac)
        .upsert(PairedPeerRecord{headsetID, "Bench", key.publicKey().rawRepresentation(), std::nullopt,
                                 std::nullopt});

    std::shared_ptr<QuicStream> control;
    auto send = [&](const StreamControlMessage& message) {
        host.run(control->send(ControlMessageFraming::encode(message), false));
    };
    auto receive = [&]() -> std::optional<StreamControlMessage> {
        const Bytes data = host.run(ControlMessageFraming::readMessageData(*control));
        auto decoded = decodeJson<StreamControlMessage>(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        return decoded ? std::optional(*decoded) : std::nullopt;
    };

    for (auto _ : state) {
        state.PauseTiming();
        std::optional<std::uint16_t> port;
        if (!host.runUntil([&] { return (port = host.advertisedPort()).has_value(); })) {
            state.SkipWithError("not listening");
            break;
        }
        auto connection = host.run(client.connect(*port));
        control = host.run(connection->openStream(QuicStreamDirectionality::bidirectional));
        state.ResumeTiming();

        send(StreamControlMessage::make<Case::hello>(SessionHelloMessage{headsetID, "Bench", false, 19, 19}));
        receive();
        auto challenge = receive();
        if (!challenge || challenge->messageCase() != Case::authenticate) {
            state.SkipWithError("no challenge");
            break;
        }
        const Bytes nonce = challenge->get<Case::authenticate>()->serverNonce;
        const auto response = reconnectResponse(key, headsetID, hostID, nonce);
        send(StreamControlMessage::make<Case::authenticationResponse>(response));
        auto result = receive();

        state.PauseTiming();
        if (!result || result->messageCase() != Case::authenticationResult ||
            !result->get<Case::authenticationResult>()->accepted) {
            state.SkipWithError("reconnect refused");
            break;
        }
        // The rotation and the display geometry, then a clean disconnect.
        receive();
        receive();
        send(StreamControlMessage::make<Case::sessionDisconnectRequest>());
        receive();
        control.reset();
        connection.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AdmissionLoopbackReconnect)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quillbridge
