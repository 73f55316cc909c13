#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <asio/any_io_executor.hpp>
#include <asio/thread_pool.hpp>

#include "core/Clock.hpp"

namespace quillbridge {

class BlockingWorkPool;
class CachedMandatoryPermissionProbe;
class BroadcasterRecorderSession;
class DecodingPersonaCameraReceiver;
class LinuxPersonaCamera;
class DefaultsStore;
class DesktopClipboard;
class FdkAacAudioConverterFactory;
class FileContentTypeDetector;
class LibavVideoEncoderFactory;
class LinuxConnectionPowerActivity;
class LinuxQuicTransport;
class PersonaAVTimingCoordinator;
class RemoteClipboardController;
class RemoteClipboardTransferAdapter;
class RemoteInputControllers;
class RemoteKeyboardController;
class RemoteKeyboardReportingAdapter;
class RemoteMouseController;
class RemoteSystemActionController;
class ScreenRecorder;
class HostMicrophoneParts;
class ScreenStreamBroadcaster;
class SecretStore;
class SystemAudioMuteController;
struct ScreenStreamBroadcasterDependencies;
class SessionMemoryReclaimer;
class SystemServicesPort;
class XTestInputPoster;
class XcbDisplayWaker;
class XkbKeyboardLayoutChangeObserver;
class XkbKeyboardLayouts;

struct LinuxHostServicesOptions {
    // Required: the main actor, where the recorder and every desktop clipboard call run (the GUI thread's
    // executor in the application).
    asio::any_io_executor mainActor;
    // The X display (":1"); empty: $DISPLAY.
    std::string displayName;
    // The settings file; empty: $XDG_CONFIG_HOME/quillbridge/defaults.json.
    std::filesystem::path defaultsFile;
    // Where the secrets live; empty: $XDG_DATA_HOME/quillbridge.
    std::filesystem::path dataDirectory;
    // Whether the Secret Service may hold the secrets (else files under the data directory).
    bool useSecretService = true;
    // The host's name as the headset shows it; empty: the system's pretty host name.
    std::string hostDisplayName;
    std::uint16_t listenPort = 49555;
    std::string bindAddress = "::";
    // Empty: the steady clock.
    std::shared_ptr<Clock> clock;
    // Threads of the pool that runs the session's actor, the clipboard actor, the capture mailbox drains
    // and file transfers.
    std::size_t workerThreadCount = 4;
};

// The host's objects, built from the real Linux adapters the way the application uses them: the QUIC
// transport, Avahi discovery, the file-backed settings and the secret store, the video encoder, the audio
// converter, remote input on XTest, the desktop clipboard, keyboard reporting, the power and display-wake
// adapters, the Persona media clock and camera receiver (decoding on libavcodec), and the capture side (X11
// and PulseAudio capture, RandR displays, logind, UPower and RandR observers, the output mute) under one
// ScreenRecorder that drives the session through its broadcaster.
//
// Create it on the main actor. Before destroying it, await the recorder's shutdown() there. Destroy it off
// the main actor while that still runs (destruction waits, bounded, until the recorder's tasks there have let
// the recorder and the session go and has finished what it was doing then), then the workers finish what is
// queued and the objects go in the reverse order of their creation. Should either wait run out, the pool and
// the objects its work may touch are left behind rather than destroyed under their users.
class LinuxHostServices {
public:
    // Nothing, with the reason in `error`, when the X display cannot be reached or the QUIC transport
    // cannot be started.
    static std::unique_ptr<LinuxHostServices> create(LinuxHostServicesOptions options, std::string* error);
    ~LinuxHostServices();
    LinuxHostServices(const LinuxHostServices&) = delete;
    LinuxHostServices& operator=(const LinuxHostServices&) = delete;

    ScreenRecorder& recorder() { return *recorder_; }
    const std::shared_ptr<ScreenRecorder>& sharedRecorder() const { return recorder_; }
    const std::shared_ptr<ScreenStreamBroadcaster>& broadcaster() const { return broadcaster_; }
    const std::shared_ptr<PersonaAVTimingCoordinator>& timingCoordinator() const {
        return timingCoordinator_;
    }
    LinuxQuicTransport& transport() { return *transport_; }
    DefaultsStore& defaults() { return *defaults_; }
    const std::shared_ptr<DefaultsStore>& sharedDefaults() const { return defaults_; }
    SecretStore& secrets() { return *secrets_; }
    Clock& clock() { return *clock_; }
    asio::any_io_executor workerExecutor() { return workers_->get_executor(); }

    // Runs the function on the main actor once the host's grants have been read (off the main actor): from
    // then on the recorder's permission checks answer at once.
    void whenPermissionsRead(std::function<void()> onMainActor);

private:
    LinuxHostServices() = default;

    // The parts create() makes, in its order. False when the X display cannot be used.
    bool createRemoteInput(const LinuxHostServicesOptions& options);
    void createClipboard(const LinuxHostServicesOptions& options);
    ScreenStreamBroadcasterDependencies sessionDependencies(const LinuxHostServicesOptions& options);
    bool createRecorder(const LinuxHostServicesOptions& options,
                        std::shared_ptr<SystemAudioMuteController> muteController);
    // After each session, once its teardown has settled, what the allocator keeps free goes back to the
    // system.
    void reclaimMemoryAfterSessions();

    asio::any_io_executor mainActor_;
    std::shared_ptr<Clock> clock_;
    std::unique_ptr<asio::thread_pool> workers_;
    std::unique_ptr<BlockingWorkPool> blockingWork_;
    std::shared_ptr<DefaultsStore> defaults_;
    std::unique_ptr<SecretStore> secrets_;
    std::unique_ptr<LinuxQuicTransport> transport_;

    std::unique_ptr<LibavVideoEncoderFactory> videoEncoders_;
    std::unique_ptr<FdkAacAudioConverterFactory> audioConverters_;
    std::unique_ptr<LinuxConnectionPowerActivity> powerActivity_;
    std::unique_ptr<XcbDisplayWaker> displayWaker_;

    std::unique_ptr<XTestInputPoster> inputPoster_;
    std::unique_ptr<XkbKeyboardLayouts> keyboardLayouts_;
    std::unique_ptr<XkbKeyboardLayoutChangeObserver> keyboardLayoutChanges_;
    std::unique_ptr<SystemServicesPort> systemServices_;
    std::unique_ptr<RemoteMouseController> mouse_;
    std::unique_ptr<RemoteKeyboardController> keyboard_;
    std::unique_ptr<RemoteSystemActionController> systemActions_;
    std::unique_ptr<RemoteInputControllers> remoteInput_;
    std::unique_ptr<RemoteKeyboardReportingAdapter> keyboardReporting_;

    std::unique_ptr<DesktopClipboard> clipboard_;
    std::unique_ptr<FileContentTypeDetector> typeDetector_;
    std::unique_ptr<RemoteClipboardController> clipboardController_;
    std::unique_ptr<RemoteClipboardTransferAdapter> clipboardTransfers_;

    // The media clock and the camera receiver (whose strand runs on the workers).
    std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator_;
    // The virtual camera (feeder and controller), fed by the camera receiver.
    std::unique_ptr<LinuxPersonaCamera> personaCamera_;
    std::shared_ptr<DecodingPersonaCameraReceiver> personaCameraReceiver_;
    // The microphone receiver and the virtual microphone.
    std::unique_ptr<HostMicrophoneParts> microphone_;

    std::shared_ptr<ScreenStreamBroadcaster> broadcaster_;
    std::shared_ptr<BroadcasterRecorderSession> session_;
    std::shared_ptr<CachedMandatoryPermissionProbe> permissionProbe_;
    std::shared_ptr<ScreenRecorder> recorder_;
    std::shared_ptr<SessionMemoryReclaimer> memoryReclaimer_;
};

}  // namespace quillbridge
