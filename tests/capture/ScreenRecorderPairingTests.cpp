// The recorder's pairing prompt and paired-device list, over the fake session.

#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScreenRecorderTestFixture.hpp"
#include "capture/ScreenRecorder.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using State = ScreenRecorderSession::State;
using Prompt = ScreenRecorder::PairingPrompt;

PairedPeerRecord peer(std::string name) {
    return PairedPeerRecord{Uuid::random(), std::move(name), Bytes(64, 7), std::nullopt, std::nullopt};
}

Prompt prompt(int remainingAttempts, bool isExpired = false) {
    return Prompt{.id = Uuid{},
                  .peerID = Uuid{},
                  .peerName = "Vision",
                  .remainingAttempts = remainingAttempts,
                  .expiresAt = Date{},
                  .isExpired = isExpired,
                  .isVerifying = false};
}

std::vector<std::string> names(const std::vector<PairedPeerRecord>& peers) {
    std::vector<std::string> result;
    for (const auto& record : peers) {
        result.push_back(record.name);
    }
    return result;
}

using ScreenRecorderPairingTest = ScreenRecorderTest;

TEST_F(ScreenRecorderPairingTest, PairedPeersAreLoadedOnceAtStartAndAfterForgetting) {
    const auto first = peer("Alpha");
    session->peers = {first, peer("Beta")};
    makeRecorder();
    EXPECT_THAT(names(recorder->pairedPeers()), ElementsAre("Alpha", "Beta"));
    EXPECT_EQ(changeCount(ScreenRecorderProperty::pairedPeers), 1);
    EXPECT_EQ(session->pairedPeerReads, 1);

    run(recorder->forgetPairedPeer(first.id));
    EXPECT_THAT(session->callsAmong({"forgetPairedPeer"}), ElementsAre("forgetPairedPeer"));
    EXPECT_THAT(names(recorder->pairedPeers()), ElementsAre("Beta"));
    EXPECT_EQ(changeCount(ScreenRecorderProperty::pairedPeers), 2);

    // Forgetting an unknown headset reloads the same list without announcing a change.
    run(recorder->forgetPairedPeer(Uuid::random()));
    EXPECT_EQ(changeCount(ScreenRecorderProperty::pairedPeers), 2);
}

TEST_F(ScreenRecorderPairingTest, PairedPeersAreReadAgainAfterEveryWriteOfTheList) {
    session->peers = {peer("Alpha")};
    makeRecorder();
    const int readsAtStart = session->pairedPeerReads;

    // A record saved after the session state that followed it (the headset left meanwhile).
    session->peers.push_back(peer("Beta"));
    session->pairedPeerChanges().yield({});
    settle();
    EXPECT_THAT(names(recorder->pairedPeers()), ElementsAre("Alpha", "Beta"));
    EXPECT_EQ(changeCount(ScreenRecorderProperty::pairedPeers), 2);

    // A write that left the list as it was reads it again without announcing a change.
    session->pairedPeerChanges().yield({});
    settle();
    EXPECT_EQ(session->pairedPeerReads, readsAtStart + 2);
    EXPECT_EQ(changeCount(ScreenRecorderProperty::pairedPeers), 2);
}

TEST_F(ScreenRecorderPairingTest, PromptFollowsTheSessionAndAnnouncesOnlyChanges) {
    makeRecorder();
    EXPECT_FALSE(recorder->pairingPrompt().has_value());

    session->pairingPrompts().yield(prompt(3));
    settle();
    EXPECT_EQ(recorder->pairingPrompt(), prompt(3));
    session->pairingPrompts().yield(prompt(3));
    session->pairingPrompts().yield(prompt(2));
    settle();
    EXPECT_EQ(recorder->pairingPrompt(), prompt(2));
    session->pairingPrompts().yield(std::nullopt);
    settle();
    EXPECT_FALSE(recorder->pairingPrompt().has_value());
    EXPECT_EQ(changeCount(ScreenRecorderProperty::pairingPrompt), 3);
}

TEST_F(ScreenRecorderPairingTest, AnswersGoToTheSession) {
    makeRecorder();
    run(recorder->submitPairingCode("123456"));
    run(recorder->cancelPairing());
    EXPECT_THAT(session->callsAmong({"submitPairingCode=123456", "cancelPairing"}),
                ElementsAre("submitPairingCode=123456", "cancelPairing"));
}

TEST_F(ScreenRecorderPairingTest, SessionEndClearsThePromptUnlessItExpiredAndEveryStateRereadsThePeers) {
    struct Row {
        State state;
        std::optional<Prompt> shown;
        bool kept;
    };
    const std::vector<Row> rows{
        {State::failed("Connection lost"), prompt(2), false},
        {State::failed("Connection lost"), prompt(0, true), true},
        {State::idle(), prompt(1), false},
        {State::listening(), prompt(1, true), true},
        {State::localNetworkPermissionDenied(), prompt(1), false},
        // Not a session end: the prompt stays.
        {State::localNetworkPermissionChecking(), prompt(1), true},
    };
    makeRecorder();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state.statusText());
        recorder->handlePairingPrompt(row.shown);
        session->peers = {peer(row.state.statusText())};
        report(row.state);
        EXPECT_EQ(recorder->pairingPrompt().has_value(), row.kept);
        EXPECT_THAT(names(recorder->pairedPeers()), ElementsAre(row.state.statusText()));
    }
}

TEST_F(ScreenRecorderPairingTest, EmptyStoreAnnouncesNothing) {
    makeRecorder();
    EXPECT_THAT(recorder->pairedPeers(), IsEmpty());
    report(State::listening());
    EXPECT_EQ(changeCount(ScreenRecorderProperty::pairedPeers), 0);
}

}  // namespace
}  // namespace quillbridge
