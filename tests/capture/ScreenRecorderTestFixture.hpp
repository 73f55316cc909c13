#pragma once

#include <chrono>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "capture/ScreenRecorder.hpp"
#include "core/ManualClock.hpp"
#include "support/FakeAudioOutputMuteControls.hpp"
#include "support/FakeCaptureStream.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeDisplayProvider.hpp"
#include "support/FakeHostObservers.hpp"
#include "support/FakeScreenRecorderSession.hpp"
#include "support/bridge/FakeVirtualDevices.hpp"
#include "support/bridge/RecordingBridgeReceivers.hpp"

namespace quillbridge {

inline CaptureDisplay makeTestDisplay(std::uint32_t id, int width = 1920, int height = 1080) {
    CaptureDisplay display;
    display.displayID = id;
    display.connectorName = "HDMI-" + std::to_string(id);
    display.frame = CaptureRect{0, 0, static_cast<double>(width), static_cast<double>(height)};
    display.pointSize = CaptureSize{static_cast<double>(width), static_cast<double>(height)};
    display.pixelWidth = width;
    display.pixelHeight = height;
    display.modeRefreshRate = 60;
    return display;
}

// A recorder on a single-threaded main actor with fakes all around and a manual clock. Work is run with
// run(), which also waits (with a generous bound) for the mute queue's thread to hand results back.
class ScreenRecorderTest : public ::testing::Test {
protected:
    ScreenRecorderTest() {
        displays->displays = {makeTestDisplay(1), makeTestDisplay(2, 2560, 1440)};
        audio->outputs = {"speakers", "headphones"};
        audio->controls["speakers"] = {};
        audio->controls["headphones"] = {};
    }

    ~ScreenRecorderTest() override {
        session->updates().finish();
        session->configurations().finish();
        session->pairingPrompts().finish();
        session->personaCameraSharingStates().finish();
        session->microphoneSharingStates().finish();
        settle();
        recorder.reset();
        settle();
    }

    void makeRecorder() {
        muteController =
            std::make_shared<SystemAudioMuteController>(std::make_unique<FakeAudioOutputMuteControls>(audio));
        recorder = ScreenRecorder::create(ScreenRecorderDependencies{
            .mainActor = context.get_executor(),
            .drainExecutor = context.get_executor(),
            .clock = clock,
            .defaults = defaults,
            .session = session,
            .captureStreamFactory = factory,
            .displayProvider = displays,
            .permissionProbe = probe,
            .powerEvents = power,
            .lidState = lid,
            .displayConfiguration = displayConfiguration,
            .muteController = muteController,
            .blockingWork = blockingWork,
            .timingCoordinator = timing,
            .cameraController = cameraController,
            .cameraFeeder = cameraFeeder,
            .microphoneDevice = microphone,
        });
        recorder->addPropertyObserver([this](ScreenRecorderProperty property) { ++changes[property]; });
        settle();
    }

    // Runs what is ready on the main actor.
    void settle() {
        context.restart();
        context.poll();
    }

    // Runs the operation to its end on the main actor.
    void run(asio::awaitable<void> operation) {
        bool finished = false;
        std::exception_ptr failure;
        asio::co_spawn(context, std::move(operation), [&](std::exception_ptr error) {
            finished = true;
            failure = error;
        });
        waitFor([&] { return finished; });
        ASSERT_TRUE(finished) << "the operation did not finish";
        if (failure) {
            std::rethrow_exception(failure);
        }
        settle();
    }

    // Starts the operation and runs what is ready, without waiting for its end.
    void spawn(asio::awaitable<void> operation) {
        asio::co_spawn(context, std::move(operation), asio::detached);
        settle();
    }

    template <class Condition>
    void waitFor(Condition condition) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition() && std::chrono::steady_clock::now() < limit) {
            context.restart();
            context.run_for(std::chrono::milliseconds(5));
        }
    }

    // The session reports a state, handled to its end (the stream path is covered on its own).
    void report(ScreenRecorderSession::State state) { run(recorder->handleSessionState(std::move(state))); }

    void configure(StreamConfigurationMessage message) { run(recorder->applyStreamConfiguration(message)); }

    // Grants everything and brings the host services up, as the launch sequence does.
    void startServices() {
        recorder->setLocalNetworkPermissionChecksEnabled(true);
        run(recorder->resolveLocalNetworkPermission());
    }

    void connectHeadset() {
        session->connected = true;
        report(ScreenRecorderSession::State::connected("Headset"));
    }

    std::shared_ptr<FakeCaptureStream> lastStream() const {
        return factory->streams.empty() ? nullptr : factory->streams.back();
    }

    int changeCount(ScreenRecorderProperty property) const {
        auto found = changes.find(property);
        return found == changes.end() ? 0 : found->second;
    }

    asio::io_context context;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeDefaultsStore> defaults = std::make_shared<FakeDefaultsStore>();
    std::shared_ptr<FakeScreenRecorderSession> session = std::make_shared<FakeScreenRecorderSession>();
    std::shared_ptr<FakeCaptureStreamFactory> factory = std::make_shared<FakeCaptureStreamFactory>();
    std::shared_ptr<FakeDisplayProvider> displays = std::make_shared<FakeDisplayProvider>();
    std::shared_ptr<FakeMandatoryPermissionProbe> probe = std::make_shared<FakeMandatoryPermissionProbe>();
    std::shared_ptr<FakeHostPowerEventSource> power = std::make_shared<FakeHostPowerEventSource>();
    std::shared_ptr<FakeLidStateObserver> lid = std::make_shared<FakeLidStateObserver>();
    std::shared_ptr<FakeDisplayConfigurationObserver> displayConfiguration =
        std::make_shared<FakeDisplayConfigurationObserver>();
    std::shared_ptr<FakeAudioOutputMuteControls::State> audio =
        std::make_shared<FakeAudioOutputMuteControls::State>();
    std::shared_ptr<SystemAudioMuteController> muteController;
    // Where the recorder writes its settings; null: in place.
    BlockingWorkPool* blockingWork = nullptr;
    std::shared_ptr<RecordingPersonaAVTimingCoordinator> timing =
        std::make_shared<RecordingPersonaAVTimingCoordinator>();
    std::shared_ptr<FakePersonaVirtualCameraController> cameraController =
        std::make_shared<FakePersonaVirtualCameraController>();
    std::shared_ptr<FakePersonaVirtualCameraFeeder> cameraFeeder =
        std::make_shared<FakePersonaVirtualCameraFeeder>();
    std::shared_ptr<FakeVirtualMicrophoneDevice> microphone = std::make_shared<FakeVirtualMicrophoneDevice>();
    std::shared_ptr<ScreenRecorder> recorder;
    std::map<ScreenRecorderProperty, int> changes;
};

}  // namespace quillbridge
