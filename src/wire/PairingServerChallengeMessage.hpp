#pragma once

#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingServerChallenge`. The host's SPAKE2 share for the round, sent once the user has
// typed the code.
struct PairingServerChallengeMessage {
    Uuid attemptID;
    Uuid roundID;
    Bytes publicValue;
};

template <>
struct JsonFields<PairingServerChallengeMessage> {
    static auto fields() {
        return std::tuple{jsonField("attemptID", &PairingServerChallengeMessage::attemptID),
                          jsonField("roundID", &PairingServerChallengeMessage::roundID),
                          jsonField("publicValue", &PairingServerChallengeMessage::publicValue)};
    }
};

}  // namespace quillbridge
