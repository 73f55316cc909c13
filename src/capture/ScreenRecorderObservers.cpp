#include "capture/ScreenRecorder.hpp"

#include <chrono>

namespace quillbridge {

void ScreenRecorder::startHostAvailabilityMonitoring() {
    if (isMonitoringHostAvailability_) {
        return;
    }
    isMonitoringHostAvailability_ = true;
    std::weak_ptr<ScreenRecorder> weakSelf = weak_from_this();
    dependencies_.powerEvents->start([weakSelf](HostPowerEvent event, SleepDelayRelease sleepDelay) {
        if (auto self = weakSelf.lock()) {
            self->spawnOnMainActor("power event",
                                   [event, sleepDelay = std::make_shared<SleepDelayRelease>(
                                               std::move(sleepDelay))](ScreenRecorder& recorder) mutable {
                                       return recorder.handlePowerEvent(event, std::move(*sleepDelay));
                                   });
        }
    });
    dependencies_.lidState->start([weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->spawnOnMainActor(
                "lid change", [](ScreenRecorder& recorder) { return recorder.evaluateClamshellState(); });
        }
    });
    dependencies_.displayConfiguration->start([weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->spawnOnMainActor("display configuration change", [](ScreenRecorder& recorder) {
                return recorder.handleDisplayConfigurationChange();
            });
        }
    });
}

asio::awaitable<void> ScreenRecorder::handlePowerEvent(HostPowerEvent event, SleepDelayRelease sleepDelay) {
    switch (event) {
        case HostPowerEvent::willSleep:
        case HostPowerEvent::sessionDidResignActive:
            co_await suspendStreaming();
            break;
        case HostPowerEvent::screensDidSleep: {
            // A screen kept awake for the headset keeps streaming.
            const bool keptAwake = co_await session_->wakeDisplayForActiveConnection();
            if (!keptAwake) {
                co_await suspendStreaming();
            }
            break;
        }
        case HostPowerEvent::didWake:
        case HostPowerEvent::screensDidWake:
        case HostPowerEvent::sessionDidBecomeActive:
            if (isLidClosedWithoutExternalDisplay()) {
                co_await suspendStreaming();
            } else {
                co_await resolveLocalNetworkPermission();
            }
            break;
    }
    // The system may sleep only once streaming is suspended.
    sleepDelay.release();
}

asio::awaitable<void> ScreenRecorder::evaluateClamshellState() {
    if (isLidClosedWithoutExternalDisplay()) {
        co_await suspendStreaming();
        co_return;
    }
    co_await resolveLocalNetworkPermission();
}

asio::awaitable<void> ScreenRecorder::suspendStreaming() {
    bool stoppedSession = false;
    if (isLidClosedWithoutExternalDisplay()) {
        co_await session_->stop();
        stoppedSession = true;
    }
    co_await stopCapture();
    co_await stopSystemAudioMute();
    hasPendingConnectionConfiguration_ = false;
    hasHandledConnectionMute_ = false;
    bool connected = false;
    if (!stoppedSession) {
        connected = co_await session_->hasConnection();
    }
    if (connected) {
        co_await session_->endSessionKeepingListener();
    }
    hasActiveClient_ = false;
    assign(isConnected_, false, ScreenRecorderProperty::isConnected);
}

asio::awaitable<void> ScreenRecorder::handleDisplayConfigurationChange() {
    co_await evaluateClamshellState();
    displayConfigurationRefreshTask_.cancel();
    // One refresh for a burst of changes, a quarter second after the last of them.
    displayConfigurationRefreshTask_ = Task::spawn(
        dependencies_.mainActor,
        [weakSelf = weak_from_this(), clock = dependencies_.clock]() -> asio::awaitable<void> {
            co_await clock->sleepFor(std::chrono::milliseconds(250));
            auto self = weakSelf.lock();
            if (!self) {
                co_return;
            }
            co_await self->refreshAvailableContent();
        },
        "display refresh");
}

}  // namespace quillbridge
