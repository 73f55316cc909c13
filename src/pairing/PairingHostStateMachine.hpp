#pragma once

#include "core/Uuid.hpp"

namespace quillbridge {

// The order of one pairing attempt on the host: which headset message may come next, for which attempt
// and round, and how many rounds have failed. It holds identifiers and a counter only; the round data lives
// in the exchange that owns the machine and asks it before every step. Each transition returns whether it
// was allowed and made; a refused one changes nothing. The attempt identifier is checked before the state.
// Not safe for concurrent use.
class PairingHostStateMachine {
public:
    class State {
    public:
        enum class Kind {
            awaitingClientChallenge,
            awaitingCode,                // round open, waiting for the code typed on the host
            awaitingClientResponse,      // host's share sent
            awaitingClientConfirmation,  // host's confirmation sent
            accepted,                    // final
            rejected,                    // final: too many failed rounds
        };

        static State awaitingClientChallenge() { return State(Kind::awaitingClientChallenge, {}); }
        static State awaitingCode(const Uuid& roundID) { return State(Kind::awaitingCode, roundID); }
        static State awaitingClientResponse(const Uuid& roundID) {
            return State(Kind::awaitingClientResponse, roundID);
        }
        static State awaitingClientConfirmation(const Uuid& roundID) {
            return State(Kind::awaitingClientConfirmation, roundID);
        }
        static State accepted() { return State(Kind::accepted, {}); }
        static State rejected() { return State(Kind::rejected, {}); }

        Kind kind() const { return kind_; }
        // The round of the three round states; the nil identifier otherwise.
        const Uuid& roundID() const { return roundID_; }

        // Same case and, for the round states, the same round.
        bool operator==(const State&) const = default;

    private:
        State(Kind kind, const Uuid& roundID) : kind_(kind), roundID_(roundID) {}
        Kind kind_;
        Uuid roundID_;
    };

    static constexpr int defaultMaximumFailedRounds = 3;

    explicit PairingHostStateMachine(const Uuid& attemptID);

    const Uuid& attemptID() const { return attemptID_; }
    int maximumFailedRounds() const { return maximumFailedRounds_; }
    const State& state() const { return state_; }
    int failedRoundCount() const { return failedRoundCount_; }

    // awaitingClientChallenge -> awaitingCode(roundID). Any round identifier opens a round.
    bool receiveClientChallenge(const Uuid& attemptID, const Uuid& roundID);
    // awaitingCode(roundID) -> awaitingClientResponse(roundID).
    bool submitCode(const Uuid& roundID);
    // awaitingClientResponse(roundID) -> awaitingClientConfirmation(roundID).
    bool receiveClientResponse(const Uuid& attemptID, const Uuid& roundID);
    // awaitingClientConfirmation(roundID) -> accepted.
    bool accept(const Uuid& attemptID, const Uuid& roundID);
    // awaitingClientConfirmation(roundID): one more failed round, then awaitingClientChallenge, or rejected
    // once the count reaches the maximum.
    bool failRound(const Uuid& attemptID, const Uuid& roundID);

private:
    Uuid attemptID_;
    int maximumFailedRounds_ = defaultMaximumFailedRounds;
    State state_ = State::awaitingClientChallenge();
    int failedRoundCount_ = 0;
};

}  // namespace quillbridge
