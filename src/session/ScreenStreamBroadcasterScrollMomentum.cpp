#include "session/ScreenStreamBroadcaster.hpp"

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

double ScreenStreamBroadcaster::systemUptimeSeconds() const {
    return std::chrono::duration<double>(dependencies_.clock->now().time_since_epoch()).count();
}

void ScreenStreamBroadcaster::stopScrollMomentum() {
    if (!scrollMomentumRunning_) {
        return;
    }
    ++scrollMomentumGeneration_;
    scrollMomentumTask_.cancel();
    scrollMomentumTask_ = Task();
    scrollMomentumRunning_ = false;
    postScroll(0, 0, MouseScrollPhase::none, MouseScrollMomentumPhase::end);
}

void ScreenStreamBroadcaster::handleMouseScroll(const MouseScrollMessage& message) {
    const bool carriesNoMomentum = message.momentumPhase == MouseScrollMomentumPhase::none;
    if (carriesNoMomentum) {
        stopScrollMomentum();
    }
    postScroll(message.deltaX, message.deltaY, message.phase, message.momentumPhase);
    if (carriesNoMomentum && message.phase == MouseScrollPhase::ended && message.momentumVelocityX &&
        message.momentumVelocityY &&
        (std::abs(*message.momentumVelocityX) >= minimumVelocity ||
         std::abs(*message.momentumVelocityY) >= minimumVelocity)) {
        startScrollMomentum(*message.momentumVelocityX, *message.momentumVelocityY);
    }
}

void ScreenStreamBroadcaster::startScrollMomentum(double velocityX, double velocityY) {
    if (scrollMomentumRunning_) {
        // The new momentum follows at once: no end scroll in between.
        ++scrollMomentumGeneration_;
        scrollMomentumTask_.cancel();
        scrollMomentumTask_ = Task();
    }
    const std::int64_t generation = ++scrollMomentumGeneration_;
    scrollMomentumRunning_ = true;
    std::weak_ptr<ScreenStreamBroadcaster> weakSelf = shared_from_this();
    scrollMomentumTask_ = Task::spawn(
        actor_.executor(),
        [weakSelf, generation, velocityX, velocityY]() -> asio::awaitable<void> {
            if (auto self = weakSelf.lock()) {
                co_await self->runScrollMomentum(generation, velocityX, velocityY);
            }
        },
        "scroll momentum");
}

asio::awaitable<void> ScreenStreamBroadcaster::runScrollMomentum(std::int64_t generation, double velocityX,
                                                                 double velocityY) {
    double previousTime = systemUptimeSeconds() - tickSeconds;
    bool isFirstTick = true;
    for (;;) {
        if (isCancelled(co_await asio::this_coro::cancellation_state) ||
            scrollMomentumGeneration_ != generation) {
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
            co_await dependencies_.clock->sleepFor(tickInterval);
        } catch (...) {
            break;
        }
    }
    if (scrollMomentumGeneration_ == generation) {
        scrollMomentumRunning_ = false;
        scrollMomentumTask_ = Task();
        postScroll(0, 0, MouseScrollPhase::none, MouseScrollMomentumPhase::end);
    }
}

}  // namespace quillbridge
