#include "capture/ScreenRecorder.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include <asio/async_result.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>

#include "capture/DisplayCaptureConfigurator.hpp"

namespace quillbridge {

std::shared_ptr<ScreenRecorder> ScreenRecorder::create(ScreenRecorderDependencies dependencies) {
    std::shared_ptr<ScreenRecorder> recorder(new ScreenRecorder(std::move(dependencies)));
    recorder->start();
    return recorder;
}

ScreenRecorder::ScreenRecorder(ScreenRecorderDependencies dependencies)
    : dependencies_(std::move(dependencies)), session_(dependencies_.session) {
    enablePeerToPeer_ = dependencies_.defaults->boolean(peerToPeerDefaultsKey).value_or(false);
    captureEngine_ = CaptureEngine::create(dependencies_.mainActor, dependencies_.captureStreamFactory);
}

ScreenRecorder::~ScreenRecorder() {
    if (dependencies_.powerEvents && isMonitoringHostAvailability_) {
        dependencies_.powerEvents->stop();
        dependencies_.lidState->stop();
        dependencies_.displayConfiguration->stop();
    }
    captureEngine_->setScreenFrameHandler(nullptr);
    captureEngine_->setAudioBufferHandler(nullptr);
    captureEngine_->setCaptureStoppedHandler(nullptr);
    if (dependencies_.microphoneDevice) {
        dependencies_.microphoneDevice->setDemandChangedHandler(nullptr);
    }
    if (dependencies_.cameraController) {
        dependencies_.cameraController->setDemandChangedHandler(nullptr);
        dependencies_.cameraController->setPermissionStateChangedHandler(nullptr);
    }
}

void ScreenRecorder::start() {
    std::weak_ptr<ScreenRecorder> weakSelf = weak_from_this();
    streamingFrameDispatcher_.emplace(
        dependencies_.drainExecutor,
        [weakSelf](StreamingFrameDispatcher::Frame frame) -> asio::awaitable<void> {
            if (auto self = weakSelf.lock()) {
                co_await self->drainVideoFrame(std::move(frame));
            }
        });
    streamingAudioDispatcher_.emplace(
        dependencies_.drainExecutor,
        [weakSelf](StreamingAudioDispatcher::Buffer buffer) -> asio::awaitable<void> {
            if (auto self = weakSelf.lock()) {
                co_await self->drainAudioBuffer(std::move(buffer));
            }
        });
    captureEngine_->setCaptureStoppedHandler([weakSelf](const CaptureStreamFailure& failure) {
        if (auto self = weakSelf.lock()) {
            self->handleCaptureStopped(failure);
        }
    });
    // Before any task starts: a recorder made off the main actor has its tasks running at once, and they
    // reach the microphone dispatcher that device sharing sets up.
    startDeviceSharing();

    // The effective codec goes to the session before any frame is encoded.
    spawnOnMainActor("video codec", [codec = effectiveVideoCodec()](ScreenRecorder& self) {
        return self.session_->applyVideoCodec(codec);
    });

    auto session = session_;
    sessionStateTask_ = Task::spawn(
        dependencies_.mainActor,
        [weakSelf, session]() -> asio::awaitable<void> {
            while (auto state = co_await session->updates().next()) {
                auto self = weakSelf.lock();
                if (!self) {
                    co_return;
                }
                co_await self->handleSessionState(std::move(*state));
            }
        },
        "session states");
    configurationTask_ = Task::spawn(
        dependencies_.mainActor,
        [weakSelf, session]() -> asio::awaitable<void> {
            while (auto message = co_await session->configurations().next()) {
                auto self = weakSelf.lock();
                if (!self) {
                    co_return;
                }
                co_await self->applyStreamConfiguration(std::move(*message));
            }
        },
        "stream configurations");
    pairingPromptTask_ = Task::spawn(
        dependencies_.mainActor,
        [weakSelf, session]() -> asio::awaitable<void> {
            while (auto prompt = co_await session->pairingPrompts().next()) {
                auto self = weakSelf.lock();
                if (!self) {
                    co_return;
                }
                self->handlePairingPrompt(std::move(*prompt));
            }
        },
        "pairing prompts");
    // A write of the paired-peer list can end after the session state that followed it (a headset that
    // left while its record was saved): the list is read again after every write.
    pairedPeerChangeTask_ = Task::spawn(
        dependencies_.mainActor,
        [weakSelf, session]() -> asio::awaitable<void> {
            while (co_await session->pairedPeerChanges().next()) {
                auto self = weakSelf.lock();
                if (!self) {
                    co_return;
                }
                co_await self->reloadPairedPeers();
            }
        },
        "paired-peer changes");
    pairedPeerLoadTask_ = Task::spawn(
        dependencies_.mainActor,
        [weakSelf, session]() -> asio::awaitable<void> {
            auto peers = co_await session->pairedPeers();
            if (auto self = weakSelf.lock()) {
                self->assignPairedPeers(std::move(peers));
            }
        },
        "paired peers");
}

void ScreenRecorder::notify(ScreenRecorderProperty property) {
    // An observer may add observers; iterate over what was registered when the change happened.
    const auto count = observers_.size();
    for (std::size_t index = 0; index < count; ++index) {
        observers_[index](property);
    }
}

CaptureSettings ScreenRecorder::captureSettings() const {
    return CaptureSettings{
        .captureResolution = captureResolution_,
        .captureFrameRate = captureFrameRate_,
        .isHDREnabled = isHDREnabled_,
        .usesCanonicalHDR = usesCanonicalHDR_,
    };
}

int ScreenRecorder::effectiveFrameRate() const {
    return DisplayCaptureConfigurator::effectiveFrameRate(captureFrameRate_, selectedDisplay_);
}

void ScreenRecorder::setEnablePeerToPeer(bool enabled) {
    assign(enablePeerToPeer_, enabled, ScreenRecorderProperty::enablePeerToPeer);
    if (!dependencies_.defaults->setBoolean(peerToPeerDefaultsKey, enabled)) {
        logger_.error("Could not store the peer-to-peer preference.");
    }
    spawnOnMainActor("peer-to-peer", [](ScreenRecorder& self) -> asio::awaitable<void> {
        const bool value = self.enablePeerToPeer_;
        const bool current = co_await self.session_->peerToPeerEnabled();
        if (current == value) {
            co_return;
        }
        co_await self.session_->setPeerToPeerEnabled(value);
        // A live session keeps its listener; the next listener is built with the new value.
        const bool connected = co_await self.session_->hasConnection();
        if (!connected) {
            co_await self.session_->restartListening();
        }
    });
}

bool ScreenRecorder::isListeningAllowed() const {
    return !terminatingForDrains_.load() && !mandatoryGrantMissing_.load() &&
           !isLidClosedWithoutExternalDisplay();
}

bool ScreenRecorder::isLidClosedWithoutExternalDisplay() const {
    return dependencies_.lidState->isLidClosed() &&
           !dependencies_.displayConfiguration->isExternalDisplayOnline();
}

asio::awaitable<void> ScreenRecorder::drainVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame) {
    co_await session_->startObservingKeyboardLayoutChanges();
    // Frames still in flight after a suspension (lid closed, shutdown, a grant withdrawn) must not bring the
    // listener back.
    bool connected = true;
    if (isListeningAllowed()) {
        connected = co_await session_->hasConnection();
    }
    if (!connected) {
        // Decided again on the main actor, where shutdown and the suspensions stop the session: the
        // drain runs elsewhere, and one that asked about the connection just before they stopped it would
        // otherwise bring the listener back after them, for good.
        spawnOnMainActor("listener after a frame", [](ScreenRecorder& self) -> asio::awaitable<void> {
            if (!self.isTerminating_ && self.isListeningAllowed()) {
                co_await self.session_->startListening();
            }
        });
    }
    const auto status = frame->status.value_or(CapturedFrameStatus::complete);
    switch (status) {
        case CapturedFrameStatus::complete:
            co_await session_->encodeOrDeferVideoFrame(std::move(frame));
            break;
        case CapturedFrameStatus::idle:
            co_await session_->completePendingFrames();
            break;
        default:
            break;
    }
}

asio::awaitable<void> ScreenRecorder::drainAudioBuffer(std::shared_ptr<const AudioPCMBuffer> buffer) {
    co_await session_->sendAudioBuffer(std::move(buffer));
}

asio::awaitable<void> ScreenRecorder::startHostServicesIfPermitted() {
    if (isTerminating_ || !areLocalNetworkPermissionChecksEnabled_ ||
        !hasCompletedMandatoryPermissionCheck_ ||
        permissionIssues_.contains(MandatoryPermissionIssue::screenAndAudioCapture) ||
        permissionIssues_.contains(MandatoryPermissionIssue::syntheticInput)) {
        co_return;
    }
    if (isLidClosedWithoutExternalDisplay()) {
        co_await session_->stop();
        co_return;
    }
    if (!isSetup_) {
        co_await refreshAvailableContent();
        isSetup_ = true;
    }
    spawnOnMainActor("captured display report",
                     [](ScreenRecorder& self) { return self.updateCapturedDisplayOnSession(); });
    co_await session_->startObservingKeyboardLayoutChanges();
    const bool connected = co_await session_->hasConnection();
    if (!connected) {
        co_await session_->startListening();
    }
}

asio::awaitable<void> ScreenRecorder::shutdown() {
    if (isTerminating_) {
        co_return;
    }
    isTerminating_ = true;
    terminatingForDrains_ = true;
    displayConfigurationRefreshTask_.cancel();
    displayConfigurationRefreshTask_ = Task();
    captureRestartTask_.cancel();
    personaCameraRequestUpdateTask_.cancel();
    microphoneRequestUpdateTask_.cancel();
    hasActiveClient_ = false;
    co_await stopVirtualMicrophonePassthrough();
    co_await stopCapture();
    co_await stopSystemAudioMute();
    hasPendingConnectionConfiguration_ = false;
    hasHandledConnectionMute_ = false;
    co_await session_->stop();
}

asio::awaitable<void> ScreenRecorder::runOnAudioControlQueue(std::function<void()> work) {
    // Held by a named local: temporaries with captures inside an await expression are mishandled by GCC 12.
    auto shared = std::make_shared<std::function<void()>>(std::move(work));
    SerialQueue* queue = &systemAudioControlQueue_;
    auto initiation = [queue, shared](auto handler) {
        queue->async([shared, handler = std::move(handler)]() mutable {
            (*shared)();
            auto executor = asio::get_associated_executor(handler);
            asio::post(executor, std::move(handler));
        });
    };
    co_await asio::async_initiate<const asio::use_awaitable_t<>&, void()>(initiation, asio::use_awaitable);
}

asio::awaitable<void> ScreenRecorder::applyConnectionMuteIfNeeded() {
    if (!isConnected_ || !hasPendingConnectionConfiguration_ || hasHandledConnectionMute_) {
        co_return;
    }
    // Marked before the wait, so a second call meanwhile does nothing.
    hasPendingConnectionConfiguration_ = false;
    hasHandledConnectionMute_ = true;
    const bool mutes = mutesHostAudio_;
    std::function<void()> work = [controller = dependencies_.muteController, mutes] {
        if (!mutes) {
            controller->restoreSavedMuteStates();
            return;
        }
        if (auto muted = controller->muteOutputDevices(); !muted) {
            Logger("ScreenRecorder").error("Could not mute Mac audio: ", muteErrorDescription(muted.error()));
        }
    };
    co_await runOnAudioControlQueue(std::move(work));
}

asio::awaitable<void> ScreenRecorder::stopSystemAudioMute() {
    std::function<void()> work = [controller = dependencies_.muteController] {
        controller->restoreSavedMuteStates();
    };
    co_await runOnAudioControlQueue(std::move(work));
}

}  // namespace quillbridge
