#include "support/pairing/PairingClientStateMachine.hpp"

namespace quillbridge {

bool PairingClientStateMachine::receiveChallenge(const Uuid& attemptID) {
    if (attemptID != attemptID_ || state_ != State::awaitingChallenge())
        return false;
    state_ = State::readyForRound();
    return true;
}

bool PairingClientStateMachine::openRound(const Uuid& roundID) {
    if (state_ != State::readyForRound())
        return false;
    state_ = State::awaitingServerChallenge(roundID);
    return true;
}

bool PairingClientStateMachine::receiveServerChallenge(const Uuid& attemptID, const Uuid& roundID) {
    if (attemptID != attemptID_ || state_ != State::awaitingServerChallenge(roundID))
        return false;
    state_ = State::awaitingServerConfirmation(roundID);
    return true;
}

bool PairingClientStateMachine::confirm(const Uuid& attemptID, const Uuid& roundID) {
    if (attemptID != attemptID_ || state_ != State::awaitingServerConfirmation(roundID))
        return false;
    state_ = State::awaitingAcceptance(roundID);
    return true;
}

bool PairingClientStateMachine::failRound(const Uuid& attemptID, const Uuid& roundID) {
    if (attemptID != attemptID_ || state_ != State::awaitingServerConfirmation(roundID))
        return false;
    ++failedRoundCount_;
    state_ = failedRoundCount_ < maximumFailedRounds_ ? State::readyForRound() : State::rejected();
    return true;
}

bool PairingClientStateMachine::accept(const Uuid& attemptID) {
    if (attemptID != attemptID_ || state_.kind() != State::Kind::awaitingAcceptance)
        return false;
    state_ = State::accepted();
    return true;
}

}  // namespace quillbridge
