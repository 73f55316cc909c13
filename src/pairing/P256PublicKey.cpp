#include "pairing/P256PublicKey.hpp"

#include <algorithm>

#include <nettle/ecdsa.h>
#include <nettle/sha2.h>

#include "pairing/P256Nettle.hpp"

namespace quillbridge {

namespace {

// Reads one DER INTEGER at `cursor` that is positive, minimally encoded and at most 33 bytes long (the
// magnitude of a P-256 signature component). Gives its magnitude without the sign byte.
std::optional<ByteView> readPositiveInteger(ByteView input, std::size_t& cursor) {
    if (input.size() - cursor < 2 || input[cursor] != 0x02)
        return std::nullopt;
    std::size_t length = input[cursor + 1];
    // Short-form lengths only: an integer of up to 33 bytes never needs the long form.
    if (length == 0 || length > 33 || input.size() - cursor - 2 < length)
        return std::nullopt;
    ByteView content = input.subspan(cursor + 2, length);
    if ((content[0] & 0x80) != 0)
        return std::nullopt;                                                // negative
    if (content[0] == 0x00 && (length == 1 || (content[1] & 0x80) == 0)) {  // zero or not minimal
        return std::nullopt;
    }
    cursor += 2 + length;
    if (content[0] == 0x00)
        content = content.subspan(1);
    if (content.size() > p256::coordinateByteCount)
        return std::nullopt;
    return content;
}

}  // namespace

std::optional<P256PublicKey> P256PublicKey::fromRawRepresentation(ByteView raw) {
    if (raw.size() != 64)
        return std::nullopt;
    p256::Point point;
    if (!point.set(raw.subspan(0, 32), raw.subspan(32, 32)))
        return std::nullopt;
    std::array<std::uint8_t, 64> coordinates{};
    std::copy(raw.begin(), raw.end(), coordinates.begin());
    return P256PublicKey(coordinates);
}

std::optional<P256PublicKey> P256PublicKey::fromX963Representation(ByteView x963) {
    if (x963.size() != 65 || x963[0] != 0x04)
        return std::nullopt;
    return fromRawRepresentation(x963.subspan(1));
}

Bytes P256PublicKey::x963Representation() const {
    Bytes encoded{0x04};
    encoded.insert(encoded.end(), coordinates_.begin(), coordinates_.end());
    return encoded;
}

bool P256PublicKey::isValidSignature(ByteView derSignature, ByteView message) const {
    // SEQUENCE with a short-form length (two integers of at most 33 bytes fit in 70 bytes).
    if (derSignature.size() < 2 || derSignature[0] != 0x30 || derSignature[1] >= 0x80 ||
        derSignature[1] != derSignature.size() - 2) {
        return false;
    }
    std::size_t cursor = 2;
    auto r = readPositiveInteger(derSignature, cursor);
    if (!r)
        return false;
    auto s = readPositiveInteger(derSignature, cursor);
    if (!s || cursor != derSignature.size())
        return false;

    p256::Point point;
    if (!point.set(ByteView(coordinates_).subspan(0, 32), ByteView(coordinates_).subspan(32, 32)))
        return false;
    p256::Signature signature;
    nettle_mpz_set_str_256_u(signature.get()->r, r->size(), r->data());
    nettle_mpz_set_str_256_u(signature.get()->s, s->size(), s->data());

    sha256_ctx hash;
    sha256_init(&hash);
    sha256_update(&hash, message.size(), message.data());
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&hash, sizeof digest, digest);
    // nettle refuses r or s outside 1 ... n - 1.
    return ecdsa_verify(point.get(), sizeof digest, digest, signature.get()) == 1;
}

}  // namespace quillbridge
