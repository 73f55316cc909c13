#pragma once

#include "core/Uuid.hpp"

namespace quillbridge {

// The headset's counterpart of PairingHostStateMachine: the order of one pairing attempt as the headset
// runs it. Each transition returns whether it was allowed and made; a refused one changes nothing.
class PairingClientStateMachine {
public:
    class State {
    public:
        enum class Kind {
            awaitingChallenge,           // start sent
            readyForRound,               // challenge taken; a round may open
            awaitingServerChallenge,     // client challenge sent
            awaitingServerConfirmation,  // client response sent
            awaitingAcceptance,          // client confirmation sent
            accepted,
            rejected,
        };
        static State awaitingChallenge() { return State(Kind::awaitingChallenge, {}); }
        static State readyForRound() { return State(Kind::readyForRound, {}); }
        static State awaitingServerChallenge(const Uuid& roundID) {
            return State(Kind::awaitingServerChallenge, roundID);
        }
        static State awaitingServerConfirmation(const Uuid& roundID) {
            return State(Kind::awaitingServerConfirmation, roundID);
        }
        static State awaitingAcceptance(const Uuid& roundID) {
            return State(Kind::awaitingAcceptance, roundID);
        }
        static State accepted() { return State(Kind::accepted, {}); }
        static State rejected() { return State(Kind::rejected, {}); }

        Kind kind() const { return kind_; }
        const Uuid& roundID() const { return roundID_; }
        bool operator==(const State&) const = default;

    private:
        State(Kind kind, const Uuid& roundID) : kind_(kind), roundID_(roundID) {}
        Kind kind_;
        Uuid roundID_;
    };

    explicit PairingClientStateMachine(const Uuid& attemptID) : attemptID_(attemptID) {}

    const Uuid& attemptID() const { return attemptID_; }
    int maximumFailedRounds() const { return maximumFailedRounds_; }
    const State& state() const { return state_; }
    int failedRoundCount() const { return failedRoundCount_; }

    bool receiveChallenge(const Uuid& attemptID);
    bool openRound(const Uuid& roundID);
    bool receiveServerChallenge(const Uuid& attemptID, const Uuid& roundID);
    bool confirm(const Uuid& attemptID, const Uuid& roundID);
    bool failRound(const Uuid& attemptID, const Uuid& roundID);
    bool accept(const Uuid& attemptID);

private:
    Uuid attemptID_;
    int maximumFailedRounds_ = 3;
    State state_ = State::awaitingChallenge();
    int failedRoundCount_ = 0;
};

}  // namespace quillbridge
