#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace quillbridge::saturating {

// Arithmetic on signed 64-bit nanosecond times that stops at the range limits instead of overflowing: the
// headset chooses the times it sends, and times near the limits must give a clamped answer, not undefined
// behaviour.

inline constexpr std::int64_t maximum = std::numeric_limits<std::int64_t>::max();
inline constexpr std::int64_t minimum = std::numeric_limits<std::int64_t>::min();

constexpr std::int64_t add(std::int64_t left, std::int64_t right) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(left, right, &sum)) {
        return right > 0 ? maximum : minimum;
    }
    return sum;
}

constexpr std::int64_t subtract(std::int64_t left, std::int64_t right) {
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(left, right, &difference)) {
        return right < 0 ? maximum : minimum;
    }
    return difference;
}

// An unsigned time as a signed one: values above the signed range become its largest value.
constexpr std::int64_t fromUnsigned(std::uint64_t value) {
    return value > static_cast<std::uint64_t>(maximum) ? maximum : static_cast<std::int64_t>(value);
}

// A floating-point value as an integer, NaN as 0 and values beyond the range as its limits.
inline std::int64_t fromDouble(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    // 2^63 is the first double above the range; every double below it converts exactly.
    constexpr double limit = 9223372036854775808.0;
    if (value >= limit) {
        return maximum;
    }
    if (value < -limit) {
        return minimum;
    }
    return static_cast<std::int64_t>(value);
}

// Rounds to the nearest integer, halves away from zero.
inline std::int64_t roundHalfAwayFromZero(double value) {
    return fromDouble(std::round(value));
}

// The smallest multiple of `quantum` (positive) at or above `value`; the largest value of the range when that
// multiple lies beyond it.
constexpr std::int64_t roundUpToMultiple(std::int64_t value, std::int64_t quantum) {
    const std::int64_t remainder = value % quantum;
    if (remainder > 0) {
        return add(value, quantum - remainder);
    }
    return value - remainder;
}

// The multiple of `quantum` (positive) nearest to zero from `value`.
constexpr std::int64_t roundTowardsZeroToMultiple(std::int64_t value, std::int64_t quantum) {
    return value - value % quantum;
}

}  // namespace quillbridge::saturating
