#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/Bytes.hpp"
#include "core/SecretBytes.hpp"
#include "pairing/P256PublicKey.hpp"

namespace quillbridge {

// A P-256 ECDSA signing private key: the host's long-term signing key and the key of its TLS identity.
// The scalar is wiped when the key is destroyed.
class P256SigningKey {
public:
    // A fresh random key whose public point has the smaller of its two possible Y coordinates
    // (y <= p - y), so that the X coordinate alone identifies it (compact representation).
    static P256SigningKey generate();
    // 32 bytes: the scalar, big-endian. Nothing unless 0 < scalar < the group order.
    static std::optional<P256SigningKey> fromRawRepresentation(ByteView raw);
    // 97 bytes: 0x04, X, Y, then the scalar. Nothing unless the point is the scalar's public key.
    static std::optional<P256SigningKey> fromX963Representation(ByteView x963);

    P256SigningKey(const P256SigningKey& other) = default;
    P256SigningKey& operator=(const P256SigningKey& other) = default;
    ~P256SigningKey();

    // The scalar (32 bytes, big-endian) and the X9.63 form (0x04, X, Y, scalar): both secret, wiped when
    // dropped.
    SecretBytes rawRepresentation() const { return SecretBytes(ByteView(scalar_)); }
    SecretBytes x963Representation() const;
    const P256PublicKey& publicKey() const { return publicKey_; }

    // ECDSA over the SHA-256 digest of `message`, DER-encoded (SEQUENCE { INTEGER r, INTEGER s }, at most
    // 72 bytes). Nothing if signing fails.
    std::optional<Bytes> signature(ByteView message) const;

private:
    P256SigningKey(const std::array<std::uint8_t, 32>& scalar, const P256PublicKey& publicKey)
        : scalar_(scalar), publicKey_(publicKey) {}
    static std::optional<P256SigningKey> fromScalar(const std::array<std::uint8_t, 32>& scalar);

    std::array<std::uint8_t, 32> scalar_{};
    P256PublicKey publicKey_;
};

}  // namespace quillbridge
