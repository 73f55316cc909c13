#include "pairing/P256Nettle.hpp"

#include <cstring>

#include "core/SecureRandom.hpp"

namespace quillbridge::p256 {

Integer::~Integer() {
    if (value_->_mp_d != nullptr) {
        ::explicit_bzero(value_->_mp_d, static_cast<std::size_t>(value_->_mp_alloc) * sizeof(mp_limb_t));
    }
    mpz_clear(value_);
}

bool Integer::write(std::span<std::uint8_t> out) const {
    if (mpz_sgn(value_) < 0 || nettle_mpz_sizeinbase_256_u(value_) > out.size())
        return false;
    nettle_mpz_get_str_256(out.size(), out.data(), value_);
    return true;
}

Scalar::~Scalar() {
    ::explicit_bzero(value_.p, static_cast<std::size_t>(ecc_size(curve())) * sizeof(mp_limb_t));
    ecc_scalar_clear(&value_);
}

bool Scalar::set(std::span<const std::uint8_t> bigEndian) {
    Integer number(bigEndian);
    return ecc_scalar_set(&value_, number.get()) == 1;
}

bool Point::set(std::span<const std::uint8_t> x, std::span<const std::uint8_t> y) {
    Integer xNumber(x);
    Integer yNumber(y);
    return ecc_point_set(&value_, xNumber.get(), yNumber.get()) == 1;
}

void Point::write(std::span<std::uint8_t, 2 * coordinateByteCount> out) const {
    Integer x;
    Integer y;
    ecc_point_get(&value_, x.get(), y.get());
    x.write(out.subspan(0, coordinateByteCount));
    y.write(out.subspan(coordinateByteCount, coordinateByteCount));
}

void secureRandom(void*, std::size_t length, std::uint8_t* destination) {
    fillSecureRandom(std::span<std::uint8_t>(destination, length));
}

}  // namespace quillbridge::p256
