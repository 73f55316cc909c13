#pragma once

#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"

namespace quillbridge {

// Control message `authenticate`. The host's challenge to a headset that asks to be authenticated: 32 fresh
// random bytes that the headset signs.
struct AuthenticationChallengeMessage {
    Bytes serverNonce;
};

template <>
struct JsonFields<AuthenticationChallengeMessage> {
    static auto fields() {
        return std::tuple{jsonField("serverNonce", &AuthenticationChallengeMessage::serverNonce)};
    }
};

}  // namespace quillbridge
