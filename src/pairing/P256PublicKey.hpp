#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/Bytes.hpp"

namespace quillbridge {

// A P-256 (secp256r1) ECDSA public key. Only points that lie on the curve can be made.
class P256PublicKey {
public:
    // 64 bytes: X then Y, 32 bytes each, big-endian, no format byte (the form paired peers send).
    static std::optional<P256PublicKey> fromRawRepresentation(ByteView raw);
    // 65 bytes: 0x04, X, Y (ANSI X9.63 uncompressed).
    static std::optional<P256PublicKey> fromX963Representation(ByteView x963);

    Bytes rawRepresentation() const { return Bytes(coordinates_.begin(), coordinates_.end()); }
    Bytes x963Representation() const;

    // Checks a DER-encoded ECDSA signature (SEQUENCE { INTEGER r, INTEGER s }, strictly minimal) over the
    // SHA-256 digest of `message`. Any malformed signature is simply not valid.
    bool isValidSignature(ByteView derSignature, ByteView message) const;

    bool operator==(const P256PublicKey&) const = default;

private:
    explicit P256PublicKey(const std::array<std::uint8_t, 64>& coordinates) : coordinates_(coordinates) {}
    friend class P256SigningKey;

    std::array<std::uint8_t, 64> coordinates_{};
};

}  // namespace quillbridge
