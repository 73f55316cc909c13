#pragma once

#include <cstdint>

namespace quillbridge {

// A media time as capture and encoders report it: `value` / `timescale` seconds, or one of the non-numeric
// times (invalid, indefinite, positive or negative infinity). Host media times are CLOCK_MONOTONIC
// nanoseconds, that is MediaTime::fromNanoseconds(ns).
struct MediaTime {
    enum class Kind : std::uint8_t { invalid, numeric, positiveInfinity, negativeInfinity, indefinite };

    std::int64_t value = 0;
    std::int32_t timescale = 0;
    Kind kind = Kind::invalid;

    static constexpr std::int32_t nanosecondsPerSecond = 1'000'000'000;

    // A numeric time; a timescale that is not positive gives an invalid one.
    static constexpr MediaTime make(std::int64_t value, std::int32_t timescale) {
        return MediaTime{value, timescale, timescale > 0 ? Kind::numeric : Kind::invalid};
    }
    static constexpr MediaTime fromNanoseconds(std::int64_t nanoseconds) {
        return make(nanoseconds, nanosecondsPerSecond);
    }
    static constexpr MediaTime invalid() { return MediaTime{}; }
    static constexpr MediaTime indefinite() { return MediaTime{0, 0, Kind::indefinite}; }
    static constexpr MediaTime positiveInfinity() { return MediaTime{0, 0, Kind::positiveInfinity}; }
    static constexpr MediaTime negativeInfinity() { return MediaTime{0, 0, Kind::negativeInfinity}; }

    constexpr bool isNumeric() const { return kind == Kind::numeric && timescale > 0; }

    // The unsigned nanosecond count the stream headers carry: the time in nanoseconds truncated toward
    // zero, 0 for a time that is not numeric or is negative, and the largest count for a time beyond it
    // (about 584 years). Computed exactly, so a nanosecond clock reading comes back unchanged.
    std::uint64_t nonNegativeNanoseconds() const;

    bool operator==(const MediaTime&) const = default;
};

}  // namespace quillbridge
