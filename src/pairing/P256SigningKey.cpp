#include "pairing/P256SigningKey.hpp"

#include <algorithm>
#include <cstring>

#include <nettle/ecdsa.h>
#include <nettle/sha2.h>

#include "core/SecureRandom.hpp"
#include "pairing/DERWriter.hpp"
#include "pairing/P256Nettle.hpp"

namespace quillbridge {

namespace {

// The field prime p and the group order n of P-256.
constexpr std::array<std::uint8_t, 32> fieldPrime = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::array<std::uint8_t, 32> groupOrder = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

}  // namespace

P256SigningKey::~P256SigningKey() {
    ::explicit_bzero(scalar_.data(), scalar_.size());
}

std::optional<P256SigningKey> P256SigningKey::fromScalar(const std::array<std::uint8_t, 32>& scalar) {
    p256::Scalar secret;
    if (!secret.set(scalar))
        return std::nullopt;
    p256::Point point;
    ecc_point_mul_g(point.get(), secret.get());
    std::array<std::uint8_t, 64> coordinates{};
    point.write(coordinates);
    return P256SigningKey(scalar, P256PublicKey(coordinates));
}

P256SigningKey P256SigningKey::generate() {
    while (true) {
        std::array<std::uint8_t, 32> scalar{};
        fillSecureRandom(scalar);
        auto key = fromScalar(scalar);
        ::explicit_bzero(scalar.data(), scalar.size());
        // Out of range (zero or at least the group order): about one draw in 2^32 is refused.
        if (!key)
            continue;

        // Of the points (x, y) and (x, p - y), keep the one with the smaller Y. The other belongs to the
        // negated scalar n - d.
        p256::Integer y(ByteView(key->publicKey_.coordinates_).subspan(32, 32));
        p256::Integer prime(fieldPrime);
        p256::Integer otherY;
        mpz_sub(otherY.get(), prime.get(), y.get());
        if (mpz_cmp(y.get(), otherY.get()) <= 0)
            return *key;

        p256::Integer order(groupOrder);
        p256::Integer secret(key->scalar_);
        p256::Integer negated;
        mpz_sub(negated.get(), order.get(), secret.get());
        std::array<std::uint8_t, 32> negatedScalar{};
        negated.write(negatedScalar);
        auto compact = fromScalar(negatedScalar);
        ::explicit_bzero(negatedScalar.data(), negatedScalar.size());
        if (compact)
            return *compact;
    }
}

std::optional<P256SigningKey> P256SigningKey::fromRawRepresentation(ByteView raw) {
    if (raw.size() != 32)
        return std::nullopt;
    std::array<std::uint8_t, 32> scalar{};
    std::copy(raw.begin(), raw.end(), scalar.begin());
    auto key = fromScalar(scalar);
    ::explicit_bzero(scalar.data(), scalar.size());
    return key;
}

std::optional<P256SigningKey> P256SigningKey::fromX963Representation(ByteView x963) {
    if (x963.size() != 97 || x963[0] != 0x04)
        return std::nullopt;
    auto key = fromRawRepresentation(x963.subspan(65, 32));
    if (!key)
        return std::nullopt;
    auto publicPart = x963.subspan(1, 64);
    if (!std::equal(publicPart.begin(), publicPart.end(), key->publicKey_.coordinates_.begin()))
        return std::nullopt;
    return key;
}

SecretBytes P256SigningKey::x963Representation() const {
    SecretBytes encoded;
    encoded.reserve(97);
    encoded.append(publicKey_.x963Representation());
    encoded.append(scalar_);
    return encoded;
}

std::optional<Bytes> P256SigningKey::signature(ByteView message) const {
    p256::Scalar secret;
    if (!secret.set(scalar_))
        return std::nullopt;

    sha256_ctx hash;
    sha256_init(&hash);
    sha256_update(&hash, message.size(), message.data());
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&hash, sizeof digest, digest);

    p256::Signature signature;
    ecdsa_sign(secret.get(), nullptr, p256::secureRandom, sizeof digest, digest, signature.get());

    std::array<std::uint8_t, 32> r{};
    std::array<std::uint8_t, 32> s{};
    if (nettle_mpz_sizeinbase_256_u(signature.get()->r) > r.size() ||
        nettle_mpz_sizeinbase_256_u(signature.get()->s) > s.size()) {
        return std::nullopt;
    }
    nettle_mpz_get_str_256(r.size(), r.data(), signature.get()->r);
    nettle_mpz_get_str_256(s.size(), s.data(), signature.get()->s);
    return DERWriter::derConstructed(DERWriter::sequence,
                                     {DERWriter::derUnsignedInteger(r), DERWriter::derUnsignedInteger(s)});
}

}  // namespace quillbridge
