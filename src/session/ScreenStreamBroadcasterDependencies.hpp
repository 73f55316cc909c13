#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <asio/any_io_executor.hpp>

#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/PersonaCameraReceiver.hpp"
#include "bridge/VisionMicrophoneReceiver.hpp"
#include "core/BlockingWorkPool.hpp"
#include "core/Clock.hpp"
#include "pairing/DefaultsStore.hpp"
#include "pairing/SecretStore.hpp"
#include "session/AudioConverterFactory.hpp"
#include "session/ClipboardTransferService.hpp"
#include "session/ConnectionPowerActivity.hpp"
#include "session/DisplayWaker.hpp"
#include "session/HostFormFactor.hpp"
#include "session/KeyboardLayoutChangeObserver.hpp"
#include "session/KeyboardReportingService.hpp"
#include "session/QuicTransport.hpp"
#include "session/RemoteInputSink.hpp"
#include "session/ServiceAdvertiser.hpp"
#include "session/ServiceBrowser.hpp"
#include "session/VideoEncoderFactory.hpp"

namespace quillbridge {

// What the broadcaster is built from. Pointers marked required must be set and outlive the broadcaster;
// the optional ones may be null (the feature then does nothing and says so in the log).
struct ScreenStreamBroadcasterDependencies {
    // Required: the broadcaster's strand is made on it.
    asio::any_io_executor executor;
    // Required.
    QuicTransport* transport = nullptr;
    // Required: a fresh advertiser for each listener run and a fresh browser for each Local Network probe.
    std::function<std::unique_ptr<ServiceAdvertiser>()> makeAdvertiser;
    std::function<std::unique_ptr<ServiceBrowser>()> makeBrowser;
    // Required: time-outs, sleeps and momentum ticks.
    Clock* clock = nullptr;
    // Host media time (CLOCK_MONOTONIC nanoseconds) for clock synchronisation; empty: the monotonic clock.
    std::function<std::uint64_t()> hostTimeNanoseconds;
    // Required: settings and secrets of the paired-peer store and the TLS identity.
    DefaultsStore* defaults = nullptr;
    SecretStore* secrets = nullptr;
    // The host's display name as the system gives it (trimmed here; "Mac" when empty).
    std::string hostDisplayName;
    HostFormFactor hostFormFactor = HostFormFactor::desktop;
    bool peerToPeerEnabled = false;

    std::shared_ptr<PersonaAVTimingCoordinator> personaAVTimingCoordinator;
    std::shared_ptr<PersonaCameraReceiver> personaCameraReceiver;
    std::shared_ptr<VisionMicrophoneReceiver> microphoneReceiver;

    ConnectionPowerActivity* connectionPowerActivity = nullptr;
    DisplayWaker* displayWaker = nullptr;
    RemoteInputSink* remoteInput = nullptr;
    AudioConverterFactory* audioConverterFactory = nullptr;

    // Clipboard transfers and keyboard reporting: the desktop clipboard for copy and paste, the keyboard for
    // the paste chord and the layout and lock-state reports. Null: the feature does nothing.
    ClipboardTransferService* clipboard = nullptr;
    KeyboardReportingService* keyboardReporting = nullptr;
    // Changes of the host's keyboard layout, observed from startObservingKeyboardLayoutChanges() for the
    // broadcaster's lifetime (it stops the observer when it goes). Null: the layout is reported only when
    // the headset becomes ready, changes its keyboard type or presses Caps Lock.
    KeyboardLayoutChangeObserver* keyboardLayoutChanges = nullptr;

    // Listening address and port (tests use port 0 and loopback).
    std::uint16_t listenPort = 49555;
    std::string bindAddress = "::";
    // How long a connected headset has to report that its receiver is ready.
    Clock::Duration sessionSetupTimeout = std::chrono::seconds(10);
    // How long a closing connection may take to hand its last written bytes to the network.
    Clock::Duration closeFlushLimit = std::chrono::milliseconds(200);

    // Admission: where the pairing code's key derivation (tens of milliseconds), the identity rotation and
    // the peer-store writes run, off the actor. Null runs them in place (tests with a single-threaded
    // context).
    BlockingWorkPool* blockingWork = nullptr;

    // Video. Without a factory no frame is encoded (each captured frame is deferred and the log says so).
    VideoEncoderFactory* videoEncoderFactory = nullptr;
};

}  // namespace quillbridge
