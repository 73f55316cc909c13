#pragma once

#include <cstdint>
#include <string>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingChallenge`. The host's answer to an accepted `pairingStart`: the same fields from
// the host's side, plus 32 fresh random bytes. Start and challenge together feed the pairing transcript.
struct PairingChallengeMessage {
    Uuid attemptID;
    std::uint16_t controlProtocolVersion = 0;
    Uuid peerID;
    std::string displayName;
    Bytes signingPublicKey;
    Bytes nonce;
};

template <>
struct JsonFields<PairingChallengeMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("attemptID", &PairingChallengeMessage::attemptID),
            jsonField("controlProtocolVersion", &PairingChallengeMessage::controlProtocolVersion),
            jsonField("peerID", &PairingChallengeMessage::peerID),
            jsonField("displayName", &PairingChallengeMessage::displayName),
            jsonField("signingPublicKey", &PairingChallengeMessage::signingPublicKey),
            jsonField("nonce", &PairingChallengeMessage::nonce)};
    }
};

}  // namespace quillbridge
