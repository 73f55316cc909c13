#pragma once

#include <cstdint>
#include <string>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingStart`. Opens a pairing attempt: the headset's identity and long-term signing
// public key (64 bytes, raw). Every later pairing message of the attempt repeats `attemptID`.
struct PairingStartMessage {
    Uuid attemptID;
    std::uint16_t controlProtocolVersion = 0;
    Uuid peerID;
    std::string displayName;
    Bytes signingPublicKey;
};

template <>
struct JsonFields<PairingStartMessage> {
    static auto fields() {
        return std::tuple{jsonField("attemptID", &PairingStartMessage::attemptID),
                          jsonField("controlProtocolVersion", &PairingStartMessage::controlProtocolVersion),
                          jsonField("peerID", &PairingStartMessage::peerID),
                          jsonField("displayName", &PairingStartMessage::displayName),
                          jsonField("signingPublicKey", &PairingStartMessage::signingPublicKey)};
    }
};

}  // namespace quillbridge
