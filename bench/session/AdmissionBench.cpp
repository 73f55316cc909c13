// Admission through the broadcaster over the in-memory connection (the host's own cost, no network):
// a whole reconnect of a paired headset, from its hello being sent to the authenticationResult read back,
// and a pairing's last step, from the headset's pairingClientConfirmation to pairingAccepted read back.
//
//   quillbridge_session_bench --benchmark_filter=Admission --benchmark_counters_tabular=true

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include <benchmark/benchmark.h>

#include "ReconnectResponse.hpp"
#include "pairing/PairedPeerStore.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/InMemoryBroadcasterBench.hpp"
#include "support/pairing/ClientPairingExchange.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

const Bytes headsetCertificate{0x30, 0x82, 0x01};

struct Host : InMemoryListeningBroadcaster {
    // A new session: connect and open the control stream.
    void connect() {
        headset = transport.latestListener()->connect(headsetCertificate);
        drain();
        control = run(headset->openStream(QuicStreamDirectionality::bidirectional));
    }

    void disconnect() {
        send(StreamControlMessage::make<Case::sessionDisconnectRequest>());
        drain();
        control.reset();
        headset.reset();
    }

    std::optional<StreamControlMessage> receive() {
        const Bytes data = run(ControlMessageFraming::readMessageData(*control));
        auto decoded = decodeJson<StreamControlMessage>(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        return decoded ? std::optional(*decoded) : std::nullopt;
    }

    // Reads until a message of this case arrives.
    std::optional<StreamControlMessage> receiveUntil(Case wanted) {
        for (int index = 0; index < 8; ++index) {
            auto message = receive();
            if (!message || message->messageCase() == wanted) {
                return message;
            }
        }
        return std::nullopt;
    }
};

void BM_AdmissionReconnect(benchmark::State& state) {
    Host host;
    const Uuid hostID = host.broadcaster->localPeerIdentity().id;
    const Uuid headsetID = Uuid::random();
    const auto key = P256SigningKey::generate();
    PairedPeerStore(host.defaults, host.secrets, PairingRole::mac)
        .upsert(PairedPeerRecord{headsetID, "Bench", key.publicKey().rawRepresentation(), headsetCertificate,
                                 std::nullopt});
    for (auto _ : state) {
        state.PauseTiming();
        host.connect();
        state.ResumeTiming();
        host.send(
            StreamControlMessage::make<Case::hello>(SessionHelloMessage{headsetID, "Bench", false, 19, 19}));
        auto challenge = host.receiveUntil(Case::authenticate);
        if (!challenge) {
            state.SkipWithError("no challenge");
            break;
        }
        const Bytes nonce = challenge->get<Case::authenticate>()->serverNonce;
        const auto response = reconnectResponse(key, headsetID, hostID, nonce);
        host.send(StreamControlMessage::make<Case::authenticationResponse>(response));
        auto result = host.receiveUntil(Case::authenticationResult);
        state.PauseTiming();
        if (!result || !result->get<Case::authenticationResult>()->accepted) {
            state.SkipWithError("reconnect refused");
            break;
        }
        host.disconnect();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AdmissionReconnect)->Iterations(50)->Unit(benchmark::kMillisecond);

void BM_AdmissionPairingAcceptance(benchmark::State& state) {
    Host host;
    const Uuid hostID = host.broadcaster->localPeerIdentity().id;
    for (auto _ : state) {
        state.PauseTiming();
        host.connect();
        ClientPairingExchange client(LocalDeviceIdentity{Uuid::random(), "Bench"}, P256SigningKey::generate(),
                                     headsetCertificate, hostID, Date::now());
        host.send(StreamControlMessage::make<Case::hello>(client.hello()));
        host.send(StreamControlMessage::make<Case::pairingStart>(client.start()));
        auto challenge = host.receiveUntil(Case::pairingChallenge);
        const auto hostCertificate = host.transport.latestListener()->parameters().identity.certificateDER;
        if (!challenge ||
            !client.receiveChallenge(*challenge->get<Case::pairingChallenge>(), hostCertificate)) {
            state.SkipWithError("no challenge");
            break;
        }
        host.send(StreamControlMessage::make<Case::pairingClientChallenge>(*client.openRound("135790")));
        host.run(host.broadcaster->submitPairingCode("135790"));
        auto serverChallenge = host.receiveUntil(Case::pairingServerChallenge);
        auto response = client.receiveServerChallenge(*serverChallenge->get<Case::pairingServerChallenge>());
        host.send(StreamControlMessage::make<Case::pairingClientResponse>(*response));
        auto confirmation = host.receiveUntil(Case::pairingServerConfirmation);
        auto reply = client.receiveServerConfirmation(*confirmation->get<Case::pairingServerConfirmation>());
        if (!reply || !std::holds_alternative<PairingClientConfirmationMessage>(*reply)) {
            state.SkipWithError("round did not match");
            break;
        }
        const auto last = StreamControlMessage::make<Case::pairingClientConfirmation>(
            std::get<PairingClientConfirmationMessage>(*reply));
        state.ResumeTiming();
        host.send(last);
        auto accepted = host.receiveUntil(Case::pairingAccepted);
        state.PauseTiming();
        if (!accepted) {
            state.SkipWithError("not accepted");
            break;
        }
        host.disconnect();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AdmissionPairingAcceptance)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillbridge
