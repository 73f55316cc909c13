#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "pairing/PairingHostStateMachine.hpp"
#include "support/pairing/PairingClientStateMachine.hpp"

namespace quillbridge {
namespace {

using State = PairingHostStateMachine::State;

const Uuid attempt = *Uuid::parse("6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F");
const Uuid otherAttempt = *Uuid::parse("7F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F");
const Uuid roundR = *Uuid::parse("01234567-89AB-4DEF-8123-456789ABCDEF");
const Uuid roundS = *Uuid::parse("11234567-89AB-4DEF-8123-456789ABCDEF");

// Every operation, applied with a chosen attempt and round.
struct Operation {
    std::string name;
    std::function<bool(PairingHostStateMachine&)> apply;
};

std::vector<Operation> everyOperation(const Uuid& attemptID, const Uuid& roundID) {
    return {
        {"clientChallenge",
         [=](auto& machine) { return machine.receiveClientChallenge(attemptID, roundID); }},
        {"submitCode", [=](auto& machine) { return machine.submitCode(roundID); }},
        {"clientResponse", [=](auto& machine) { return machine.receiveClientResponse(attemptID, roundID); }},
        {"accept", [=](auto& machine) { return machine.accept(attemptID, roundID); }},
        {"failRound", [=](auto& machine) { return machine.failRound(attemptID, roundID); }},
    };
}

// Drives a fresh machine to a state reached in round r.
PairingHostStateMachine machineIn(State::Kind kind) {
    PairingHostStateMachine machine(attempt);
    auto steps = everyOperation(attempt, roundR);
    int count = 0;
    switch (kind) {
        case State::Kind::awaitingClientChallenge:
            count = 0;
            break;
        case State::Kind::awaitingCode:
            count = 1;
            break;
        case State::Kind::awaitingClientResponse:
            count = 2;
            break;
        case State::Kind::awaitingClientConfirmation:
            count = 3;
            break;
        case State::Kind::accepted:
            count = 4;
            break;
        case State::Kind::rejected:
            for (int failed = 0; failed < 3; ++failed) {
                for (int step = 0; step < 3; ++step)
                    EXPECT_TRUE(steps[step].apply(machine));
                EXPECT_TRUE(machine.failRound(attempt, roundR));
            }
            return machine;
    }
    for (int step = 0; step < count; ++step)
        EXPECT_TRUE(steps[step].apply(machine));
    return machine;
}

TEST(PairingHostStateMachineTest, StartsWaitingForAClientChallenge) {
    PairingHostStateMachine machine(attempt);
    EXPECT_EQ(machine.attemptID(), attempt);
    EXPECT_EQ(machine.maximumFailedRounds(), 3);
    EXPECT_EQ(machine.failedRoundCount(), 0);
    EXPECT_EQ(machine.state(), State::awaitingClientChallenge());
}

TEST(PairingHostStateMachineTest, EachStateTakesOnlyItsOwnStepsOfThisAttemptAndRound) {
    // What each state takes (with this attempt and round r) and where it goes; everything else is refused
    // and changes nothing, the count included.
    struct Case {
        State::Kind kind;
        std::map<std::string, State> taken;
    };
    const std::vector<Case> cases = {
        {State::Kind::awaitingClientChallenge, {{"clientChallenge", State::awaitingCode(roundR)}}},
        {State::Kind::awaitingCode, {{"submitCode", State::awaitingClientResponse(roundR)}}},
        {State::Kind::awaitingClientResponse,
         {{"clientResponse", State::awaitingClientConfirmation(roundR)}}},
        {State::Kind::awaitingClientConfirmation,
         {{"accept", State::accepted()}, {"failRound", State::awaitingClientChallenge()}}},
        {State::Kind::accepted, {}},
        {State::Kind::rejected, {}},
    };
    for (const auto& item : cases) {
        for (const auto& [attemptID, roundID] :
             {std::pair{attempt, roundR}, std::pair{otherAttempt, roundR}, std::pair{attempt, roundS}}) {
            for (const auto& operation : everyOperation(attemptID, roundID)) {
                auto machine = machineIn(item.kind);
                auto before = machine.state();
                int count = machine.failedRoundCount();
                auto taken = item.taken.find(operation.name);
                // A client challenge opens a round whatever its identifier; a code names no attempt.
                bool fits = (attemptID == attempt || operation.name == "submitCode") &&
                            (roundID == roundR || operation.name == "clientChallenge");
                bool expected = taken != item.taken.end() && fits;
                std::string label = operation.name + " in state " + std::to_string(int(item.kind));
                ASSERT_EQ(operation.apply(machine), expected) << label;
                if (!expected) {
                    EXPECT_EQ(machine.state(), before) << label;
                    EXPECT_EQ(machine.failedRoundCount(), count) << label;
                } else if (operation.name != "clientChallenge") {
                    EXPECT_EQ(machine.state(), taken->second) << label;
                }
            }
        }
    }
}

TEST(PairingHostStateMachineTest, ThreeFailedRoundsReject) {
    PairingHostStateMachine machine(attempt);
    for (int round = 1; round <= 3; ++round) {
        // A headset may reuse a round identifier: the machine does not remember earlier rounds.
        ASSERT_TRUE(machine.receiveClientChallenge(attempt, roundR));
        EXPECT_FALSE(machine.receiveClientChallenge(attempt, roundR));
        EXPECT_FALSE(machine.failRound(attempt, roundR));  // not yet confirming
        ASSERT_TRUE(machine.submitCode(roundR));
        EXPECT_FALSE(machine.failRound(attempt, roundR));
        ASSERT_TRUE(machine.receiveClientResponse(attempt, roundR));
        EXPECT_FALSE(machine.failRound(otherAttempt, roundR));
        ASSERT_TRUE(machine.failRound(attempt, roundR));
        EXPECT_EQ(machine.failedRoundCount(), round);
        EXPECT_EQ(machine.state(), round < 3 ? State::awaitingClientChallenge() : State::rejected());
    }
}

TEST(PairingHostStateMachineTest, StatesCompareByCaseAndRound) {
    EXPECT_EQ(State::awaitingCode(roundR), State::awaitingCode(roundR));
    EXPECT_NE(State::awaitingCode(roundR), State::awaitingCode(roundS));
    EXPECT_NE(State::awaitingCode(roundR), State::awaitingClientResponse(roundR));
    EXPECT_EQ(State::accepted(), State::accepted());
    EXPECT_NE(State::accepted(), State::rejected());
}

TEST(PairingClientStateMachineTest, FollowsTheHeadsetSideOfAnAttempt) {
    using ClientState = PairingClientStateMachine::State;
    PairingClientStateMachine machine(attempt);
    EXPECT_FALSE(machine.openRound(roundR));
    EXPECT_FALSE(machine.receiveChallenge(otherAttempt));
    ASSERT_TRUE(machine.receiveChallenge(attempt));
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(machine.openRound(roundR));
        EXPECT_FALSE(machine.receiveServerChallenge(attempt, roundS));
        ASSERT_TRUE(machine.receiveServerChallenge(attempt, roundR));
        ASSERT_TRUE(machine.failRound(attempt, roundR));
        EXPECT_EQ(machine.state(), ClientState::readyForRound());
    }
    ASSERT_TRUE(machine.openRound(roundS));
    ASSERT_TRUE(machine.receiveServerChallenge(attempt, roundS));
    ASSERT_TRUE(machine.confirm(attempt, roundS));
    EXPECT_FALSE(machine.failRound(attempt, roundS));
    ASSERT_TRUE(machine.accept(attempt));
    EXPECT_EQ(machine.state(), ClientState::accepted());
    EXPECT_EQ(machine.failedRoundCount(), 2);
}

}  // namespace
}  // namespace quillbridge
