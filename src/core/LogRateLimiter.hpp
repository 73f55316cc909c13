#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "core/Clock.hpp"
#include "core/Logger.hpp"

namespace quillbridge {

// Keeps one log site that a peer can trigger (a refused packet, a failed send) from flooding the log: at
// most `maximumMessages` records pass per interval and the rest are counted without being formatted. The
// first record let through after such an interval is preceded by one summary line
// "<site>: suppressed N similar messages" at its level. Records below the logger's threshold are neither
// written nor counted. Thread-safe: one limiter may serve a site that several threads reach.
//
//   LogRateLimiter refusals{logger, "Refused handshakes"};
//   refusals.info("Refused a handshake from ", privateValue(address));
class LogRateLimiter {
public:
    struct Limits {
        std::size_t maximumMessages = 5;
        Clock::Duration interval = std::chrono::seconds(10);
    };

    // Time comes from `clock`, which must outlive the limiter; the steady clock when none is given.
    LogRateLimiter(Logger logger, std::string site, Limits limits, const Clock* clock = nullptr);
    LogRateLimiter(Logger logger, std::string site)
        : LogRateLimiter(std::move(logger), std::move(site), {}) {}
    LogRateLimiter(const LogRateLimiter&) = delete;
    LogRateLimiter& operator=(const LogRateLimiter&) = delete;

    template <class... Args>
    void debug(const Args&... args) {
        log(LogLevel::debug, args...);
    }
    template <class... Args>
    void info(const Args&... args) {
        log(LogLevel::info, args...);
    }
    template <class... Args>
    void notice(const Args&... args) {
        log(LogLevel::notice, args...);
    }
    template <class... Args>
    void error(const Args&... args) {
        log(LogLevel::error, args...);
    }

    template <class... Args>
    void log(LogLevel level, const Args&... args) {
        if (!isLogLevelEnabled(level))
            return;
        const auto suppressed = admit();
        if (!suppressed)
            return;
        if (*suppressed > 0)
            logger_.log(level, makeLogMessage(site_, ": suppressed ", *suppressed, " similar messages"));
        logger_.log(level, makeLogMessage(args...));
    }

    // Records dropped since the last one that passed.
    std::uint64_t suppressedCount() const;

private:
    // Whether a record may pass now; if so, how many were suppressed since the last one that passed.
    std::optional<std::uint64_t> admit();

    Logger logger_;
    std::string site_;
    Limits limits_;
    const Clock* clock_;

    mutable std::mutex mutex_;
    std::optional<Clock::TimePoint> windowStart_;
    std::size_t passedInWindow_ = 0;
    std::uint64_t suppressed_ = 0;
};

}  // namespace quillbridge
