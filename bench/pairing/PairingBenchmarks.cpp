// Costs of the pairing steps. Creating a round runs Argon2id (64 MiB, 2 passes) once per submitted code;
// finishing it is a few point multiplications and hashes.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "pairing/HostPairingExchange.hpp"
#include "pairing/PairingTranscript.hpp"
#include "pairing/SPAKE2Round.hpp"
#include "support/pairing/ClientPairingExchange.hpp"

namespace quillbridge {
namespace {

const Uuid headsetID = *Uuid::parse("11111111-2222-4333-8444-555555555555");
const Uuid hostID = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
const Bytes salt(16, 0x5A);
const Bytes additionalData(32, 0xA5);

std::unique_ptr<SPAKE2Round> createRound(SPAKE2Round::Role role) {
    return std::move(*SPAKE2Round::create(role, "482916", salt,
                                          spakeIdentity(PairingRole::visionPro, headsetID),
                                          spakeIdentity(PairingRole::mac, hostID)));
}

void BM_CreateRound(benchmark::State& state) {
    for (auto _ : state) {
        auto round = createRound(SPAKE2Round::Role::server);
        benchmark::DoNotOptimize(round->outboundPublicValue().data());
    }
    state.SetLabel("Argon2id 64 MiB, 2 passes, then x·G + w·N");
}
BENCHMARK(BM_CreateRound)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_FinishRound(benchmark::State& state) {
    const Bytes clientShare = createRound(SPAKE2Round::Role::client)->outboundPublicValue();
    // Rounds are single-use: make one per iteration, outside the timing.
    std::vector<std::unique_ptr<SPAKE2Round>> rounds;
    for (int index = 0; index < 20; ++index)
        rounds.push_back(createRound(SPAKE2Round::Role::server));
    std::size_t next = 0;
    for (auto _ : state) {
        auto result = rounds[next++ % rounds.size()]->finish(clientShare, additionalData);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_FinishRound)->Unit(benchmark::kMicrosecond)->Iterations(20);

// One whole attempt in-process: both sides' rounds (two password hashes), two host signatures and one
// verification on each side.
void BM_WholeAttempt(benchmark::State& state) {
    const LocalDeviceIdentity hostIdentity{hostID, "Studio Mac"};
    const P256SigningKey hostKey = P256SigningKey::generate();
    const P256SigningKey headsetKey = P256SigningKey::generate();
    const Bytes hostCertificate(400, 1);
    const Bytes headsetCertificate(400, 2);
    const Date now{700'000'000};
    for (auto _ : state) {
        ClientPairingExchange headset({headsetID, "Headset"}, headsetKey, headsetCertificate, hostID, now);
        auto begun = HostPairingExchange::begin(headset.start(), headset.hello(), hostIdentity, hostKey,
                                                std::nullopt, hostCertificate, headsetCertificate, now);
        auto& host = *begun->exchange;
        headset.receiveChallenge(begun->challenge, hostCertificate);
        auto clientChallenge = *headset.openRound("482916");
        host.receiveClientChallenge(clientChallenge, now);
        auto outcome = host.submitCode("482916", now);
        auto response = *headset.receiveServerChallenge(*outcome.serverChallenge);
        auto serverConfirmation = *host.receiveClientResponse(response, now);
        auto reply = *headset.receiveServerConfirmation(serverConfirmation);
        auto acceptance =
            host.receiveClientConfirmation(std::get<PairingClientConfirmationMessage>(reply), now);
        if (!acceptance || !headset.receiveAcceptance(acceptance->message))
            state.SkipWithError("pairing failed");
    }
}
BENCHMARK(BM_WholeAttempt)->Unit(benchmark::kMillisecond)->Iterations(5);

// The host's steps after the code: signing its confirmation, then verifying the headset and signing the
// acceptance, measured together on prepared rounds.
void BM_HostConfirmationSteps(benchmark::State& state) {
    const LocalDeviceIdentity hostIdentity{hostID, "Studio Mac"};
    const P256SigningKey hostKey = P256SigningKey::generate();
    const P256SigningKey headsetKey = P256SigningKey::generate();
    const Bytes certificate(400, 1);
    const Date now{700'000'000};
    struct Prepared {
        std::unique_ptr<ClientPairingExchange> headset;
        std::unique_ptr<HostPairingExchange> host;
        PairingClientResponseMessage response;
    };
    std::vector<Prepared> prepared;
    for (int index = 0; index < 10; ++index) {
        auto headset = std::make_unique<ClientPairingExchange>(LocalDeviceIdentity{headsetID, "Headset"},
                                                               headsetKey, certificate, hostID, now);
        auto begun = HostPairingExchange::begin(headset->start(), headset->hello(), hostIdentity, hostKey,
                                                std::nullopt, certificate, certificate, now);
        headset->receiveChallenge(begun->challenge, certificate);
        auto clientChallenge = *headset->openRound("482916");
        begun->exchange->receiveClientChallenge(clientChallenge, now);
        auto outcome = begun->exchange->submitCode("482916", now);
        auto response = *headset->receiveServerChallenge(*outcome.serverChallenge);
        prepared.push_back({std::move(headset), std::move(begun->exchange), response});
    }
    std::size_t next = 0;
    for (auto _ : state) {
        auto& item = prepared[next++ % prepared.size()];
        auto serverConfirmation = *item.host->receiveClientResponse(item.response, now);
        state.PauseTiming();
        auto reply = *item.headset->receiveServerConfirmation(serverConfirmation);
        state.ResumeTiming();
        auto acceptance =
            item.host->receiveClientConfirmation(std::get<PairingClientConfirmationMessage>(reply), now);
        benchmark::DoNotOptimize(acceptance);
    }
}
BENCHMARK(BM_HostConfirmationSteps)->Unit(benchmark::kMicrosecond)->Iterations(10);

}  // namespace
}  // namespace quillbridge
