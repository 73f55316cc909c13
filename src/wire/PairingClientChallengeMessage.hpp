#pragma once

#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingClientChallenge`. Opens a SPAKE2 round: the round's identifier, the salt of the
// code's password hash and the headset's share. Lengths are checked by the pairing exchange, not here.
struct PairingClientChallengeMessage {
    Uuid attemptID;
    Uuid roundID;
    Bytes salt;
    Bytes publicValue;
};

template <>
struct JsonFields<PairingClientChallengeMessage> {
    static auto fields() {
        return std::tuple{jsonField("attemptID", &PairingClientChallengeMessage::attemptID),
                          jsonField("roundID", &PairingClientChallengeMessage::roundID),
                          jsonField("salt", &PairingClientChallengeMessage::salt),
                          jsonField("publicValue", &PairingClientChallengeMessage::publicValue)};
    }
};

}  // namespace quillbridge
