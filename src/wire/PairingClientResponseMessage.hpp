#pragma once

#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingClientResponse`. The headset's key confirmation of the round.
struct PairingClientResponseMessage {
    Uuid attemptID;
    Uuid roundID;
    Bytes confirmation;
};

template <>
struct JsonFields<PairingClientResponseMessage> {
    static auto fields() {
        return std::tuple{jsonField("attemptID", &PairingClientResponseMessage::attemptID),
                          jsonField("roundID", &PairingClientResponseMessage::roundID),
                          jsonField("confirmation", &PairingClientResponseMessage::confirmation)};
    }
};

}  // namespace quillbridge
