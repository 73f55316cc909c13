#pragma once

// Thin owners of the nettle and GMP objects behind the P-256 key types. Internal to the pairing library.

#include <cstdint>
#include <span>

#include <nettle/bignum.h>
#include <nettle/dsa.h>
#include <nettle/ecc-curve.h>
#include <nettle/ecc.h>

namespace quillbridge::p256 {

inline constexpr std::size_t coordinateByteCount = 32;

inline const ecc_curve* curve() {
    return nettle_get_secp_256r1();
}

// A GMP integer that is wiped before it is freed (it may hold a private scalar).
class Integer {
public:
    Integer() { mpz_init(value_); }
    explicit Integer(std::span<const std::uint8_t> bigEndian) {
        mpz_init(value_);
        nettle_mpz_set_str_256_u(value_, bigEndian.size(), bigEndian.data());
    }
    Integer(const Integer&) = delete;
    Integer& operator=(const Integer&) = delete;
    ~Integer();

    mpz_ptr get() { return value_; }
    mpz_srcptr get() const { return value_; }
    // Big-endian, left-padded with zeros to `out.size()` bytes; false when the number does not fit.
    bool write(std::span<std::uint8_t> out) const;

private:
    mpz_t value_;
};

class Scalar {
public:
    Scalar() { ecc_scalar_init(&value_, curve()); }
    Scalar(const Scalar&) = delete;
    Scalar& operator=(const Scalar&) = delete;
    ~Scalar();

    ecc_scalar* get() { return &value_; }
    const ecc_scalar* get() const { return &value_; }
    // False unless 0 < value < the group order.
    bool set(std::span<const std::uint8_t> bigEndian);

private:
    ecc_scalar value_;
};

class Point {
public:
    Point() { ecc_point_init(&value_, curve()); }
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;
    ~Point() { ecc_point_clear(&value_); }

    ecc_point* get() { return &value_; }
    const ecc_point* get() const { return &value_; }
    // False unless (x, y) lies on the curve with both coordinates below the field prime.
    bool set(std::span<const std::uint8_t> x, std::span<const std::uint8_t> y);
    // X then Y, 32 bytes each.
    void write(std::span<std::uint8_t, 2 * coordinateByteCount> out) const;

private:
    ecc_point value_;
};

class Signature {
public:
    Signature() { dsa_signature_init(&value_); }
    Signature(const Signature&) = delete;
    Signature& operator=(const Signature&) = delete;
    ~Signature() { dsa_signature_clear(&value_); }

    dsa_signature* get() { return &value_; }
    const dsa_signature* get() const { return &value_; }

private:
    dsa_signature value_;
};

// nettle's random callback, backed by the kernel's secure generator.
void secureRandom(void* context, std::size_t length, std::uint8_t* destination);

}  // namespace quillbridge::p256
