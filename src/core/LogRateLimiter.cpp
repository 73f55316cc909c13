#include "core/LogRateLimiter.hpp"

#include "core/SteadyClock.hpp"

namespace quillbridge {

namespace {

// Never destroyed: limiters live in static storage of other translation units.
const Clock& steadyClock() {
    static const auto* clock = new SteadyClock;
    return *clock;
}

}  // namespace

LogRateLimiter::LogRateLimiter(Logger logger, std::string site, Limits limits, const Clock* clock)
    : logger_(std::move(logger)),
      site_(std::move(site)),
      limits_(limits),
      clock_(clock != nullptr ? clock : &steadyClock()) {}

std::optional<std::uint64_t> LogRateLimiter::admit() {
    const auto now = clock_->now();
    std::lock_guard lock(mutex_);
    if (!windowStart_ || now - *windowStart_ >= limits_.interval) {
        windowStart_ = now;
        passedInWindow_ = 0;
    }
    if (passedInWindow_ >= limits_.maximumMessages) {
        ++suppressed_;
        return std::nullopt;
    }
    ++passedInWindow_;
    return std::exchange(suppressed_, 0);
}

std::uint64_t LogRateLimiter::suppressedCount() const {
    std::lock_guard lock(mutex_);
    return suppressed_;
}

}  // namespace quillbridge
