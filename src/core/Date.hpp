#pragma once

#include <chrono>
#include <compare>

namespace quillbridge {

// A point in wall-clock time, kept as seconds (fractions included) since 2001-01-01 00:00:00 UTC, the
// form dates take in JSON.
struct Date {
    double secondsSinceReferenceDate = 0;

    // Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
    static constexpr double referenceDateUnixSeconds = 978307200.0;

    static Date now();
    static Date fromUnixSeconds(double seconds) { return Date{seconds - referenceDateUnixSeconds}; }
    static Date fromSystemTime(std::chrono::system_clock::time_point time);

    double unixSeconds() const { return secondsSinceReferenceDate + referenceDateUnixSeconds; }
    std::chrono::system_clock::time_point systemTime() const;
    Date addingSeconds(double seconds) const { return Date{secondsSinceReferenceDate + seconds}; }

    auto operator<=>(const Date&) const = default;
    bool operator==(const Date&) const = default;
};

}  // namespace quillbridge
