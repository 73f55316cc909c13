#pragma once

#include <optional>
#include <string>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"
#include "wire/PairingFailureReason.hpp"

namespace quillbridge {

// Control message `authenticationResult`. The host's end of an authentication. Accepted: `accepted` true with
// `serverSignature`, `peerID` and `displayName` (and `certificateSignature` when the host signs its
// certificate). Refused: `accepted` false and `reason`, nothing else.
struct AuthenticationResultMessage {
    bool accepted = false;
    std::optional<Bytes> serverSignature;
    std::optional<Bytes> certificateSignature;
    std::optional<PairingFailureReason> reason;
    std::optional<Uuid> peerID;
    std::optional<std::string> displayName;
};

template <>
struct JsonFields<AuthenticationResultMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("accepted", &AuthenticationResultMessage::accepted),
            jsonField("serverSignature", &AuthenticationResultMessage::serverSignature),
            jsonField("certificateSignature", &AuthenticationResultMessage::certificateSignature),
            jsonField("reason", &AuthenticationResultMessage::reason),
            jsonField("peerID", &AuthenticationResultMessage::peerID),
            jsonField("displayName", &AuthenticationResultMessage::displayName)};
    }
};

}  // namespace quillbridge
