#pragma once

#include <utility>

#include "core/Bytes.hpp"
#include "core/SecretBytes.hpp"

namespace quillbridge {

// The host's TLS identity as the transport needs it: the self-signed certificate and its P-256 private key
// in ANSI X9.63 form (0x04, X, Y, then the scalar: 97 bytes). The platform layer turns it into the TLS
// library's credentials. Each copy of the identity wipes its private key when it is destroyed.
struct TLSIdentity {
    Bytes certificateDER;
    SecretBytes privateKeyX963;

    TLSIdentity() = default;
    TLSIdentity(Bytes certificate, SecretBytes privateKey)
        : certificateDER(std::move(certificate)), privateKeyX963(std::move(privateKey)) {}
    TLSIdentity(const TLSIdentity& other)
        : certificateDER(other.certificateDER), privateKeyX963(other.privateKeyX963.copy()) {}
    TLSIdentity& operator=(const TLSIdentity& other) {
        if (this != &other) {
            certificateDER = other.certificateDER;
            privateKeyX963 = other.privateKeyX963.copy();
        }
        return *this;
    }
    TLSIdentity(TLSIdentity&&) noexcept = default;
    TLSIdentity& operator=(TLSIdentity&&) noexcept = default;

    bool operator==(const TLSIdentity&) const = default;
};

}  // namespace quillbridge
