#pragma once

#include <optional>
#include <string>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `authenticationResponse`. The headset's answer to `authenticate`: its signature over the
// client authentication payload, the nonce the host is to sign, and optionally a signature binding its
// current TLS certificate.
struct AuthenticationResponseMessage {
    Uuid peerID;
    std::string displayName;
    Bytes clientSignature;
    Bytes clientNonce;
    std::optional<Bytes> certificateSignature;
};

template <>
struct JsonFields<AuthenticationResponseMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("peerID", &AuthenticationResponseMessage::peerID),
            jsonField("displayName", &AuthenticationResponseMessage::displayName),
            jsonField("clientSignature", &AuthenticationResponseMessage::clientSignature),
            jsonField("clientNonce", &AuthenticationResponseMessage::clientNonce),
            jsonField("certificateSignature", &AuthenticationResponseMessage::certificateSignature)};
    }
};

}  // namespace quillbridge
