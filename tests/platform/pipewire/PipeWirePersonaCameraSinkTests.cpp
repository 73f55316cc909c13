// The feeder on the real PipeWire sink: the camera extension program runs next to a private PipeWire server
// (tests/support/run-desktop-services.sh --pipewire); the test feeds it as the host does and records from its
// source node as an app does.

#include "platform/linux/pipewire/PipeWirePersonaCameraSink.hpp"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <asio/io_context.hpp>

#include "bridge/QueuedPersonaVirtualCameraFeeder.hpp"
#include "bridge/SystemPersonaVirtualCameraController.hpp"
#include "core/BlockingWorkPool.hpp"
#include "core/Logger.hpp"
#include "core/SerialQueue.hpp"
#include "core/SteadyClock.hpp"
#include "platform/linux/camera/PipeWireCameraDeviceRegistry.hpp"
#include "platform/linux/camera/SdBusCameraDemandNotificationCenter.hpp"
#include "support/bridge/FakeCameraExtensionSystem.hpp"
#include "support/camera_extension/CameraNotificationListener.hpp"
#include "support/camera_extension/CameraTestChildProcess.hpp"
#include "support/camera_extension/PipeWireTestCamera.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;
using namespace std::chrono_literals;

std::string runtimeDirectory() {
    const char* directory = std::getenv("XDG_RUNTIME_DIR");
    return directory != nullptr ? directory : "/tmp";
}

// A decoded frame carrying test frame `index` (see CameraTestFrames), due now.
DecodedPersonaCameraFrame testFrame(std::uint64_t index, int width = 1920, int height = 1080) {
    DecodedPersonaCameraFrame frame;
    frame.width = width;
    frame.height = height;
    frame.lumaPlane.assign(std::size_t(width) * height, 0);
    frame.chromaPlane.assign(std::size_t(frame.chromaRowByteCount()) * frame.chromaRowCount(), 0);
    if (width == int(Ids::widthPixels) && height == int(Ids::heightPixels))
        CameraTestFrames::fill(MutableCameraImage{frame.lumaPlane.data(), Ids::lumaRowByteCount,
                                                  frame.chromaPlane.data(), Ids::chromaRowByteCount},
                               index);
    frame.presentationTimeNanoseconds = monotonicNanoseconds();
    frame.durationNanoseconds = 33'333'333;
    return frame;
}

class PipeWirePersonaCameraSinkTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::getenv("QUILLBRIDGE_TEST_PIPEWIRE") == nullptr)
            return;
        listener = new CameraNotificationListener;
        program = new CameraTestChildProcess(QUILLBRIDGE_CAMERA_EXTENSION_PROGRAM, {"--foreground"},
                                             runtimeDirectory() + "/camera-extension.log");
        isReady = listener->waitFor(std::string(CameraNotifications::demandStopped), 30s);
        appSession = new PipeWireTestSession;
    }
    static void TearDownTestSuite() {
        if (program == nullptr)
            return;
        delete appSession;
        program->stop(SIGTERM);
        delete program;
        delete listener;
    }

    void SetUp() override {
        if (program == nullptr)
            GTEST_SKIP() << "needs the PipeWire session of tests/support/run-desktop-services.sh --pipewire";
        ASSERT_TRUE(isReady) << "the camera extension did not set up:\n" << program->log();
        feeder = QueuedPersonaVirtualCameraFeeder::create(queue.executor(), clock,
                                                          std::make_unique<PipeWirePersonaCameraSink>());
    }
    void TearDown() override {
        if (feeder) {
            feeder->setWantsToFeed(false);
            queue.sync([this] { feeder.reset(); });
        }
    }

    bool isConnected() {
        return queue.sync([this] { return feeder->isConnected(); });
    }
    bool waitUntilConnected(std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!isConnected()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    // Gives the frame to the feeder until the app has it: a frame that finds the sink full is dropped.
    bool deliver(TestCameraConsumer& app, std::uint64_t index) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            feeder->submit(testFrame(index));
            if (app.waitForIndex(index, 200ms))
                return true;
        }
        return false;
    }

    static inline CameraNotificationListener* listener = nullptr;
    static inline CameraTestChildProcess* program = nullptr;
    static inline PipeWireTestSession* appSession = nullptr;
    static inline bool isReady = false;

    ScopedLogCapture logs;
    SteadyClock clock;
    SerialQueue queue{"persona-camera-feeder-test"};
    std::shared_ptr<QueuedPersonaVirtualCameraFeeder> feeder;
};

TEST_F(PipeWirePersonaCameraSinkTest, FramesReachAnAppPixelForPixelAndMismatchingOnesDoNot) {
    TestCameraConsumer app(*appSession);
    ASSERT_TRUE(listener->waitFor(std::string(CameraNotifications::demandStarted), 20s)) << program->log();
    feeder->setWantsToFeed(true);
    ASSERT_TRUE(waitUntilConnected(20s)) << program->log();

    // One at a time, each once the previous one arrived: more frames than the sink holds unacknowledged, so
    // the acknowledgements must free its room.
    constexpr std::uint64_t frameCount = 12;
    for (std::uint64_t index = 1; index <= frameCount; ++index)
        ASSERT_TRUE(deliver(app, index)) << "frame " << index << "\n" << program->log();
    for (const auto& frame : app.frames()) {
        if (frame.index >= 1 && frame.index <= frameCount)
            EXPECT_TRUE(frame.intact) << "frame " << frame.index;
    }

    // A frame of another size is dropped, with the reason in the log.
    const std::size_t received = app.frames().size();
    feeder->submit(testFrame(100, 1280, 720));
    EXPECT_FALSE(app.waitForIndex(100, 1s));
    EXPECT_THAT(logs.messages("PersonaCameraFeeder"),
                testing::Contains(
                    "Decoded Persona frame does not match the virtual camera's 1920×1080 420v sink format"));
    EXPECT_TRUE(deliver(app, frameCount + 1));
    EXPECT_GT(app.frames().size(), received);

    // Switched off, the feeder lets go of the sink; nothing it is given reaches the app.
    feeder->setWantsToFeed(false);
    queue.sync([] {});
    EXPECT_FALSE(isConnected());
    feeder->submit(testFrame(200));
    EXPECT_FALSE(app.waitForIndex(200, 1s));
}

// Frames given as the receiver gives them (one per frame interval, whether or not the last one arrived): the
// acknowledgements keep the sink's room open, nothing fails, and the feed is still moving at the end. (Frames
// the sink dropped without a word used to fill the room and stop the feed for good.)
TEST_F(PipeWirePersonaCameraSinkTest, ASteadyFeedKeepsMoving) {
    TestCameraConsumer app(*appSession);
    ASSERT_TRUE(listener->waitFor(std::string(CameraNotifications::demandStarted), 20s)) << program->log();
    feeder->setWantsToFeed(true);
    ASSERT_TRUE(waitUntilConnected(20s)) << program->log();

    constexpr std::uint64_t frameCount = 90;
    auto next = std::chrono::steady_clock::now();
    for (std::uint64_t index = 1; index <= frameCount; ++index) {
        feeder->submit(testFrame(index));
        next += 33ms;
        std::this_thread::sleep_until(next);
    }
    EXPECT_TRUE(deliver(app, frameCount + 1)) << program->log();
    EXPECT_GT(queue.sync([this] { return feeder->nextSequenceNumber(); }), 1u);
    // A frame the camera is slow to acknowledge on a loaded machine may be noted; nothing may fail.
    for (const LogRecord& record : logs.records()) {
        if (record.category == "PersonaCameraFeeder" && record.level >= LogLevel::error)
            ADD_FAILURE() << record.message << "\n" << program->log();
    }
}

TEST_F(PipeWirePersonaCameraSinkTest, TheSinkIsFoundByTheCamerasDeviceUID) {
    PipeWirePersonaCameraSink sink;
    EXPECT_TRUE(sink.findSinkNode(true).has_value());
}

// The host's controller on the session bus and the PipeWire registry: once the camera is there, the demand
// query brings its demand, and an app that starts and stops recording switches the feeder on and off.
TEST_F(PipeWirePersonaCameraSinkTest, TheCamerasDemandSwitchesTheFeederThroughTheController) {
    asio::io_context mainActor;
    BlockingWorkPool pool;
    auto manager = std::make_shared<FakeCameraExtensionManager>();
    auto notifications = std::make_shared<SdBusCameraDemandNotificationCenter>();
    ASSERT_TRUE(notifications->isConnected());
    auto controller = SystemPersonaVirtualCameraController::create(
        {mainActor.get_executor(), &clock, manager, std::make_shared<PipeWireCameraDeviceRegistry>(pool),
         notifications, nullptr});
    std::vector<bool> demands;
    controller->setDemandChangedHandler([&](bool demand) {
        demands.push_back(demand);
        feeder->setWantsToFeed(demand);
    });
    auto runUntil = [&](auto done) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            mainActor.restart();
            mainActor.run_for(20ms);
        }
        return done();
    };

    controller->activateExtension();
    controller->requestDidFinish(manager->last(FakeCameraExtensionManager::Kind::activation),
                                 CameraExtensionActivationResult::completed);
    ASSERT_TRUE(runUntil([&] {
        return !logs.messages("PersonaCameraExtensionActivation").empty() &&
               logs.messages("PersonaCameraExtensionActivation").back() ==
                   "Persona camera CoreMediaIO registration verified";
    })) << testing::PrintToString(logs.messages("PersonaCameraExtensionActivation"));
    EXPECT_TRUE(demands.empty() || demands == std::vector<bool>{false});

    {
        TestCameraConsumer app(*appSession);
        ASSERT_TRUE(runUntil([&] { return !demands.empty() && demands.back(); })) << program->log();
        ASSERT_TRUE(waitUntilConnected(20s));
        EXPECT_TRUE(deliver(app, 300));
    }
    ASSERT_TRUE(runUntil([&] { return !demands.back(); })) << program->log();
    queue.sync([] {});
    EXPECT_FALSE(isConnected());
    controller.reset();
    mainActor.restart();
    mainActor.poll();
}

}  // namespace
}  // namespace quillbridge
