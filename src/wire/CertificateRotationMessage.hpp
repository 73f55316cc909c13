#pragma once

#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `certificateRotation`: the sender's new self-signed TLS certificate (DER), signed in DER
// ECDSA P-256 form with the sender's long-term signing key over the certificate signature payload.
struct CertificateRotationMessage {
    Uuid peerID;
    Bytes certificateDER;
    Bytes certificateSignature;
};

template <>
struct JsonFields<CertificateRotationMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("peerID", &CertificateRotationMessage::peerID),
            jsonField("certificateDER", &CertificateRotationMessage::certificateDER),
            jsonField("certificateSignature", &CertificateRotationMessage::certificateSignature)};
    }
};

}  // namespace quillbridge
