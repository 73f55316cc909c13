#include "platform/linux/host/LinuxHostServices.hpp"

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include <asio/post.hpp>
#include <asio/strand.hpp>

#include "bridge/DecodingPersonaCameraReceiver.hpp"
#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/QueuedPersonaVirtualCameraFeeder.hpp"
#include "bridge/SystemPersonaVirtualCameraController.hpp"
#include "capture/AudioOutputMuteControls.hpp"
#include "capture/BroadcasterRecorderSession.hpp"
#include "capture/ScreenRecorder.hpp"
#include "capture/SessionMemoryReclaimer.hpp"
#include "capture/SystemAudioMuteController.hpp"
#include "core/BlockingWorkPool.hpp"
#include "core/Logger.hpp"
#include "core/SteadyClock.hpp"
#include "input/MacKeyboardInputSourceSwitcher.hpp"
#include "input/MacKeyboardLockController.hpp"
#include "input/RemoteClipboardController.hpp"
#include "input/RemoteKeyboardController.hpp"
#include "input/RemoteMouseController.hpp"
#include "input/RemoteSystemActionController.hpp"
#include "platform/linux/audio/FdkAacAudioConverterFactory.hpp"
#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"
#include "platform/linux/avahi/AvahiServiceBrowser.hpp"
#include "platform/linux/capture/LinuxCaptureStreamFactory.hpp"
#include "platform/linux/dbus/HostDisplayNameReader.hpp"
#include "platform/linux/dbus/LinuxConnectionPowerActivity.hpp"
#include "platform/linux/dbus/LogindHostPowerEventSource.hpp"
#include "platform/linux/dbus/UPowerLidStateObserver.hpp"
#include "platform/linux/defaults/FileDefaultsStore.hpp"
#include "platform/linux/host/CachedMandatoryPermissionProbe.hpp"
#include "platform/linux/host/DesktopSystemServices.hpp"
#include "platform/linux/host/HostMicrophoneParts.hpp"
#include "platform/linux/host/LinuxMandatoryPermissionProbe.hpp"
#include "platform/linux/host/LinuxMemoryRelease.hpp"
#include "platform/linux/host/LinuxPersonaCamera.hpp"
#include "platform/linux/power/SysfsPowerSourceReader.hpp"
#include "platform/linux/pulse/PulseAudioOutputMuteControls.hpp"
#include "platform/linux/pulse/PulseSystemAudioRouter.hpp"
#include "platform/linux/qt/QtDesktopClipboard.hpp"
#include "platform/linux/qt/QtFileContentTypeDetector.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "platform/linux/secrets/LinuxSecretStore.hpp"
#include "platform/linux/video/LibavPersonaCameraFrameDecoder.hpp"
#include "platform/linux/video/LibavVideoEncoderFactory.hpp"
#include "platform/linux/x11/RandRDisplayChangeObserver.hpp"
#include "platform/linux/x11/RandRDisplayProvider.hpp"
#include "platform/linux/x11/X11MandatoryPermissionProbe.hpp"
#include "platform/linux/x11/XTestInputPoster.hpp"
#include "platform/linux/x11/XcbDisplayWaker.hpp"
#include "platform/linux/x11/XkbKeyboardLayoutChangeObserver.hpp"
#include "platform/linux/x11/XkbKeyboardLayouts.hpp"
#include "platform/linux/x11/XkbKeyboardLockPort.hpp"
#include "session/HostFormFactor.hpp"
#include "session/RemoteClipboardTransferAdapter.hpp"
#include "session/RemoteInputControllers.hpp"
#include "session/RemoteKeyboardReportingAdapter.hpp"
#include "session/ScreenStreamBroadcaster.hpp"

namespace quillbridge {
namespace {

// How long start-up waits for the sound server before the host goes on without muting its outputs.
constexpr std::chrono::milliseconds soundServerTimeout{3000};
// How long destruction waits for the main actor to let the session go.
constexpr std::chrono::milliseconds releaseTimeout{10000};
// How long destruction waits for the workers to return from what runs on them.
constexpr std::chrono::milliseconds workerJoinTimeout{10000};

// The outputs of a host without a reachable sound server: none, so muting reports that nothing could be
// muted and restoring has nothing to do.
class NoAudioOutputMuteControls final : public AudioOutputMuteControls {
public:
    std::vector<std::string> outputMuteControls() override { return {}; }
    std::optional<bool> readMute(const std::string&) override { return std::nullopt; }
    bool writeMute(const std::string&, bool) override { return false; }
    bool observe(const std::string&, std::function<void(bool)>) override { return false; }
    void stopObserving(const std::string&) override {}
};

// Joins the pool unless one of its handlers does not return within the limit: false then, and the pool
// (which a thread still joins) must outlive the process.
bool joinWithin(asio::thread_pool& pool, std::chrono::milliseconds limit) {
    auto joined = std::make_shared<std::promise<void>>();
    auto done = joined->get_future();
    std::thread([&pool, joined] {
        pool.join();
        joined->set_value();
    }).detach();
    return done.wait_for(limit) == std::future_status::ready;
}

// Leaves an object behind for good: whatever still uses it keeps a live object.
template <class T>
void abandon(std::unique_ptr<T>& owner) {
    static_cast<void>(owner.release());
}
template <class T>
void abandon(std::shared_ptr<T>& owner) {
    static_cast<void>(new std::shared_ptr<T>(std::move(owner)));
}

// Whether a handler posted to the main actor now has run there before the deadline.
bool drainMainActorUntil(const asio::any_io_executor& mainActor,
                         std::chrono::steady_clock::time_point deadline) {
    auto ran = std::make_shared<std::promise<void>>();
    auto done = ran->get_future();
    asio::post(mainActor, [ran] { ran->set_value(); });
    return done.wait_until(deadline) == std::future_status::ready;
}

void setError(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
}

// The host's audio mute: the sound server's when one answers; while muted, the desktop's sound goes to the
// capture through the host's own sink.
std::shared_ptr<SystemAudioMuteController> makeMuteController(const Logger& logger) {
    std::string soundServerError;
    std::unique_ptr<AudioOutputMuteControls> muteControls =
        PulseAudioOutputMuteControls::connect(soundServerTimeout, &soundServerError);
    if (!muteControls) {
        logger.error("No sound server for the output mute: ", soundServerError);
        muteControls = std::make_unique<NoAudioOutputMuteControls>();
    }
    return std::make_shared<SystemAudioMuteController>(
        std::move(muteControls), std::make_unique<PulseSystemAudioRouter>(soundServerTimeout));
}

}  // namespace

std::unique_ptr<LinuxHostServices> LinuxHostServices::create(LinuxHostServicesOptions options,
                                                             std::string* error) {
    Logger logger("HostServices");
    LinuxMemoryRelease::configureAllocator();
    std::unique_ptr<LinuxHostServices> host(new LinuxHostServices());

    host->mainActor_ = options.mainActor;
    host->clock_ = options.clock ? options.clock : std::make_shared<SteadyClock>();
    host->workers_ = std::make_unique<asio::thread_pool>(options.workerThreadCount);
    host->blockingWork_ = std::make_unique<BlockingWorkPool>();

    // Settings and secrets in the XDG folders.
    host->defaults_ = std::make_shared<FileDefaultsStore>(
        options.defaultsFile.empty() ? FileDefaultsStore::defaultLocation() : options.defaultsFile);
    host->secrets_ = LinuxSecretStore::open(
        options.dataDirectory.empty() ? LinuxSecretStore::defaultDataDirectory() : options.dataDirectory,
        options.useSecretService);

    // Remote input on the X server.
    if (!host->createRemoteInput(options)) {
        setError(error, "The X display cannot be reached");
        return nullptr;
    }

    // The desktop clipboard, touched on the main actor only; files are read and written on the workers.
    host->createClipboard(options);

    // Encoding, power and the network.
    host->videoEncoders_ = std::make_unique<LibavVideoEncoderFactory>();
    host->audioConverters_ = std::make_unique<FdkAacAudioConverterFactory>();
    host->powerActivity_ = std::make_unique<LinuxConnectionPowerActivity>();
    host->displayWaker_ = std::make_unique<XcbDisplayWaker>(options.displayName);
    try {
        host->transport_ = std::make_unique<LinuxQuicTransport>();
    } catch (const std::exception& failure) {
        setError(error, std::string("The QUIC transport cannot be started: ") + failure.what());
        return nullptr;
    }

    // The host's audio mute first, as the application creates it, then the media clock, the Persona camera
    // receiver and the session.
    auto muteController = makeMuteController(logger);

    host->timingCoordinator_ = std::make_shared<PersonaAVTimingCoordinator>();
    // Decoded Persona pictures go to the virtual camera's feeder.
    host->personaCamera_ = LinuxPersonaCamera::create(options.mainActor, *host->clock_, *host->blockingWork_);
    host->personaCameraReceiver_ = std::make_shared<DecodingPersonaCameraReceiver>(
        host->workers_->get_executor(), host->timingCoordinator_,
        std::make_unique<LibavPersonaCameraFrameDecoder>(host->personaCamera_->frameHandler()));
    host->microphone_ = std::make_unique<HostMicrophoneParts>(host->workers_->get_executor(),
                                                              host->timingCoordinator_, host->clock_);

    host->broadcaster_ = ScreenStreamBroadcaster::create(host->sessionDependencies(options));
    host->session_ = std::make_shared<BroadcasterRecorderSession>(host->broadcaster_);

    // The capture side and its observers.
    if (!host->createRecorder(options, std::move(muteController))) {
        setError(error, "The X display has no RandR");
        return nullptr;
    }
    host->reclaimMemoryAfterSessions();
    return host;
}

bool LinuxHostServices::createRemoteInput(const LinuxHostServicesOptions& options) {
    inputPoster_ = XTestInputPoster::open(options.displayName);
    keyboardLayouts_ = XkbKeyboardLayouts::open(options.displayName);
    if (!inputPoster_ || !keyboardLayouts_)
        return false;
    systemServices_ = std::make_unique<DesktopSystemServices>();
    mouse_ = std::make_unique<RemoteMouseController>(*inputPoster_, *inputPoster_, *clock_);
    keyboard_ = std::make_unique<RemoteKeyboardController>(RemoteKeyboardController::Dependencies{
        *inputPoster_,
        *inputPoster_,
        *keyboardLayouts_,
        *clock_,
        std::make_unique<MacKeyboardLockController>(
            std::make_unique<XkbKeyboardLockPort>(options.displayName)),
        std::make_unique<MacKeyboardInputSourceSwitcher>(*keyboardLayouts_, *defaults_),
        {}});
    systemActions_ = std::make_unique<RemoteSystemActionController>(*systemServices_);
    remoteInput_ = std::make_unique<RemoteInputControllers>(*mouse_, *keyboard_, *systemActions_);
    keyboardLayoutChanges_ = std::make_unique<XkbKeyboardLayoutChangeObserver>(options.displayName);
    keyboardReporting_ = std::make_unique<RemoteKeyboardReportingAdapter>(
        *keyboard_, [layouts = keyboardLayouts_.get()]() -> std::optional<MacKeyboardInputSourceIdentity> {
            return layouts->currentLayoutIdentity();
        });
    return true;
}

void LinuxHostServices::createClipboard(const LinuxHostServicesOptions& options) {
    clipboard_ = std::make_unique<QtDesktopClipboard>();
    typeDetector_ = std::make_unique<QtFileContentTypeDetector>();
    clipboardController_ = std::make_unique<RemoteClipboardController>(
        asio::make_strand(workers_->get_executor()), options.mainActor, workers_->get_executor(), *clipboard_,
        typeDetector_.get());
    clipboardTransfers_ = std::make_unique<RemoteClipboardTransferAdapter>(*clipboardController_);
}

ScreenStreamBroadcasterDependencies LinuxHostServices::sessionDependencies(
    const LinuxHostServicesOptions& options) {
    ScreenStreamBroadcasterDependencies session;
    session.executor = workers_->get_executor();
    session.transport = transport_.get();
    session.makeAdvertiser = [] { return std::make_unique<AvahiServiceAdvertiser>(); };
    session.makeBrowser = [] { return std::make_unique<AvahiServiceBrowser>(); };
    session.clock = clock_.get();
    session.defaults = defaults_.get();
    session.secrets = secrets_.get();
    session.hostDisplayName =
        options.hostDisplayName.empty() ? HostDisplayNameReader::read() : options.hostDisplayName;
    session.hostFormFactor = cachedHostFormFactor(SysfsPowerSourceReader());
    session.peerToPeerEnabled = defaults_->boolean(ScreenRecorder::peerToPeerDefaultsKey).value_or(false);
    session.connectionPowerActivity = powerActivity_.get();
    session.displayWaker = displayWaker_.get();
    session.remoteInput = remoteInput_.get();
    session.audioConverterFactory = audioConverters_.get();
    session.clipboard = clipboardTransfers_.get();
    session.keyboardReporting = keyboardReporting_.get();
    session.keyboardLayoutChanges = keyboardLayoutChanges_.get();
    session.listenPort = options.listenPort;
    session.bindAddress = options.bindAddress;
    session.blockingWork = blockingWork_.get();
    session.videoEncoderFactory = videoEncoders_.get();
    session.personaAVTimingCoordinator = timingCoordinator_;
    session.personaCameraReceiver = personaCameraReceiver_;
    session.microphoneReceiver = microphone_->receiver();
    return session;
}

bool LinuxHostServices::createRecorder(const LinuxHostServicesOptions& options,
                                       std::shared_ptr<SystemAudioMuteController> muteController) {
    auto displayProvider = RandRDisplayProvider::open(options.displayName);
    if (!displayProvider)
        return false;
    ScreenRecorderDependencies recorder;
    recorder.mainActor = options.mainActor;
    recorder.drainExecutor = workers_->get_executor();
    recorder.clock = clock_;
    recorder.defaults = defaults_;
    recorder.session = session_;
    recorder.captureStreamFactory = std::make_shared<LinuxCaptureStreamFactory>(
        XcbScreenCaptureStream::Options{.displayName = options.displayName});
    recorder.displayProvider = std::move(displayProvider);
    // The grants are read on a thread of the probe's own: the X11 probe makes round trips on every call and
    // the system-audio half connects to the sound server.
    permissionProbe_ =
        std::make_shared<CachedMandatoryPermissionProbe>(std::make_unique<LinuxMandatoryPermissionProbe>(
            std::make_unique<X11MandatoryPermissionProbe>(options.displayName),
            [] { return PulseMonitorCaptureCheck::check(); },
            LinuxMandatoryPermissionProbe::sessionTypeFromEnvironment()));
    recorder.permissionProbe = permissionProbe_;
    recorder.powerEvents = std::make_shared<LogindHostPowerEventSource>(options.mainActor);
    recorder.lidState = std::make_shared<UPowerLidStateObserver>(options.mainActor);
    recorder.displayConfiguration =
        std::make_shared<RandRDisplayChangeObserver>(options.mainActor, options.displayName);
    recorder.muteController = std::move(muteController);
    recorder.timingCoordinator = timingCoordinator_;
    recorder.microphoneDevice = microphone_->device();
    recorder.cameraController = personaCamera_->controller();
    recorder.cameraFeeder = personaCamera_->feeder();
    recorder.blockingWork = blockingWork_.get();
    recorder_ = ScreenRecorder::create(std::move(recorder));
    microphone_->attachRecorder(recorder_);
    // A grant that changes shows in the recorder's permission state.
    permissionProbe_->setChangeHandler(
        [mainActor = options.mainActor, weakRecorder = std::weak_ptr<ScreenRecorder>(recorder_)] {
            asio::post(mainActor, [weakRecorder] {
                if (auto recorder = weakRecorder.lock()) {
                    recorder->refreshPermissionState();
                }
            });
        });
    return true;
}

void LinuxHostServices::reclaimMemoryAfterSessions() {
    // After each session, once its teardown has settled, what the allocator keeps free goes back to the
    // system, off the main actor.
    memoryReclaimer_ =
        std::make_shared<SessionMemoryReclaimer>(mainActor_, clock_, [pool = blockingWork_.get()] {
            static_cast<void>(pool->tryPost([] { LinuxMemoryRelease::returnFreedMemory(); }));
        });
    recorder_->addPropertyObserver([weakRecorder = std::weak_ptr<ScreenRecorder>(recorder_),
                                    weakReclaimer = std::weak_ptr<SessionMemoryReclaimer>(memoryReclaimer_)](
                                       ScreenRecorderProperty property) {
        if (property != ScreenRecorderProperty::isConnected &&
            property != ScreenRecorderProperty::isRunning) {
            return;
        }
        auto recorder = weakRecorder.lock();
        auto reclaimer = weakReclaimer.lock();
        if (recorder && reclaimer) {
            reclaimer->update(recorder->isConnected() || recorder->isRunning());
        }
    });
}

void LinuxHostServices::whenPermissionsRead(std::function<void()> onMainActor) {
    permissionProbe_->whenFirstRead([mainActor = mainActor_, onMainActor = std::move(onMainActor)]() mutable {
        asio::post(mainActor, std::move(onMainActor));
    });
}

LinuxHostServices::~LinuxHostServices() {
    // The recorder's tasks end on the main actor once it goes, and let the session go there. The session's
    // strand (like the capture drains' strands) belongs to the worker pool, so the pool waits until nothing
    // holds the recorder or the session any more.
    std::weak_ptr<ScreenStreamBroadcaster> session = broadcaster_;
    std::weak_ptr<ScreenRecorder> recorder = recorder_;
    recorder_.reset();
    session_.reset();
    broadcaster_.reset();
    // Its pending reclaim is cancelled; it posts to the blocking-work pool, which outlives it.
    memoryReclaimer_.reset();
    if (!workers_) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + releaseTimeout;
    while ((!session.expired() || !recorder.expired()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The last reference counts as gone before its object's destructor has run: the main actor may still be
    // inside it, destroying strands whose service lives in the pool. A handler queued there now runs after
    // it.
    const bool released =
        session.expired() && recorder.expired() && drainMainActorUntil(mainActor_, deadline);
    if (!released) {
        // Something still waits on the session: do not wait for it without end.
        Logger("HostServices").fault("The session is still held while the host's services go");
    } else if (joinWithin(*workers_, workerJoinTimeout)) {
        // What was still queued on the workers ran to its end; the objects go in reverse order.
        return;
    } else {
        Logger("HostServices")
            .fault("A worker of the host's services does not return; its objects are left behind");
    }
    // Rather than wait for ever, or destroy what is still in use under its user, the pool and everything its
    // work may touch are left behind.
    workers_->stop();
    abandon(workers_);
    abandon(blockingWork_);
    abandon(clock_);
    abandon(defaults_);
    abandon(secrets_);
    abandon(transport_);
    abandon(videoEncoders_);
    abandon(audioConverters_);
    abandon(powerActivity_);
    abandon(displayWaker_);
    abandon(inputPoster_);
    abandon(keyboardLayouts_);
    abandon(keyboardLayoutChanges_);
    abandon(systemServices_);
    abandon(mouse_);
    abandon(keyboard_);
    abandon(systemActions_);
    abandon(remoteInput_);
    abandon(keyboardReporting_);
    abandon(clipboard_);
    abandon(typeDetector_);
    abandon(clipboardController_);
    abandon(clipboardTransfers_);
    abandon(timingCoordinator_);
    abandon(personaCamera_);
    abandon(personaCameraReceiver_);
    abandon(microphone_);
}

}  // namespace quillbridge
