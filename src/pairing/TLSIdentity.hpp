#pragma once

#include "core/Bytes.hpp"

namespace quillbridge {

// The host's TLS identity as the transport needs it: the self-signed certificate and its P-256 private key
// in ANSI X9.63 form (0x04, X, Y, then the scalar: 97 bytes). The platform layer turns it into the TLS
// library's credentials.
struct TLSIdentity {
    Bytes certificateDER;
    Bytes privateKeyX963;

    bool operator==(const TLSIdentity&) const = default;
};

}  // namespace quillbridge
