#pragma once

#include <variant>

#include "core/Bytes.hpp"
#include "core/Uuid.hpp"
#include "wire/AuthenticationResultMessage.hpp"
#include "wire/PairedPeerRecord.hpp"

namespace quillbridge {

// The signed challenge-response of a headset that is already paired, and the binding of a TLS certificate
// to a signing key. Payloads are zero-separated, without length prefixes, signer's identifier first.
struct SessionAuthentication {
    enum class Side { client, server };

    // "certificate" 00 signer 00 peer 00 SHA-256(certificate DER): 118 bytes. The certificate is always
    // the signer's own.
    static Bytes certificateSignaturePayload(const Uuid& signerID, const Uuid& peerID,
                                             ByteView certificateDER);

    // "client" or "server" 00 signer 00 peer 00 nonce (the nonce as it is, any length): 113 bytes with a
    // 32-byte nonce.
    static Bytes signedPayload(Side side, const Uuid& signerID, const Uuid& peerID, ByteView nonce);

    // The outcome of checking a headset's `authenticationResponse`: the result to send and, when
    // accepted, the record to store in place of the old one.
    struct HostVerification {
        struct Accepted {
            AuthenticationResultMessage result;
            PairedPeerRecord updatedPeer;
        };
        struct Rejected {
            AuthenticationResultMessage result;
        };
        std::variant<Accepted, Rejected> outcome;
    };
};

}  // namespace quillbridge
