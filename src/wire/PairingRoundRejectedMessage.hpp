#pragma once

#include <tuple>

#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `pairingRoundRejected`. The headset declares the round failed (the host's confirmation did
// not match); the host counts it.
struct PairingRoundRejectedMessage {
    Uuid attemptID;
    Uuid roundID;
};

template <>
struct JsonFields<PairingRoundRejectedMessage> {
    static auto fields() {
        return std::tuple{jsonField("attemptID", &PairingRoundRejectedMessage::attemptID),
                          jsonField("roundID", &PairingRoundRejectedMessage::roundID)};
    }
};

}  // namespace quillbridge
