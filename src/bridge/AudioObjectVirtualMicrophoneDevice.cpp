#include "bridge/AudioObjectVirtualMicrophoneDevice.hpp"

#include <algorithm>
#include <limits>
#include <thread>
#include <utility>
#include <variant>

#include "virtual_devices/MicrophoneDiagnosticsKeys.hpp"
#include "virtual_devices/MicrophonePacket.hpp"

namespace quillbridge {
namespace {

using ObjectID = MicrophoneAudioObjectSystem::ObjectID;
namespace selector = microphone::selector;
namespace scope = microphone::scope;

std::uint32_t clampToUnsigned32(std::int64_t value) {
    return static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::uint32_t>::max()));
}

std::int64_t clampToSigned64(std::uint64_t value) {
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::int64_t>::max()));
}

// A diagnostics value as an unsigned 64-bit number; nothing for a value that is not a number.
std::optional<std::uint64_t> unsignedNumber(const microphone::PropertyChannelScalar* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* number = std::get_if<std::int64_t>(value)) {
        return static_cast<std::uint64_t>(*number);
    }
    if (const auto* number = std::get_if<std::uint32_t>(value)) {
        return *number;
    }
    if (const auto* number = std::get_if<double>(value)) {
        if (!(*number >= 0 && *number < 18446744073709551616.0)) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(*number);
    }
    return std::nullopt;
}

}  // namespace

AudioObjectVirtualMicrophoneDevice::AudioObjectVirtualMicrophoneDevice(
    std::shared_ptr<MicrophoneAudioObjectSystem> system,
    std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator, std::shared_ptr<Clock> clock,
    SleepFunction sleep, PlaybackObservationRecorder recordPlayback)
    : system_(std::move(system)),
      timingCoordinator_(std::move(timingCoordinator)),
      clock_(std::move(clock)),
      sleep_(sleep ? std::move(sleep) : SleepFunction([](std::chrono::nanoseconds duration) {
          std::this_thread::sleep_for(duration);
      })),
      recordPlayback_(std::move(recordPlayback)) {
    if (!recordPlayback_) {
        recordPlayback_ = [coordinator = timingCoordinator_](std::int64_t source, std::int64_t host) {
            coordinator->recordAudioPlaybackObservation(source, host);
        };
    }
}

AudioObjectVirtualMicrophoneDevice::~AudioObjectVirtualMicrophoneDevice() {
    retract();
}

std::expected<void, VirtualMicrophoneDeviceError> AudioObjectVirtualMicrophoneDevice::publish() {
    using Kind = VirtualMicrophoneDeviceError::Kind;
    retract();
    if (!findBox()) {
        return std::unexpected(VirtualMicrophoneDeviceError{Kind::driverNotInstalled});
    }
    if (!setBoxAcquired(true)) {
        return std::unexpected(
            VirtualMicrophoneDeviceError{Kind::publishDriver, microphone::status::unspecified});
    }
    for (int attempt = 0; attempt < deviceLookupAttemptCount; ++attempt) {
        if (auto device = findDevice()) {
            driverDeviceID_ = *device;
            rendererIsRunning_ = true;
            demandListenerQueue_.sync([this, device = *device] { startDemandMonitoring(device); });
            publicationHeartbeatQueue_.sync([this] { startHeartbeat(); });
            logger_.notice("Published Quillbridge Microphone through the installed HAL driver");
            return {};
        }
        sleep_(deviceLookupInterval);
    }
    setBoxAcquired(false);
    return std::unexpected(VirtualMicrophoneDeviceError{Kind::driverDeviceUnavailable});
}

void AudioObjectVirtualMicrophoneDevice::stop() {
    retract();
}

void AudioObjectVirtualMicrophoneDevice::retract() {
    rendererIsRunning_ = false;
    publicationHeartbeatQueue_.sync([this] { stopHeartbeat(); });
    demandListenerQueue_.sync([this] {
        if (monitoredDeviceID_ != 0) {
            removeDemandMonitoring();
        }
        lastHALRenderedSourceTimeNanoseconds_.reset();
    });
    driverDeviceID_ = 0;
    reportDemand(false);
    didLogHALAudioSubmissionFailure_ = false;
    setBoxAcquired(false);
}

std::optional<ObjectID> AudioObjectVirtualMicrophoneDevice::findBox() {
    auto box = system_->translateUIDToBox(microphone::boxUID);
    if (!box || *box == 0) {
        return std::nullopt;
    }
    return *box;
}

std::optional<ObjectID> AudioObjectVirtualMicrophoneDevice::findDevice() {
    auto devices = system_->deviceList();
    if (!devices) {
        return std::nullopt;
    }
    for (ObjectID device : *devices) {
        auto uid = system_->deviceUID(device);
        if (!uid) {
            return std::nullopt;
        }
        if (*uid == microphone::deviceUID) {
            return device;
        }
    }
    return std::nullopt;
}

bool AudioObjectVirtualMicrophoneDevice::setBoxAcquired(bool acquired) {
    auto box = findBox();
    if (!box) {
        return false;
    }
    auto status = system_->setBoxAcquired(*box, acquired);
    if (status != microphone::status::ok) {
        logger_.error("Could not ", acquired ? "publish" : "retract",
                      " the installed virtual microphone: status=", status);
        return false;
    }
    return true;
}

void AudioObjectVirtualMicrophoneDevice::reportDemand(bool isDemanded) {
    std::function<void(bool)> handler;
    {
        std::lock_guard lock(demandHandlerLock_);
        if (lastDemandState_ == isDemanded) {
            return;
        }
        lastDemandState_ = isDemanded;
        handler = demandChangedHandler_;
    }
    if (handler) {
        handler(isDemanded);
    }
}

void AudioObjectVirtualMicrophoneDevice::setDemandChangedHandler(std::function<void(bool)> handler) {
    std::lock_guard lock(demandHandlerLock_);
    demandChangedHandler_ = std::move(handler);
}

std::vector<std::uint8_t> AudioObjectVirtualMicrophoneDevice::makePacket(
    std::uint64_t generation, std::uint64_t captureTimeNanoseconds, std::int64_t targetHostTimeNanoseconds,
    std::int64_t targetBufferFrameCount, std::int64_t frameCount, const Bytes& samples) {
    microphone::MicrophonePacketHeader header;
    header.streamIdentifier = generation;
    header.startHostTimeNanoseconds = targetHostTimeNanoseconds;
    header.sourceTimeNanoseconds = captureTimeNanoseconds;
    header.frameCount = clampToUnsigned32(frameCount);
    header.targetBufferFrameCount = clampToUnsigned32(targetBufferFrameCount);
    return microphone::encodeMicrophonePacket(header,
                                              std::span<const std::uint8_t>(samples.data(), samples.size()));
}

void AudioObjectVirtualMicrophoneDevice::submitAudio(std::uint64_t captureTimeNanoseconds,
                                                     std::int64_t targetHostTimeNanoseconds,
                                                     std::int64_t targetBufferFrameCount,
                                                     std::int64_t frameCount, const Bytes& samples) {
    const ObjectID device = driverDeviceID_;
    if (device == 0) {
        return;
    }
    auto packet = makePacket(halAudioGeneration_, captureTimeNanoseconds, targetHostTimeNanoseconds,
                             targetBufferFrameCount, frameCount, samples);
    auto status = system_->setAudioPacket(device, packet);
    if (status != microphone::status::ok && !didLogHALAudioSubmissionFailure_.exchange(true)) {
        logger_.error("Could not submit audio to the installed HAL microphone driver: status=", status);
    }
}

void AudioObjectVirtualMicrophoneDevice::drainQueuesForTesting() {
    for (int round = 0; round < 3; ++round) {
        publicationHeartbeatQueue_.sync([] {});
        demandListenerQueue_.sync([] {});
    }
}

// Publication heartbeat.

void AudioObjectVirtualMicrophoneDevice::startHeartbeat() {
    stopHeartbeat();
    publicationHeartbeatTask_ = Task::spawn(
        publicationHeartbeatQueue_.executor(),
        [this]() -> asio::awaitable<void> {
            auto deadline = clock_->now() + heartbeatInterval;
            for (;;) {
                co_await clock_->sleepUntil(deadline);
                deadline += heartbeatInterval;
                setBoxAcquired(true);
            }
        },
        "virtual microphone heartbeat");
}

void AudioObjectVirtualMicrophoneDevice::stopHeartbeat() {
    publicationHeartbeatTask_ = Task();
}

// Demand.

std::function<void()> AudioObjectVirtualMicrophoneDevice::evaluateOnDemandQueue() {
    return [this] { demandListenerQueue_.async([this] { evaluateDemand(); }); };
}

void AudioObjectVirtualMicrophoneDevice::startDemandMonitoring(ObjectID device) {
    monitoredDeviceID_ = device;
    auto running = system_->addListener(device, selector::isRunning, scope::global, evaluateOnDemandQueue());
    if (running) {
        driverRunningListener_ = *running;
    } else {
        logger_.error("Could not observe installed virtual microphone running state: status=",
                      running.error(), "; lightweight polling will remain active");
    }
    auto processes = system_->addListener(MicrophoneAudioObjectSystem::systemObjectID,
                                          MicrophoneAudioObjectSystem::processObjectListSelector,
                                          scope::global, evaluateOnDemandQueue());
    if (processes) {
        processListListener_ = *processes;
    } else {
        logger_.error("Could not observe Core Audio process changes: status=", processes.error(),
                      "; polling will remain active");
    }
    evaluateDemand();
    demandPollTask_ = Task::spawn(
        demandListenerQueue_.executor(),
        [this]() -> asio::awaitable<void> {
            auto deadline = clock_->now() + demandPollInterval;
            for (;;) {
                co_await clock_->sleepUntil(deadline);
                deadline += demandPollInterval;
                evaluateDemand();
            }
        },
        "virtual microphone demand poll");
}

void AudioObjectVirtualMicrophoneDevice::removeDemandMonitoring() {
    pendingDemandOff_ = Task();
    hasPendingDemandOff_ = false;
    demandPollTask_ = Task();
    for (const auto& [process, listeners] : processDemandListeners_) {
        system_->removeListener(listeners.devices);
        system_->removeListener(listeners.runningInput);
    }
    processDemandListeners_.clear();
    if (processListListener_) {
        system_->removeListener(*processListListener_);
        processListListener_.reset();
    }
    if (driverRunningListener_) {
        system_->removeListener(*driverRunningListener_);
        driverRunningListener_.reset();
    }
    lastHALRenderedSourceTimeNanoseconds_.reset();
    monitoredDeviceID_ = 0;
}

void AudioObjectVirtualMicrophoneDevice::evaluateDemand() {
    if (monitoredDeviceID_ == 0) {
        return;
    }
    readDiagnostics();
    if (isDemandedNow(true)) {
        pendingDemandOff_ = Task();
        hasPendingDemandOff_ = false;
        reportDemand(true);
    } else {
        scheduleDemandOff();
    }
}

bool AudioObjectVirtualMicrophoneDevice::isDemandedNow(bool refreshListeners) {
    auto running = system_->isRunning(monitoredDeviceID_);
    std::vector<ObjectID> processes;
    if (auto list = system_->processList()) {
        processes = std::move(*list);
    }
    if (refreshListeners) {
        refreshProcessListeners(processes);
    }
    bool demanded = running && *running != 0;
    for (ObjectID process : processes) {
        // Every process is asked, so that its state is read even once demand is known.
        demanded = processDemandsDevice(process) || demanded;
    }
    return demanded;
}

void AudioObjectVirtualMicrophoneDevice::refreshProcessListeners(const std::vector<ObjectID>& processes) {
    for (auto entry = processDemandListeners_.begin(); entry != processDemandListeners_.end();) {
        if (std::ranges::find(processes, entry->first) == processes.end()) {
            system_->removeListener(entry->second.devices);
            system_->removeListener(entry->second.runningInput);
            entry = processDemandListeners_.erase(entry);
        } else {
            ++entry;
        }
    }
    for (ObjectID process : processes) {
        if (processDemandListeners_.contains(process)) {
            continue;
        }
        auto devices = system_->addListener(process, MicrophoneAudioObjectSystem::processDevicesSelector,
                                            scope::input, evaluateOnDemandQueue());
        if (!devices) {
            continue;
        }
        auto runningInput =
            system_->addListener(process, MicrophoneAudioObjectSystem::processIsRunningInputSelector,
                                 scope::global, evaluateOnDemandQueue());
        if (!runningInput) {
            system_->removeListener(*devices);
            continue;
        }
        processDemandListeners_[process] = ProcessListeners{*devices, *runningInput};
    }
}

bool AudioObjectVirtualMicrophoneDevice::processDemandsDevice(ObjectID process) {
    auto devices = system_->processInputDevices(process);
    if (!devices || std::ranges::find(*devices, monitoredDeviceID_) == devices->end()) {
        return false;
    }
    auto runningInput = system_->processIsRunningInput(process);
    return runningInput && *runningInput != 0;
}

void AudioObjectVirtualMicrophoneDevice::scheduleDemandOff() {
    {
        std::lock_guard lock(demandHandlerLock_);
        if (!lastDemandState_ || hasPendingDemandOff_) {
            return;
        }
    }
    hasPendingDemandOff_ = true;
    pendingDemandOff_ = Task::spawn(
        demandListenerQueue_.executor(),
        [this]() -> asio::awaitable<void> {
            co_await clock_->sleepFor(demandOffDelay);
            hasPendingDemandOff_ = false;
            if (!isDemandedNow(false)) {
                reportDemand(false);
            }
        },
        "virtual microphone demand off");
}

void AudioObjectVirtualMicrophoneDevice::readDiagnostics() {
    auto diagnostics = system_->diagnostics(monitoredDeviceID_);
    if (!diagnostics || diagnostics->entries.empty()) {
        return;
    }
    auto sourceTime =
        unsignedNumber(diagnostics->find(microphone::diagnosticsKey::renderedSourceTimeNanoseconds));
    auto hostTime = unsignedNumber(diagnostics->find(microphone::diagnosticsKey::renderHostTimeNanoseconds));
    if (!sourceTime || !hostTime || *sourceTime == 0 || *hostTime == 0) {
        return;
    }
    if (lastHALRenderedSourceTimeNanoseconds_ == *sourceTime) {
        return;
    }
    lastHALRenderedSourceTimeNanoseconds_ = *sourceTime;
    recordPlayback_(clampToSigned64(*sourceTime), clampToSigned64(*hostTime));
}

}  // namespace quillbridge
