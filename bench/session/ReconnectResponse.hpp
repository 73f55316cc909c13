#pragma once

#include "pairing/P256SigningKey.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "wire/AuthenticationResponseMessage.hpp"

namespace quillbridge {

// A paired headset's answer to the host's challenge when it reconnects: the host's nonce signed with the
// headset's key.
inline AuthenticationResponseMessage reconnectResponse(const P256SigningKey& key, const Uuid& headsetID,
                                                       const Uuid& hostID, const Bytes& nonce) {
    return AuthenticationResponseMessage{headsetID, "Bench",
                                         *key.signature(SessionAuthentication::signedPayload(
                                             SessionAuthentication::Side::client, headsetID, hostID, nonce)),
                                         Bytes(32, 7), std::nullopt};
}

}  // namespace quillbridge
