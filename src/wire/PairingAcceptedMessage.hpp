#pragma once

#include <string>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingAccepted`. The host's acceptance: its identity, signing public key (64 bytes, raw)
// and signature (DER) over the acceptance payload.
struct PairingAcceptedMessage {
    Uuid attemptID;
    Uuid peerID;
    std::string displayName;
    Bytes signingPublicKey;
    Bytes serverSignature;
};

template <>
struct JsonFields<PairingAcceptedMessage> {
    static auto fields() {
        return std::tuple{jsonField("attemptID", &PairingAcceptedMessage::attemptID),
                          jsonField("peerID", &PairingAcceptedMessage::peerID),
                          jsonField("displayName", &PairingAcceptedMessage::displayName),
                          jsonField("signingPublicKey", &PairingAcceptedMessage::signingPublicKey),
                          jsonField("serverSignature", &PairingAcceptedMessage::serverSignature)};
    }
};

}  // namespace quillbridge
