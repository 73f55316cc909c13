#include "session/ScrollMomentum.hpp"

#include <chrono>
#include <cmath>

#include <asio/this_coro.hpp>

namespace quillbridge {

namespace {

constexpr double tickSeconds = 1.0 / 60.0;
constexpr auto tickInterval = std::chrono::nanoseconds(16'666'666);
constexpr double decayPerSecond = 6.0;
constexpr double minimumVelocity = 1.0;

}  // namespace

ScrollMomentum::ScrollMomentum(SessionContext& session, Clock* clock, RemoteInputSink* remoteInput)
    : session_(session), clock_(clock), remoteInput_(remoteInput) {}

double ScrollMomentum::systemUptimeSeconds() const {
    return std::chrono::duration<double>(clock_->now().time_since_epoch()).count();
}

void ScrollMomentum::postScroll(double deltaX, double deltaY, MouseScrollPhase phase,
                                MouseScrollMomentumPhase momentumPhase) {
    if (remoteInput_ != nullptr) {
        remoteInput_->scroll(deltaX, deltaY, phase, momentumPhase);
    }
}

void ScrollMomentum::stop() {
    if (!isRunning_) {
        return;
    }
    ++generation_;
    task_.cancel();
    task_ = Task();
    isRunning_ = false;
    postScroll(0, 0, MouseScrollPhase::none, MouseScrollMomentumPhase::end);
}

void ScrollMomentum::handleMouseScroll(const MouseScrollMessage& message) {
    const bool carriesNoMomentum = message.momentumPhase == MouseScrollMomentumPhase::none;
    if (carriesNoMomentum) {
        stop();
    }
    postScroll(message.deltaX, message.deltaY, message.phase, message.momentumPhase);
    if (carriesNoMomentum && message.phase == MouseScrollPhase::ended && message.momentumVelocityX &&
        message.momentumVelocityY &&
        (std::abs(*message.momentumVelocityX) >= minimumVelocity ||
         std::abs(*message.momentumVelocityY) >= minimumVelocity)) {
        start(*message.momentumVelocityX, *message.momentumVelocityY);
    }
}

void ScrollMomentum::start(double velocityX, double velocityY) {
    if (isRunning_) {
        // The new momentum follows at once: no end scroll in between.
        ++generation_;
        task_.cancel();
        task_ = Task();
    }
    const std::int64_t generation = ++generation_;
    isRunning_ = true;
    task_ = Task::spawn(
        session_.executor(),
        [this, weakOwner = session_.weakKeepAlive(), generation, velocityX,
         velocityY]() -> asio::awaitable<void> {
            if (auto owner = weakOwner.lock()) {
                co_await run(generation, velocityX, velocityY);
            }
        },
        "scroll momentum");
}

asio::awaitable<void> ScrollMomentum::run(std::int64_t generation, double velocityX, double velocityY) {
    double previousTime = systemUptimeSeconds() - tickSeconds;
    bool isFirstTick = true;
    for (;;) {
        if (isCancelled(co_await asio::this_coro::cancellation_state) || generation_ != generation) {
            break;
        }
        const double now = systemUptimeSeconds();
        double elapsed = now - previousTime;
        if (elapsed <= tickSeconds) {
            elapsed = tickSeconds;
        }
        previousTime = now;
        const double decay = std::exp(-decayPerSecond * elapsed);
        velocityX *= decay;
        velocityY *= decay;
        if (std::abs(velocityX) < minimumVelocity) {
            velocityX = 0;
        }
        if (std::abs(velocityY) < minimumVelocity) {
            velocityY = 0;
        }
        if (velocityX == 0 && velocityY == 0) {
            break;
        }
        postScroll(velocityX * elapsed, velocityY * elapsed, MouseScrollPhase::none,
                   isFirstTick ? MouseScrollMomentumPhase::begin : MouseScrollMomentumPhase::continuous);
        isFirstTick = false;
        try {
            co_await clock_->sleepFor(tickInterval);
        } catch (...) {
            break;
        }
    }
    if (generation_ == generation) {
        isRunning_ = false;
        task_ = Task();
        postScroll(0, 0, MouseScrollPhase::none, MouseScrollMomentumPhase::end);
    }
}

}  // namespace quillbridge
