#include "pairing/PairingHostStateMachine.hpp"

namespace quillbridge {

PairingHostStateMachine::PairingHostStateMachine(const Uuid& attemptID) : attemptID_(attemptID) {}

bool PairingHostStateMachine::receiveClientChallenge(const Uuid& attemptID, const Uuid& roundID) {
    if (attemptID != attemptID_)
        return false;
    if (state_ != State::awaitingClientChallenge())
        return false;
    state_ = State::awaitingCode(roundID);
    return true;
}

bool PairingHostStateMachine::submitCode(const Uuid& roundID) {
    if (state_ != State::awaitingCode(roundID))
        return false;
    state_ = State::awaitingClientResponse(roundID);
    return true;
}

bool PairingHostStateMachine::receiveClientResponse(const Uuid& attemptID, const Uuid& roundID) {
    if (attemptID != attemptID_)
        return false;
    if (state_ != State::awaitingClientResponse(roundID))
        return false;
    state_ = State::awaitingClientConfirmation(roundID);
    return true;
}

bool PairingHostStateMachine::accept(const Uuid& attemptID, const Uuid& roundID) {
    if (attemptID != attemptID_)
        return false;
    if (state_ != State::awaitingClientConfirmation(roundID))
        return false;
    state_ = State::accepted();
    return true;
}

bool PairingHostStateMachine::failRound(const Uuid& attemptID, const Uuid& roundID) {
    if (attemptID != attemptID_)
        return false;
    if (state_ != State::awaitingClientConfirmation(roundID))
        return false;
    ++failedRoundCount_;
    state_ = failedRoundCount_ < maximumFailedRounds_ ? State::awaitingClientChallenge() : State::rejected();
    return true;
}

}  // namespace quillbridge
