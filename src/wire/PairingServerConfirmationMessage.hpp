#pragma once

#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingServerConfirmation`. The host's key confirmation of the round and its signature
// (DER) over the confirmation payload.
struct PairingServerConfirmationMessage {
    Uuid attemptID;
    Uuid roundID;
    Bytes confirmation;
    Bytes signature;
};

template <>
struct JsonFields<PairingServerConfirmationMessage> {
    static auto fields() {
        return std::tuple{jsonField("attemptID", &PairingServerConfirmationMessage::attemptID),
                          jsonField("roundID", &PairingServerConfirmationMessage::roundID),
                          jsonField("confirmation", &PairingServerConfirmationMessage::confirmation),
                          jsonField("signature", &PairingServerConfirmationMessage::signature)};
    }
};

}  // namespace quillbridge
