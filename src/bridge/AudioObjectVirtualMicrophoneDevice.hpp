#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "bridge/MicrophoneAudioObjectSystem.hpp"
#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/VirtualMicrophoneDevice.hpp"
#include "core/Clock.hpp"
#include "core/Logger.hpp"
#include "core/SerialQueue.hpp"
#include "core/Task.hpp"

namespace quillbridge {

// The virtual microphone as the host drives it through the microphone's audio objects: publishing acquires
// the microphone's box (and keeps renewing the program's publication lease every 2 s), then looks the
// device up (up to 50 times, 20 ms apart); audio goes to the device's packet property; demand is watched
// through the device's running state and the recording processes (listeners plus a 500 ms poll; demand on
// at once, off only after 750 ms without it); the program's diagnostics feed the media clock.
//
// publish() and stop() block their caller (publish() for up to about a second) and wait on the device's two
// queues: call them from one control queue that is neither of those, never from a strand or the main thread.
class AudioObjectVirtualMicrophoneDevice final : public VirtualMicrophoneDevice {
public:
    using SleepFunction = std::function<void(std::chrono::nanoseconds)>;
    // Takes a rendered (source time, host time) pair of the diagnostics.
    using PlaybackObservationRecorder = std::function<void(std::int64_t, std::int64_t)>;

    static constexpr int deviceLookupAttemptCount = 50;
    static constexpr std::chrono::milliseconds deviceLookupInterval{20};
    static constexpr std::chrono::seconds heartbeatInterval{2};
    static constexpr std::chrono::milliseconds demandPollInterval{500};
    static constexpr std::chrono::milliseconds demandOffDelay{750};

    // `sleep` pauses the publishing thread between look-ups; empty: std::this_thread::sleep_for. The
    // diagnostics' rendered times go to `recordPlayback`; empty: the media clock's
    // recordAudioPlaybackObservation.
    AudioObjectVirtualMicrophoneDevice(std::shared_ptr<MicrophoneAudioObjectSystem> system,
                                       std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator,
                                       std::shared_ptr<Clock> clock, SleepFunction sleep = {},
                                       PlaybackObservationRecorder recordPlayback = {});
    // Retracts the microphone as stop() does.
    ~AudioObjectVirtualMicrophoneDevice() override;
    AudioObjectVirtualMicrophoneDevice(const AudioObjectVirtualMicrophoneDevice&) = delete;
    AudioObjectVirtualMicrophoneDevice& operator=(const AudioObjectVirtualMicrophoneDevice&) = delete;

    std::expected<void, VirtualMicrophoneDeviceError> publish() override;
    void stop() override;
    bool rendererIsRunning() const override { return rendererIsRunning_.load(); }
    std::uint64_t halAudioGeneration() const override { return halAudioGeneration_; }
    void setHalAudioGeneration(std::uint64_t generation) override { halAudioGeneration_ = generation; }
    void submitAudio(std::uint64_t captureTimeNanoseconds, std::int64_t targetHostTimeNanoseconds,
                     std::int64_t targetBufferFrameCount, std::int64_t frameCount,
                     const Bytes& samples) override;
    void setDemandChangedHandler(std::function<void(bool)> handler) override;

    // The packet written for one chunk: the 40-byte header, counts clamped to 0...2^32-1, then the samples.
    static std::vector<std::uint8_t> makePacket(std::uint64_t generation,
                                                std::uint64_t captureTimeNanoseconds,
                                                std::int64_t targetHostTimeNanoseconds,
                                                std::int64_t targetBufferFrameCount, std::int64_t frameCount,
                                                const Bytes& samples);

    // Waits until the work already queued on both queues has run (tests).
    void drainQueuesForTesting();

private:
    struct ProcessListeners {
        MicrophoneAudioObjectSystem::ListenerID devices = 0;
        MicrophoneAudioObjectSystem::ListenerID runningInput = 0;
    };

    // Steps 1 to 6 of publishing, and all of stopping.
    void retract();
    std::optional<MicrophoneAudioObjectSystem::ObjectID> findBox();
    std::optional<MicrophoneAudioObjectSystem::ObjectID> findDevice();
    bool setBoxAcquired(bool acquired);
    void reportDemand(bool isDemanded);

    // Each runs on the publication queue.
    void startHeartbeat();
    void stopHeartbeat();

    // Each runs on the demand queue.
    void startDemandMonitoring(MicrophoneAudioObjectSystem::ObjectID device);
    void removeDemandMonitoring();
    void evaluateDemand();
    void refreshProcessListeners(const std::vector<MicrophoneAudioObjectSystem::ObjectID>& processes);
    bool isDemandedNow(bool refreshListeners);
    bool processDemandsDevice(MicrophoneAudioObjectSystem::ObjectID process);
    void scheduleDemandOff();
    void readDiagnostics();
    std::function<void()> evaluateOnDemandQueue();

    std::shared_ptr<MicrophoneAudioObjectSystem> system_;
    std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator_;
    std::shared_ptr<Clock> clock_;
    SleepFunction sleep_;
    PlaybackObservationRecorder recordPlayback_;
    Logger logger_{"VirtualMicrophoneDevice"};

    std::mutex demandHandlerLock_;
    std::function<void(bool)> demandChangedHandler_;
    bool lastDemandState_ = false;

    std::atomic<bool> rendererIsRunning_{false};
    std::atomic<MicrophoneAudioObjectSystem::ObjectID> driverDeviceID_{0};
    std::atomic<bool> didLogHALAudioSubmissionFailure_{false};
    std::uint64_t halAudioGeneration_ = 1;

    // Owned by the demand queue.
    MicrophoneAudioObjectSystem::ObjectID monitoredDeviceID_ = 0;
    std::optional<MicrophoneAudioObjectSystem::ListenerID> driverRunningListener_;
    std::optional<MicrophoneAudioObjectSystem::ListenerID> processListListener_;
    std::map<MicrophoneAudioObjectSystem::ObjectID, ProcessListeners> processDemandListeners_;
    Task demandPollTask_;
    Task pendingDemandOff_;
    bool hasPendingDemandOff_ = false;
    std::optional<std::uint64_t> lastHALRenderedSourceTimeNanoseconds_;

    // Owned by the publication queue.
    Task publicationHeartbeatTask_;

    // Declared last, so destroyed first: the work they still hold runs while everything above is alive.
    SerialQueue publicationHeartbeatQueue_{"com.mossharbor.quillbridge.virtual-microphone-publication"};
    SerialQueue demandListenerQueue_{"com.mossharbor.quillbridge.virtual-microphone-demand"};
};

}  // namespace quillbridge
