#pragma once

#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingClientConfirmation`. The headset's key confirmation again, with its signature (DER)
// over its confirmation payload.
struct PairingClientConfirmationMessage {
    Uuid attemptID;
    Uuid roundID;
    Bytes confirmation;
    Bytes signature;
};

template <>
struct JsonFields<PairingClientConfirmationMessage> {
    static auto fields() {
        return std::tuple{jsonField("attemptID", &PairingClientConfirmationMessage::attemptID),
                          jsonField("roundID", &PairingClientConfirmationMessage::roundID),
                          jsonField("confirmation", &PairingClientConfirmationMessage::confirmation),
                          jsonField("signature", &PairingClientConfirmationMessage::signature)};
    }
};

}  // namespace quillbridge
