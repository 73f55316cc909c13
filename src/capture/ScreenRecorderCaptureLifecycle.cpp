#include "capture/ScreenRecorder.hpp"

#include <exception>

#include <asio/system_error.hpp>

#include "capture/CaptureStreamError.hpp"
#include "capture/DisplayCaptureConfigurator.hpp"

namespace quillbridge {

namespace {

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

asio::awaitable<void> ScreenRecorder::refreshAvailableContent() {
    if (isRefreshingAvailableContent_) {
        co_return;
    }
    isRefreshingAvailableContent_ = true;
    auto displays = dependencies_.displayProvider->availableDisplays();
    isRefreshingAvailableContent_ = false;
    if (!displays) {
        logger_.error("Failed to refresh the available displays: ", displays.error().localizedDescription());
        co_return;
    }
    assign(availableDisplays_, std::move(*displays), ScreenRecorderProperty::availableDisplays);
    auto preferred = DisplayCaptureConfigurator::preferredDisplay(
        availableDisplays_, dependencies_.defaults->string(preferredDisplayDefaultsKey), selectedDisplay_);
    const bool hadSignature = selectedDisplaySignature_.has_value();
    if (!selectDisplay(std::move(preferred))) {
        co_return;
    }
    assign(displayConfigurationRevision_, displayConfigurationRevision_ + 1,
           ScreenRecorderProperty::displayConfigurationRevision);
    if (hadSignature) {
        co_await applyDisplayChange();
    }
}

asio::awaitable<void> ScreenRecorder::setPreferredDisplayIdentifier(std::optional<CaptureDisplay> display) {
    std::optional<std::string> identifier;
    if (display) {
        identifier = DisplayCaptureConfigurator::displayIdentifier(*display);
    }
    // The write waits on the disk: off the main actor when there is a pool for it.
    auto write = [defaults = dependencies_.defaults, identifier] {
        return identifier ? defaults->setString(preferredDisplayDefaultsKey, *identifier)
                          : defaults->removeValue(preferredDisplayDefaultsKey);
    };
    bool stored = false;
    if (dependencies_.blockingWork == nullptr) {
        stored = write();
    } else {
        try {
            stored = co_await runBlocking(*dependencies_.blockingWork, std::move(write));
        } catch (const BlockingWorkRefused&) {
            stored = false;
        }
    }
    if (!stored) {
        // The choice still holds until the next start.
        logger_.error("Could not store the preferred display.");
    }
    if (selectDisplay(std::move(display))) {
        spawnOnMainActor("display change", [](ScreenRecorder& self) { return self.applyDisplayChange(); });
    }
}

bool ScreenRecorder::selectDisplay(std::optional<CaptureDisplay> display) {
    assign(selectedDisplay_, std::move(display), ScreenRecorderProperty::selectedDisplay);
    std::optional<DisplayCaptureSignature> signature;
    if (selectedDisplay_) {
        signature = DisplayCaptureSignature::of(*selectedDisplay_);
    }
    if (signature == selectedDisplaySignature_) {
        return false;
    }
    selectedDisplaySignature_ = signature;
    if (selectedDisplay_) {
        DisplayCaptureConfigurator::logHDRCorrectionEstimate(*selectedDisplay_);
    }
    return true;
}

void ScreenRecorder::installCaptureHandlers() {
    captureEngine_->setScreenFrameHandler(
        [dispatcher = *streamingFrameDispatcher_](std::shared_ptr<const CapturedVideoFrame> frame) {
            dispatcher.submitAndDrain(std::move(frame));
        });
    captureEngine_->setAudioBufferHandler(
        [dispatcher = *streamingAudioDispatcher_](std::shared_ptr<const AudioPCMBuffer> buffer) {
            dispatcher.submitAndDrain(std::move(buffer));
        });
}

void ScreenRecorder::clearCaptureHandlers() {
    streamingFrameDispatcher_->discardPending();
    streamingAudioDispatcher_->discardPending();
    captureEngine_->setScreenFrameHandler(nullptr);
    captureEngine_->setAudioBufferHandler(nullptr);
}

asio::awaitable<void> ScreenRecorder::startCaptureIfNeeded() {
    if (isTerminating_ || !hasActiveClient_ || isRunning_ || !selectedDisplay_) {
        co_return;
    }
    if (isCaptureStarting_ && startingCaptureDisplaySignature_ == selectedDisplaySignature_) {
        co_return;
    }
    const std::uint64_t token = ++captureLifecycleGeneration_;
    isCaptureStarting_ = true;
    startingCaptureDisplaySignature_ = selectedDisplaySignature_;
    auto configuration = DisplayCaptureConfigurator::streamConfiguration(selectedDisplay_, captureSettings());
    auto filter = DisplayCaptureConfigurator::contentFilter(selectedDisplay_);
    if (!filter) {
        logger_.error("Cannot start capture because no display is selected.");
        isCaptureStarting_ = false;
        startingCaptureDisplaySignature_.reset();
        co_return;
    }
    co_await updateCapturedDisplayOnSession();
    installCaptureHandlers();

    std::uint64_t streamGeneration = 0;
    std::exception_ptr error;
    try {
        streamGeneration =
            co_await captureEngine_->startCapture(std::move(configuration), std::move(*filter));
    } catch (...) {
        error = std::current_exception();
    }
    // An engine-side overtaking is reported as aborted too; only a cancellation of this coroutine ends it.
    const auto cancellation = co_await asio::this_coro::cancellation_state;
    if (error && isOperationAborted(error) && isCancelled(cancellation)) {
        std::rethrow_exception(error);
    }

    if (!error) {
        if (captureLifecycleGeneration_ == token && hasActiveClient_ && !isTerminating_) {
            assign(isRunning_, true, ScreenRecorderProperty::isRunning);
            isCaptureStarting_ = false;
            startingCaptureDisplaySignature_.reset();
        } else {
            // Superseded meanwhile: only the stream this start created is stopped again.
            co_await captureEngine_->stopCapture(streamGeneration);
        }
        co_return;
    }
    if (captureLifecycleGeneration_ != token) {
        co_return;
    }
    logger_.error("Failed to start capture: ", describe(error));
    if (!dependencies_.permissionProbe->isScreenCaptureGranted()) {
        recordPermission(MandatoryPermissionIssue::screenAndAudioCapture, false);
    }
    assign(isRunning_, false, ScreenRecorderProperty::isRunning);
    isCaptureStarting_ = false;
    startingCaptureDisplaySignature_.reset();
}

asio::awaitable<void> ScreenRecorder::stopCapture() {
    ++captureLifecycleGeneration_;
    isCaptureStarting_ = false;
    startingCaptureDisplaySignature_.reset();
    assign(isRunning_, false, ScreenRecorderProperty::isRunning);
    clearCaptureHandlers();
    co_await captureEngine_->stopCapture();
}

asio::awaitable<void> ScreenRecorder::updateCapture() {
    if (!isRunning_) {
        co_return;
    }
    auto filter = DisplayCaptureConfigurator::contentFilter(selectedDisplay_);
    if (!filter) {
        co_return;
    }
    co_await updateCapturedDisplayOnSession();
    auto configuration = DisplayCaptureConfigurator::streamConfiguration(selectedDisplay_, captureSettings());
    std::exception_ptr error;
    try {
        co_await captureEngine_->update(std::move(configuration), std::move(*filter));
    } catch (const CaptureStreamError&) {
        error = std::current_exception();
    }
    if (!error) {
        co_return;
    }
    logger_.error("Failed to update the capture stream: ", describe(error));
    if (hasActiveClient_ && isRunning_) {
        co_await stopCapture();
        co_await startCaptureIfNeeded();
    }
}

asio::awaitable<void> ScreenRecorder::applyDisplayChange() {
    co_await updateCapturedDisplayOnSession();
    if (!hasActiveClient_) {
        co_await updateCapture();
    } else if (!isRunning_) {
        co_await startCaptureIfNeeded();
    } else if (hasActiveClient_ && isRunning_) {
        co_await stopCapture();
        co_await startCaptureIfNeeded();
    }
}

asio::awaitable<void> ScreenRecorder::updateCapturedDisplayOnSession() {
    CapturedDisplayReport report;
    report.frameRate = effectiveFrameRate();
    if (selectedDisplay_) {
        report.displayID = selectedDisplay_->displayID;
        report.frame = selectedDisplay_->frame;
        report.pointSize = selectedDisplay_->pointSize;
        report.pixelSize = CaptureSize{static_cast<double>(selectedDisplay_->pixelWidth.value_or(0)),
                                       static_cast<double>(selectedDisplay_->pixelHeight.value_or(0))};
    }
    co_await session_->updateCapturedDisplay(report);
}

void ScreenRecorder::handleCaptureStopped(const CaptureStreamFailure& failure) {
    if (isTerminating_) {
        return;
    }
    ++captureLifecycleGeneration_;
    isCaptureStarting_ = false;
    startingCaptureDisplaySignature_.reset();
    assign(isRunning_, false, ScreenRecorderProperty::isRunning);
    clearCaptureHandlers();
    captureRestartTask_ = Task::spawn(
        dependencies_.mainActor,
        restartCaptureAfterStreamStop(weak_from_this(), dependencies_.clock, failure), "capture restart");
}

asio::awaitable<void> ScreenRecorder::restartCaptureAfterStreamStop(std::weak_ptr<ScreenRecorder> weakSelf,
                                                                    std::shared_ptr<Clock> clock,
                                                                    CaptureStreamFailure failure) {
    {
        auto self = weakSelf.lock();
        if (!self || !self->hasActiveClient_) {
            co_return;
        }
    }
    if (failure.domain == captureStreamErrorDomain && failure.code == captureStreamErrorCode::userStopped) {
        co_return;
    }
    co_await clock->sleepFor(std::chrono::milliseconds(250));
    const auto cancellation = co_await asio::this_coro::cancellation_state;
    if (isCancelled(cancellation)) {
        co_return;
    }
    auto self = weakSelf.lock();
    if (!self) {
        co_return;
    }
    if (self->displayConfigurationRefreshTask_.isRunning()) {
        co_await self->displayConfigurationRefreshTask_.join();
    }
    co_await self->refreshAvailableContent();
    co_await self->startCaptureIfNeeded();
}

}  // namespace quillbridge
