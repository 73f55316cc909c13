#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>

#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/PersonaVirtualCameraController.hpp"
#include "bridge/PersonaVirtualCameraFeeder.hpp"
#include "bridge/VirtualMicrophoneDevice.hpp"
#include "bridge/VirtualMicrophoneDeviceError.hpp"
#include "capture/CaptureDisplay.hpp"
#include "capture/CaptureEngine.hpp"
#include "capture/CaptureSettings.hpp"
#include "capture/CaptureStreamFactory.hpp"
#include "capture/CaptureStreamFailure.hpp"
#include "capture/DisplayCaptureSignature.hpp"
#include "capture/DisplayConfigurationObserver.hpp"
#include "capture/DisplayProvider.hpp"
#include "capture/HostPowerEvent.hpp"
#include "capture/HostPowerEventSource.hpp"
#include "capture/LidStateObserver.hpp"
#include "capture/MandatoryPermissionIssue.hpp"
#include "capture/MandatoryPermissionProbe.hpp"
#include "capture/ScreenRecorderProperty.hpp"
#include "capture/ScreenRecorderSession.hpp"
#include "capture/SleepDelayRelease.hpp"
#include "capture/StreamingAudioDispatcher.hpp"
#include "capture/StreamingFrameDispatcher.hpp"
#include "capture/SystemAudioMuteController.hpp"
#include "capture/VirtualMicrophoneAudioDispatcher.hpp"
#include "capture/VirtualMicrophonePacket.hpp"
#include "core/BlockingWorkPool.hpp"
#include "core/Clock.hpp"
#include "core/Logger.hpp"
#include "core/SerialQueue.hpp"
#include "core/Task.hpp"
#include "core/Uuid.hpp"
#include "pairing/DefaultsStore.hpp"
#include "wire/CaptureResolutionOption.hpp"
#include "wire/PairedPeerRecord.hpp"
#include "wire/StreamCodec.hpp"
#include "wire/StreamConfigurationMessage.hpp"
#include "wire/StreamFrameRateOption.hpp"

namespace quillbridge {

struct ScreenRecorderDependencies {
    // The main actor: every operation of the recorder runs there.
    asio::any_io_executor mainActor;
    // Runs the drains of the capture mailboxes (a pool, not bound to any actor).
    asio::any_io_executor drainExecutor;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<DefaultsStore> defaults;
    std::shared_ptr<ScreenRecorderSession> session;
    std::shared_ptr<CaptureStreamFactory> captureStreamFactory;
    std::shared_ptr<DisplayProvider> displayProvider;
    std::shared_ptr<MandatoryPermissionProbe> permissionProbe;
    std::shared_ptr<HostPowerEventSource> powerEvents;
    std::shared_ptr<LidStateObserver> lidState;
    std::shared_ptr<DisplayConfigurationObserver> displayConfiguration;
    std::shared_ptr<SystemAudioMuteController> muteController;
    // Where settings writes run (they wait on the disk); null: in place. Must outlive the recorder.
    BlockingWorkPool* blockingWork = nullptr;
    // The Persona camera and the virtual microphone. Each may be null: without the camera objects the camera
    // is never asked for; without the microphone device the passthrough fails to start as if the plug-in
    // were missing.
    std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator;
    std::shared_ptr<PersonaVirtualCameraController> cameraController;
    std::shared_ptr<PersonaVirtualCameraFeeder> cameraFeeder;
    std::shared_ptr<VirtualMicrophoneDevice> microphoneDevice;
};

// The host's root model: owns capture, drives the streaming session, follows permissions, power, lid and
// display changes, and mutes the host's speakers during a session. Lives on the main actor; its observable
// properties announce each real change of value once to the observers.
class ScreenRecorder : public std::enable_shared_from_this<ScreenRecorder> {
public:
    using State = ScreenRecorderSession::State;
    using PairingPrompt = ScreenRecorderSession::PairingPrompt;
    using PropertyObserver = std::function<void(ScreenRecorderProperty)>;

    static constexpr std::string_view peerToPeerDefaultsKey = "enablePeerToPeerConnections";
    static constexpr std::string_view preferredDisplayDefaultsKey = "preferredDisplayIdentifier";
    static constexpr std::string_view idleStatus = "Idle";

    // Creates the recorder and starts its session-state and configuration tasks. Call on the main actor.
    static std::shared_ptr<ScreenRecorder> create(ScreenRecorderDependencies dependencies);
    ~ScreenRecorder();
    ScreenRecorder(const ScreenRecorder&) = delete;
    ScreenRecorder& operator=(const ScreenRecorder&) = delete;

    // Observers are called on the main actor, after the new value is stored.
    void addPropertyObserver(PropertyObserver observer) { observers_.push_back(std::move(observer)); }

    // Observable properties.
    bool isRunning() const { return isRunning_; }
    const std::string& streamingStatus() const { return streamingStatus_; }
    const std::set<MandatoryPermissionIssue>& permissionIssues() const { return permissionIssues_; }
    bool isResolvingLocalNetworkPermission() const { return isResolvingLocalNetworkPermission_; }
    bool hasCompletedMandatoryPermissionCheck() const { return hasCompletedMandatoryPermissionCheck_; }
    bool localNetworkPermissionIsGranted() const { return localNetworkPermissionIsGranted_; }
    bool enablePeerToPeer() const { return enablePeerToPeer_; }
    const std::optional<PairingPrompt>& pairingPrompt() const { return pairingPrompt_; }
    // In the store's order.
    const std::vector<PairedPeerRecord>& pairedPeers() const { return pairedPeers_; }
    bool isConnected() const { return isConnected_; }
    bool isPersonaCameraSharingEnabled() const { return isPersonaCameraSharingEnabled_; }
    bool isMicrophoneSharingEnabled() const { return isMicrophoneSharingEnabled_; }
    const std::optional<std::string>& virtualMicrophoneErrorMessage() const {
        return virtualMicrophoneErrorMessage_;
    }
    PersonaVirtualCameraController::PermissionState personaCameraExtensionPermissionState() const {
        return personaCameraExtensionPermissionState_;
    }
    const std::optional<CaptureDisplay>& selectedDisplay() const { return selectedDisplay_; }
    const std::vector<CaptureDisplay>& availableDisplays() const { return availableDisplays_; }
    std::int64_t displayConfigurationRevision() const { return displayConfigurationRevision_; }
    StreamCodec requestedVideoCodec() const { return requestedVideoCodec_; }
    bool isHDREnabled() const { return isHDREnabled_; }

    // Plain state, for the shell and diagnostics.
    bool isSetup() const { return isSetup_; }
    bool hasActiveClient() const { return hasActiveClient_; }
    bool isTerminating() const { return isTerminating_; }
    bool isCaptureStarting() const { return isCaptureStarting_; }
    std::uint64_t captureLifecycleGeneration() const { return captureLifecycleGeneration_; }
    CaptureSettings captureSettings() const;
    StreamCodec effectiveVideoCodec() const {
        return isHDREnabled_ ? StreamCodec::hevc : requestedVideoCodec_;
    }
    const std::shared_ptr<CaptureEngine>& captureEngine() const { return captureEngine_; }

    // Peer-to-peer: stores the preference (even when unchanged) and hands it to the session, which restarts
    // its listener only when its flag changed and no headset is connected.
    void setEnablePeerToPeer(bool enabled);

    // Host services.
    asio::awaitable<void> startHostServicesIfPermitted();
    // Stops everything, the session last. A second call, during or after the first, returns at once.
    asio::awaitable<void> shutdown();
    // Starts the power, lid and display-configuration observers, in that order.
    void startHostAvailabilityMonitoring();
    void setLocalNetworkPermissionChecksEnabled(bool enabled) {
        areLocalNetworkPermissionChecksEnabled_ = enabled;
    }
    // Whether the session may listen: not while terminating, with the lid closed and no external display, or
    // while screen capture or synthetic input is not granted. Callable from any thread.
    bool isListeningAllowed() const;

    // Permissions.
    bool canStartStreaming() const;
    void refreshPermissionState();
    void requestScreenCapturePermission();
    void requestAccessibilityPermission();
    asio::awaitable<void> checkMandatoryPermissions();
    asio::awaitable<void> resolveLocalNetworkPermission();

    // Displays and capture.
    asio::awaitable<void> refreshAvailableContent();
    // The user's choice of display (the display picker): remembers its identifier in the defaults under
    // "preferredDisplayIdentifier" (none forgets the choice), then selects it; a new selection is applied to
    // capture as a display change.
    asio::awaitable<void> setPreferredDisplayIdentifier(std::optional<CaptureDisplay> display);
    asio::awaitable<void> startCaptureIfNeeded();
    asio::awaitable<void> stopCapture();
    asio::awaitable<void> updateCapture();
    asio::awaitable<void> applyDisplayChange();
    asio::awaitable<void> updateCapturedDisplayOnSession();

    // Power, lid and display reactions.
    asio::awaitable<void> handlePowerEvent(HostPowerEvent event, SleepDelayRelease sleepDelay);
    asio::awaitable<void> evaluateClamshellState();
    asio::awaitable<void> suspendStreaming();
    asio::awaitable<void> handleDisplayConfigurationChange();
    bool isLidClosedWithoutExternalDisplay() const;

    // Host mute.
    asio::awaitable<void> applyConnectionMuteIfNeeded();
    asio::awaitable<void> stopSystemAudioMute();

    // Pairing: the user's answers to the prompt and the paired-device list.
    asio::awaitable<void> submitPairingCode(std::string code);
    asio::awaitable<void> cancelPairing();
    // Forgets the headset in the session's store, then shows the store's list.
    asio::awaitable<void> forgetPairedPeer(Uuid id);
    // Reads the session's paired peers and shows them.
    asio::awaitable<void> reloadPairedPeers();
    // The session's prompt, or nothing once it is withdrawn.
    void handlePairingPrompt(std::optional<PairingPrompt> prompt);

    // Persona camera and microphone sharing.
    bool isPersonaCameraTransportRequested() const { return isPersonaCameraTransportRequested_; }
    bool isMicrophoneTransportRequested() const { return isMicrophoneTransportRequested_; }
    bool isVirtualMicrophonePassthroughDesired() const { return isVirtualMicrophonePassthroughDesired_; }
    // What the headset reports of its sharing.
    void handlePersonaCameraSharing(bool isEnabled);
    asio::awaitable<void> handleMicrophoneSharing(bool isEnabled);
    // What the host's applications want of the virtual devices.
    void handlePersonaCameraDemand(bool isDemanded);
    void handleMicrophoneDemand(bool isDemanded);
    asio::awaitable<void> startVirtualMicrophonePassthrough();
    asio::awaitable<void> stopVirtualMicrophonePassthrough();
    void updatePersonaCameraTransportRequest();
    void updateMicrophoneTransportRequest();
    // The microphone receiver's chunk handler: queues the packet for the virtual microphone. Callable from
    // any thread; always accepts.
    bool enqueueMicrophonePacket(VirtualMicrophonePacket packet) const;
    const VirtualMicrophoneAudioDispatcher& virtualMicrophoneAudioDispatcher() const {
        return *virtualMicrophoneAudioDispatcher_;
    }
    // What the microphone queue does with one packet: a new timeline advances the device's generation; the
    // samples reach the device only while it renders and only as mono 48 kHz float with four bytes a frame.
    static void consumeMicrophonePacket(VirtualMicrophoneDevice& device,
                                        const VirtualMicrophonePacket& packet);
    // The timeline counter after `generation`: 0 is never used again once it wraps.
    static std::uint64_t nextHalAudioGeneration(std::uint64_t generation);

    // Session reactions.
    asio::awaitable<void> handleSessionState(State state);
    asio::awaitable<void> applyStreamConfiguration(StreamConfigurationMessage message);

private:
    explicit ScreenRecorder(ScreenRecorderDependencies dependencies);
    void start();

    template <class T>
    void assign(T& field, T value, ScreenRecorderProperty property) {
        if (field == value) {
            return;
        }
        field = std::move(value);
        notify(property);
    }
    void notify(ScreenRecorderProperty property);
    void assignPairedPeers(std::vector<PairedPeerRecord> peers);
    void startDeviceSharing();
    void setMicrophoneTransportRequested(bool isRequested);
    void advanceHalAudioGenerationLater();
    asio::awaitable<std::optional<VirtualMicrophoneDeviceError>> runOnMicrophoneControlQueue(
        std::function<std::optional<VirtualMicrophoneDeviceError>()> work);
    // In-place update of one grant: always announced.
    void recordPermission(MandatoryPermissionIssue issue, bool granted);
    // Assigns the selection. True when its signature differs from the one last applied: the new signature is
    // recorded, the display's HDR estimate logged, and the caller applies the change to capture.
    bool selectDisplay(std::optional<CaptureDisplay> display);
    void refreshScreenCapturePermission();
    void refreshAccessibilityPermission();

    // Runs the body on the main actor while the recorder lives; a failure is logged.
    template <class Function>
    void spawnOnMainActor(std::string name, Function body);

    asio::awaitable<void> drainVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame);
    asio::awaitable<void> drainAudioBuffer(std::shared_ptr<const AudioPCMBuffer> buffer);
    void installCaptureHandlers();
    void clearCaptureHandlers();
    void handleCaptureStopped(const CaptureStreamFailure& failure);
    static asio::awaitable<void> restartCaptureAfterStreamStop(std::weak_ptr<ScreenRecorder> weakSelf,
                                                               std::shared_ptr<Clock> clock,
                                                               CaptureStreamFailure failure);
    asio::awaitable<void> endSession(bool keepsTimingState);
    asio::awaitable<void> runOnAudioControlQueue(std::function<void()> work);
    int effectiveFrameRate() const;

    Logger logger_{"ScreenRecorder"};
    ScreenRecorderDependencies dependencies_;
    std::shared_ptr<ScreenRecorderSession> session_;
    std::vector<PropertyObserver> observers_;

    // Observable properties.
    bool isRunning_ = false;
    std::string streamingStatus_{idleStatus};
    std::set<MandatoryPermissionIssue> permissionIssues_;
    bool isResolvingLocalNetworkPermission_ = true;
    bool hasCompletedMandatoryPermissionCheck_ = false;
    bool localNetworkPermissionIsGranted_ = false;
    bool enablePeerToPeer_ = false;
    std::optional<PairingPrompt> pairingPrompt_;
    std::vector<PairedPeerRecord> pairedPeers_;
    bool isConnected_ = false;
    bool isPersonaCameraSharingEnabled_ = false;
    bool isMicrophoneSharingEnabled_ = false;
    std::optional<std::string> virtualMicrophoneErrorMessage_;
    PersonaVirtualCameraController::PermissionState personaCameraExtensionPermissionState_ =
        PersonaVirtualCameraController::PermissionState::unknown;
    std::optional<CaptureDisplay> selectedDisplay_;
    std::vector<CaptureDisplay> availableDisplays_;
    std::int64_t displayConfigurationRevision_ = 0;
    StreamCodec requestedVideoCodec_ = StreamCodec::h264;
    bool isHDREnabled_ = false;

    std::shared_ptr<CaptureEngine> captureEngine_;

    // Plain state.
    bool isSetup_ = false;
    bool hasActiveClient_ = false;
    CaptureResolutionOption captureResolution_ = CaptureResolutionOption::full;
    StreamFrameRateOption captureFrameRate_ = StreamFrameRateOption::fps60;
    bool mutesHostAudio_ = false;
    bool hasPendingConnectionConfiguration_ = false;
    bool hasHandledConnectionMute_ = false;
    bool usesCanonicalHDR_ = false;
    bool isRefreshingAvailableContent_ = false;
    bool isCaptureStarting_ = false;
    std::uint64_t captureLifecycleGeneration_ = 0;
    bool isTerminating_ = false;
    bool isMonitoringHostAvailability_ = false;
    bool areLocalNetworkPermissionChecksEnabled_ = false;
    std::optional<DisplayCaptureSignature> selectedDisplaySignature_;
    std::optional<DisplayCaptureSignature> startingCaptureDisplaySignature_;
    std::uint64_t personaCameraRequestRevision_ = 0;
    bool isPersonaCameraDemandedByVirtualDevice_ = false;
    bool isPersonaCameraTransportRequested_ = false;
    std::uint64_t microphoneRequestRevision_ = 0;
    bool isMicrophoneDemandedByVirtualDevice_ = false;
    bool isMicrophoneTransportRequested_ = false;
    bool isVirtualMicrophonePassthroughDesired_ = false;
    std::uint64_t virtualMicrophoneLifecycleRevision_ = 0;

    // Mirrors for the mailbox drains, which run off the main actor.
    std::atomic<bool> terminatingForDrains_{false};
    std::atomic<bool> mandatoryGrantMissing_{false};

    std::optional<StreamingFrameDispatcher> streamingFrameDispatcher_;
    std::optional<StreamingAudioDispatcher> streamingAudioDispatcher_;

    Task sessionStateTask_;
    Task configurationTask_;
    Task pairingPromptTask_;
    Task pairedPeerChangeTask_;
    Task pairedPeerLoadTask_;
    Task cameraSharingTask_;
    Task microphoneSharingTask_;
    // The last request of each chain; each request task holds the one before it and waits for it.
    Task personaCameraRequestUpdateTask_;
    Task microphoneRequestUpdateTask_;
    Task displayConfigurationRefreshTask_;
    Task captureRestartTask_;

    // Serialises the calls into the mute controller.
    SerialQueue systemAudioControlQueue_{"com.mossharbor.quillbridgestreamer.SystemAudioControl"};
    // Serialises the calls into the virtual microphone and drains its mailbox.
    SerialQueue virtualMicrophoneControlQueue_{"com.mossharbor.quillbridgestreamer.VirtualMicrophoneControl"};
    std::optional<VirtualMicrophoneAudioDispatcher> virtualMicrophoneAudioDispatcher_;
};

template <class Function>
void ScreenRecorder::spawnOnMainActor(std::string name, Function body) {
    asio::co_spawn(
        dependencies_.mainActor,
        [self = shared_from_this(), body = std::move(body)]() mutable -> asio::awaitable<void> {
            co_await body(*self);
        },
        [name = std::move(name)](std::exception_ptr error) {
            if (error && !isOperationAborted(error)) {
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& failure) {
                    Logger("ScreenRecorder").error("The ", name, " task failed: ", failure.what());
                } catch (...) {
                    Logger("ScreenRecorder").error("The ", name, " task failed.");
                }
            }
        });
}

}  // namespace quillbridge
