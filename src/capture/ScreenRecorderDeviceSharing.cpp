#include "capture/ScreenRecorder.hpp"

#include <limits>
#include <utility>

#include <asio/async_result.hpp>
#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace quillbridge {

namespace {

constexpr double microphoneSampleRate = 48000;
constexpr std::uint32_t microphoneChannelCount = 1;
constexpr std::size_t bytesPerMicrophoneFrame = 4;

}  // namespace

void ScreenRecorder::startDeviceSharing() {
    std::weak_ptr<ScreenRecorder> weakSelf = weak_from_this();
    auto device = dependencies_.microphoneDevice;
    virtualMicrophoneAudioDispatcher_.emplace(virtualMicrophoneControlQueue_,
                                              [device](VirtualMicrophonePacket packet) {
                                                  if (device) {
                                                      consumeMicrophonePacket(*device, packet);
                                                  }
                                              });
    if (device) {
        // Called on the device's own threads: the reaction runs on the main actor.
        device->setDemandChangedHandler([weakSelf, mainActor = dependencies_.mainActor](bool isDemanded) {
            asio::post(mainActor, [weakSelf, isDemanded] {
                if (auto self = weakSelf.lock()) {
                    self->handleMicrophoneDemand(isDemanded);
                }
            });
        });
    }
    if (auto controller = dependencies_.cameraController) {
        controller->setDemandChangedHandler([weakSelf](bool isDemanded) {
            if (auto self = weakSelf.lock()) {
                self->handlePersonaCameraDemand(isDemanded);
            }
        });
        controller->setPermissionStateChangedHandler(
            [weakSelf](PersonaVirtualCameraController::PermissionState state) {
                if (auto self = weakSelf.lock()) {
                    self->assign(self->personaCameraExtensionPermissionState_, state,
                                 ScreenRecorderProperty::personaCameraExtensionPermissionState);
                }
            });
        // A camera component that is already running reports its current demand.
        controller->postDemandQuery();
    }

    auto session = session_;
    cameraSharingTask_ = Task::spawn(
        dependencies_.mainActor,
        [weakSelf, session]() -> asio::awaitable<void> {
            while (auto isEnabled = co_await session->personaCameraSharingStates().next()) {
                auto self = weakSelf.lock();
                if (!self) {
                    co_return;
                }
                self->handlePersonaCameraSharing(*isEnabled);
            }
        },
        "camera sharing");
    microphoneSharingTask_ = Task::spawn(
        dependencies_.mainActor,
        [weakSelf, session]() -> asio::awaitable<void> {
            while (auto isEnabled = co_await session->microphoneSharingStates().next()) {
                auto self = weakSelf.lock();
                if (!self) {
                    co_return;
                }
                co_await self->handleMicrophoneSharing(*isEnabled);
            }
        },
        "microphone sharing");
}

// Camera.

void ScreenRecorder::handlePersonaCameraSharing(bool isEnabled) {
    assign(isPersonaCameraSharingEnabled_, isEnabled, ScreenRecorderProperty::isPersonaCameraSharingEnabled);
    if (isEnabled && dependencies_.cameraController) {
        dependencies_.cameraController->activateExtension();
        // The answer comes back through the permission-state handler.
        dependencies_.cameraController->refreshExtensionProperties();
    }
}

void ScreenRecorder::handlePersonaCameraDemand(bool isDemanded) {
    if (isDemanded == isPersonaCameraDemandedByVirtualDevice_) {
        return;
    }
    isPersonaCameraDemandedByVirtualDevice_ = isDemanded;
    if (dependencies_.cameraFeeder) {
        dependencies_.cameraFeeder->setWantsToFeed(isDemanded);
    }
    updatePersonaCameraTransportRequest();
}

void ScreenRecorder::updatePersonaCameraTransportRequest() {
    const bool wanted = isConnected_ && isPersonaCameraDemandedByVirtualDevice_;
    if (wanted == isPersonaCameraTransportRequested_) {
        return;
    }
    isPersonaCameraTransportRequested_ = wanted;
    const std::uint64_t revision = ++personaCameraRequestRevision_;
    // The new request waits for the one before it, so requests reach the session one at a time and in
    // order. Moving the previous task into the new one keeps it running.
    auto previous = std::make_shared<Task>(std::move(personaCameraRequestUpdateTask_));
    personaCameraRequestUpdateTask_ = Task::spawn(
        dependencies_.mainActor,
        [previous, session = session_, wanted, revision]() -> asio::awaitable<void> {
            co_await previous->join();
            if (isCancelled(co_await asio::this_coro::cancellation_state)) {
                co_return;
            }
            co_await session->setPersonaCameraRequested(wanted, revision);
        },
        "camera request");
}

// Microphone.

asio::awaitable<void> ScreenRecorder::handleMicrophoneSharing(bool isEnabled) {
    assign(isMicrophoneSharingEnabled_, isEnabled, ScreenRecorderProperty::isMicrophoneSharingEnabled);
    if (isConnected_ && isEnabled) {
        co_await startVirtualMicrophonePassthrough();
    } else {
        assign(virtualMicrophoneErrorMessage_, std::optional<std::string>(),
               ScreenRecorderProperty::virtualMicrophoneErrorMessage);
        co_await stopVirtualMicrophonePassthrough();
    }
    updateMicrophoneTransportRequest();
}

void ScreenRecorder::handleMicrophoneDemand(bool isDemanded) {
    isMicrophoneDemandedByVirtualDevice_ = isDemanded;
    updateMicrophoneTransportRequest();
}

asio::awaitable<void> ScreenRecorder::startVirtualMicrophonePassthrough() {
    if (isVirtualMicrophonePassthroughDesired_) {
        co_return;
    }
    isVirtualMicrophonePassthroughDesired_ = true;
    const std::uint64_t revision = ++virtualMicrophoneLifecycleRevision_;
    auto self = shared_from_this();
    std::function<std::optional<VirtualMicrophoneDeviceError>()> work =
        [device = dependencies_.microphoneDevice]() -> std::optional<VirtualMicrophoneDeviceError> {
        if (!device) {
            return VirtualMicrophoneDeviceError{VirtualMicrophoneDeviceError::Kind::driverNotInstalled};
        }
        auto published = device->publish();
        if (!published) {
            return published.error();
        }
        return std::nullopt;
    };
    const auto failure = co_await runOnMicrophoneControlQueue(std::move(work));
    // A stop, or a newer start, made this result stale.
    if (!isVirtualMicrophonePassthroughDesired_ || revision != virtualMicrophoneLifecycleRevision_) {
        co_return;
    }
    if (!failure) {
        assign(virtualMicrophoneErrorMessage_, std::optional<std::string>(),
               ScreenRecorderProperty::virtualMicrophoneErrorMessage);
        co_return;
    }
    const std::string description = failure->description();
    isVirtualMicrophonePassthroughDesired_ = false;
    assign(virtualMicrophoneErrorMessage_, std::optional<std::string>(description),
           ScreenRecorderProperty::virtualMicrophoneErrorMessage);
    setMicrophoneTransportRequested(false);
    logger_.error("Could not start microphone passthrough: ", description);
}

asio::awaitable<void> ScreenRecorder::stopVirtualMicrophonePassthrough() {
    isVirtualMicrophonePassthroughDesired_ = false;
    ++virtualMicrophoneLifecycleRevision_;
    setMicrophoneTransportRequested(false);
    virtualMicrophoneAudioDispatcher_->removeAll();
    auto self = shared_from_this();
    std::function<std::optional<VirtualMicrophoneDeviceError>()> work =
        [device = dependencies_.microphoneDevice]() -> std::optional<VirtualMicrophoneDeviceError> {
        if (device) {
            device->stop();
        }
        return std::nullopt;
    };
    co_await runOnMicrophoneControlQueue(std::move(work));
}

void ScreenRecorder::updateMicrophoneTransportRequest() {
    const bool wanted = isConnected_ && isMicrophoneSharingEnabled_ && isMicrophoneDemandedByVirtualDevice_;
    if (dependencies_.timingCoordinator) {
        dependencies_.timingCoordinator->setMicrophoneDemanded(wanted);
    }
    if (!wanted) {
        virtualMicrophoneAudioDispatcher_->removeAll();
        advanceHalAudioGenerationLater();
    }
    setMicrophoneTransportRequested(wanted);
}

void ScreenRecorder::setMicrophoneTransportRequested(bool isRequested) {
    if (isRequested == isMicrophoneTransportRequested_) {
        return;
    }
    isMicrophoneTransportRequested_ = isRequested;
    const std::uint64_t revision = ++microphoneRequestRevision_;
    auto previous = std::make_shared<Task>(std::move(microphoneRequestUpdateTask_));
    microphoneRequestUpdateTask_ = Task::spawn(
        dependencies_.mainActor,
        [previous, session = session_, isRequested, revision]() -> asio::awaitable<void> {
            co_await previous->join();
            if (isCancelled(co_await asio::this_coro::cancellation_state)) {
                co_return;
            }
            co_await session->setMicrophoneRequested(isRequested, revision);
        },
        "microphone request");
}

void ScreenRecorder::advanceHalAudioGenerationLater() {
    auto device = dependencies_.microphoneDevice;
    if (!device) {
        return;
    }
    virtualMicrophoneControlQueue_.async(
        [device] { device->setHalAudioGeneration(nextHalAudioGeneration(device->halAudioGeneration())); });
}

bool ScreenRecorder::enqueueMicrophonePacket(VirtualMicrophonePacket packet) const {
    return virtualMicrophoneAudioDispatcher_->enqueue(std::move(packet));
}

std::uint64_t ScreenRecorder::nextHalAudioGeneration(std::uint64_t generation) {
    return generation == std::numeric_limits<std::uint64_t>::max() ? 1 : generation + 1;
}

void ScreenRecorder::consumeMicrophonePacket(VirtualMicrophoneDevice& device,
                                             const VirtualMicrophonePacket& packet) {
    if (packet.startsNewTimeline) {
        device.setHalAudioGeneration(nextHalAudioGeneration(device.halAudioGeneration()));
    }
    if (!device.rendererIsRunning()) {
        return;
    }
    if (packet.format.sampleRate != microphoneSampleRate ||
        packet.format.channelCount != microphoneChannelCount) {
        return;
    }
    if (packet.frameCount < 0 ||
        static_cast<std::uint64_t>(packet.frameCount) >
            std::numeric_limits<std::size_t>::max() / bytesPerMicrophoneFrame ||
        packet.payload.size() != static_cast<std::size_t>(packet.frameCount) * bytesPerMicrophoneFrame) {
        return;
    }
    device.submitAudio(packet.captureTimeNanoseconds, packet.targetHostTimeNanoseconds,
                       packet.targetBufferFrameCount, packet.frameCount, packet.payload);
}

asio::awaitable<std::optional<VirtualMicrophoneDeviceError>> ScreenRecorder::runOnMicrophoneControlQueue(
    std::function<std::optional<VirtualMicrophoneDeviceError>()> work) {
    using Result = std::optional<VirtualMicrophoneDeviceError>;
    // Held by named locals: temporaries with captures inside an await expression are mishandled by GCC 12.
    auto shared = std::make_shared<std::function<Result()>>(std::move(work));
    SerialQueue* queue = &virtualMicrophoneControlQueue_;
    auto initiation = [queue, shared](auto handler) {
        queue->async([shared, handler = std::move(handler)]() mutable {
            Result result = (*shared)();
            auto executor = asio::get_associated_executor(handler);
            asio::post(executor, [handler = std::move(handler), result = std::move(result)]() mutable {
                std::move(handler)(std::move(result));
            });
        });
    };
    co_return co_await asio::async_initiate<const asio::use_awaitable_t<>&, void(Result)>(
        initiation, asio::use_awaitable);
}

}  // namespace quillbridge
