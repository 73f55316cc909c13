#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "wire/PairingFailureReason.hpp"

namespace quillbridge {

// Why a step of the headset simulator failed: the host refused (with the reason it gave, when it gave one),
// a check the headset makes failed, the host went quiet, or the connection ended.
class HeadsetSimulatorError : public std::runtime_error {
public:
    explicit HeadsetSimulatorError(const std::string& what,
                                   std::optional<PairingFailureReason> reason = std::nullopt)
        : std::runtime_error(what), reason_(reason) {}

    // The reason of the host's `pairingRejected` or refused `authenticationResult`, when that ended the step.
    const std::optional<PairingFailureReason>& reason() const { return reason_; }

private:
    std::optional<PairingFailureReason> reason_;
};

}  // namespace quillbridge
