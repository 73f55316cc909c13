// The camera extension program as it runs: started once for the suite (quillbridge-camera-extension
// --foreground) next to a private PipeWire server with WirePlumber and a private session bus
// (tests/support/run-desktop-services.sh --pipewire). The tests stand in for the host (a producer stream on
// the sink node, the demand signals on the bus, the acknowledgement socket) and for an app (a consumer stream
// on the source node).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/camera_extension/CameraNotificationListener.hpp"
#include "support/camera_extension/CameraTestChildProcess.hpp"
#include "support/camera_extension/PipeWireTestCamera.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;
using namespace std::chrono_literals;

const std::string started(CameraNotifications::demandStarted);
const std::string stopped(CameraNotifications::demandStopped);

std::string runtimeDirectory() {
    const char* directory = std::getenv("XDG_RUNTIME_DIR");
    return directory != nullptr ? directory : "/tmp";
}

// Everything `command` writes to its standard output.
std::string outputOf(const char* command) {
    std::string output;
    if (FILE* pipe = ::popen(command, "r")) {
        char buffer[4096];
        for (std::size_t count; (count = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
            output.append(buffer, count);
        ::pclose(pipe);
    }
    return output;
}

// The properties of the PipeWire node with that name, from pw-dump; none when there is no such node.
std::optional<nlohmann::json> nodeProperties(std::string_view nodeName) {
    auto objects = nlohmann::json::parse(outputOf("pw-dump"), nullptr, false);
    if (!objects.is_array())
        return std::nullopt;
    for (const auto& object : objects) {
        if (object.value("type", "") != "PipeWire:Interface:Node" || !object.contains("info"))
            continue;
        const auto& properties = object["info"]["props"];
        if (properties.value("node.name", "") == nodeName)
            return properties;
    }
    return std::nullopt;
}

// The host's end of the acknowledgements, bound while it lives.
class AcknowledgementReceiver {
public:
    AcknowledgementReceiver()
        : path_(runtimeDirectory() + "/" + std::string(ScheduledOutputMessage::socketFileName)) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof(address.sun_path) - 1);
        ::unlink(path_.c_str());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~AcknowledgementReceiver() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }

    bool isBound() const { return bound_; }

    std::optional<ScheduledOutputMessage> receive(std::chrono::milliseconds timeout) {
        pollfd descriptor{fd_, POLLIN, 0};
        if (::poll(&descriptor, 1, int(timeout.count())) <= 0)
            return std::nullopt;
        std::uint8_t bytes[64];
        ssize_t count = ::recv(fd_, bytes, sizeof(bytes), 0);
        if (count < 0)
            return std::nullopt;
        return ScheduledOutputMessage::decode(std::span(bytes, std::size_t(count)));
    }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

class CameraExtensionOnPipeWireTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::getenv("QUILLBRIDGE_TEST_PIPEWIRE") == nullptr)
            return;
        listener = new CameraNotificationListener;
        program = new CameraTestChildProcess(QUILLBRIDGE_CAMERA_EXTENSION_PROGRAM, {"--foreground"},
                                             runtimeDirectory() + "/camera-extension.log");
        // The program has set its camera up when it says that nobody uses it.
        isReady = listener->waitFor(stopped, 30s);
        listener->listen(500ms);
        startUpNotifications = new std::vector<std::string>(listener->received());
        // The host and the app are separate PipeWire clients, each with its own thread.
        hostSession = new PipeWireTestSession;
        appSession = new PipeWireTestSession;
    }

    static void TearDownTestSuite() {
        if (program == nullptr)
            return;
        delete appSession;
        delete hostSession;
        const int status = program->stop(SIGTERM);
        if (status != 0)
            ADD_FAILURE() << "the camera extension ended with " << status << " on SIGTERM:\n"
                          << program->log();
        delete program;
        delete listener;
        delete startUpNotifications;
    }

    void SetUp() override {
        if (program == nullptr)
            GTEST_SKIP() << "needs the PipeWire session of tests/support/run-desktop-services.sh --pipewire";
        ASSERT_TRUE(isReady) << "the camera extension did not set up:\n" << program->log();
        ASSERT_TRUE(hostSession->isConnected() && appSession->isConnected());
    }

    // Sends frames first, first + 1, ... one at a time, each once the previous one has arrived where
    // `arrived(count)` looks (a producer with no free buffer tries again); their presentation times by index.
    // The machine may be busy: what is checked is where frames go and what they hold, not how fast.
    static std::map<std::uint64_t, std::int64_t> sendFramesOneByOne(
        TestCameraProducer& producer, std::uint64_t first, std::size_t count,
        const std::function<bool(std::size_t)>& arrived) {
        std::map<std::uint64_t, std::int64_t> sent;
        for (std::uint64_t index = first; index < first + count; ++index) {
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            std::int64_t presentationTime = monotonicNanoseconds();
            bool isSent = false;
            while (!(isSent = producer.send(index, presentationTime)) &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(5ms);
                presentationTime = monotonicNanoseconds();
            }
            if (!isSent) {
                ADD_FAILURE() << "the producer had no free buffer for frame " << index;
                break;
            }
            sent[index] = presentationTime;
            if (!arrived(sent.size()))
                break;
        }
        return sent;
    }

    // Waits until the program's log holds the line.
    static bool waitForLogLine(const std::string& line, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (program->log().find(line) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    static inline CameraNotificationListener* listener = nullptr;
    static inline CameraTestChildProcess* program = nullptr;
    static inline PipeWireTestSession* hostSession = nullptr;
    static inline PipeWireTestSession* appSession = nullptr;
    static inline std::vector<std::string>* startUpNotifications = nullptr;
    static inline bool isReady = false;
};

TEST_F(CameraExtensionOnPipeWireTest, PostsDemandStoppedOnceWhenSetUp) {
    EXPECT_THAT(*startUpNotifications, testing::ElementsAre(stopped));
}

TEST_F(CameraExtensionOnPipeWireTest, PublishesBothNodesWithTheirNamesAndProperties) {
    struct Expected {
        std::string_view nodeName;
        std::map<std::string, std::string> properties;
    };
    const std::string deviceUIDKey(Ids::deviceUIDPropertyKey);
    const std::string streamUIDKey(Ids::streamUIDPropertyKey);
    const Expected nodes[] = {
        {Ids::sourceNodeName,
         {{"media.class", "Video/Source"},
          {"media.role", "Camera"},
          {"node.description", "Quillbridge Persona Camera"},
          {"device.vendor.name", "Moss Harbor"},
          {"device.product.name", "Quillbridge Persona Camera"},
          {deviceUIDKey, "F750DA4B-6FE3-4BCA-8B21-E15AF04E7990"},
          {streamUIDKey, "54E11DA8-1586-48FF-8E0A-6C94B1ED9132"}}},
        {Ids::sinkNodeName,
         {{"media.class", "Video/Sink"},
          {"node.description", "Quillbridge Persona Camera Input"},
          {"device.vendor.name", "Moss Harbor"},
          {deviceUIDKey, "F750DA4B-6FE3-4BCA-8B21-E15AF04E7990"},
          {streamUIDKey, "57DDA15A-C264-429C-B22B-9047ED4755D8"}}},
    };
    for (const auto& node : nodes) {
        auto properties = nodeProperties(node.nodeName);
        ASSERT_TRUE(properties) << node.nodeName;
        for (const auto& [key, value] : node.properties)
            EXPECT_EQ(properties->value(key, ""), value) << node.nodeName << " " << key;
    }
}

TEST_F(CameraExtensionOnPipeWireTest, DemandFollowsAnAppRecordingFromTheCamera) {
    auto app = std::make_unique<TestCameraConsumer>(*appSession);
    ASSERT_TRUE(listener->waitFor(started, 20s)) << program->log();
    listener->post(CameraNotifications::demandQuery);
    EXPECT_TRUE(listener->waitFor(started, 10s));

    app.reset();
    ASSERT_TRUE(listener->waitFor(stopped, 20s)) << program->log();
    listener->post(CameraNotifications::demandQuery);
    EXPECT_TRUE(listener->waitFor(stopped, 10s));
    EXPECT_THAT(listener->untaken(), testing::IsEmpty());
}

TEST_F(CameraExtensionOnPipeWireTest, FramesFromTheHostReachTheAppPixelForPixel) {
    TestCameraConsumer app(*appSession);
    ASSERT_TRUE(listener->waitFor(started, 20s)) << program->log();
    TestCameraProducer host(*hostSession);
    ASSERT_TRUE(host.waitUntilStreaming(20s)) << program->log();

    auto sent =
        sendFramesOneByOne(host, 1, 30, [&](std::size_t count) { return app.waitForIndex(count, 10s); });

    auto frames = app.frames();
    ASSERT_EQ(frames.size(), 30u) << program->log();
    for (const auto& frame : frames) {
        EXPECT_TRUE(frame.intact) << "frame " << frame.index;
        ASSERT_TRUE(sent.contains(frame.index)) << frame.index;
        EXPECT_EQ(frame.presentationTimeNanoseconds, sent[frame.index]);
    }
    EXPECT_EQ(frames.front().index, 1u);
    EXPECT_EQ(frames.back().index, 30u);
    EXPECT_TRUE(waitForLogLine("Sent first Persona buffer to camera source clients", 5s)) << program->log();
}

TEST_F(CameraExtensionOnPipeWireTest, EveryConsumedBufferIsAcknowledgedEvenWithNoAppRecording) {
    AcknowledgementReceiver acknowledgements;
    ASSERT_TRUE(acknowledgements.isBound());
    TestCameraProducer host(*hostSession);
    ASSERT_TRUE(host.waitUntilStreaming(20s)) << program->log();

    std::vector<ScheduledOutputMessage> received;
    auto sent = sendFramesOneByOne(host, 1'000, 20, [&](std::size_t) {
        auto message = acknowledgements.receive(10s);
        if (message)
            received.push_back(*message);
        return message.has_value();
    });

    std::vector<std::uint64_t> acknowledged;
    std::vector<std::uint64_t> expected;
    for (const auto& [index, presentationTime] : sent) {
        expected.push_back(index);
        // Delivered after it was sent, before now.
        auto message = std::find_if(received.begin(), received.end(),
                                    [&](const auto& message) { return message.sequenceNumber == index; });
        if (message != received.end()) {
            EXPECT_GE(std::int64_t(message->hostTimeNanoseconds), presentationTime);
            EXPECT_LE(std::int64_t(message->hostTimeNanoseconds), monotonicNanoseconds());
        }
    }
    for (const auto& message : received)
        acknowledged.push_back(message.sequenceNumber);
    EXPECT_EQ(acknowledged, expected) << program->log();
    EXPECT_TRUE(waitForLogLine("Acknowledged first Persona scheduled output", 5s)) << program->log();
}

TEST_F(CameraExtensionOnPipeWireTest, KillingTheHostsProducerLeavesTheCameraServing) {
    TestCameraConsumer app(*appSession);
    ASSERT_TRUE(listener->waitFor(started, 20s)) << program->log();
    {
        CameraTestChildProcess producer(QUILLBRIDGE_CAMERA_TEST_PRODUCER, {"5000"},
                                        runtimeDirectory() + "/camera-producer.log");
        ASSERT_TRUE(producer.waitForLine("streaming", 20'000)) << producer.log();
        ASSERT_TRUE(app.waitForFrames(10, 10s));
        EXPECT_EQ(producer.stop(SIGKILL), 128 + SIGKILL);
    }
    ASSERT_TRUE(waitForLogLine("Persona camera sink stream stopped", 10s)) << program->log();
    ASSERT_TRUE(program->isRunning());

    // A new host feeds the camera again: its frames reach the app (the graph may lose one while it settles).
    TestCameraProducer host(*hostSession);
    ASSERT_TRUE(host.waitUntilStreaming(20s)) << program->log();
    auto fromNewHost = [&] {
        auto frames = app.frames();
        return std::count_if(frames.begin(), frames.end(),
                             [](const auto& frame) { return frame.index >= 9'000; });
    };
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (std::uint64_t index = 9'000; fromNewHost() < 10 && std::chrono::steady_clock::now() < deadline;
         ++index) {
        host.send(index, monotonicNanoseconds());
        std::this_thread::sleep_for(33ms);
    }

    EXPECT_GE(fromNewHost(), 10) << program->log();
    for (const auto& frame : app.frames())
        EXPECT_TRUE(frame.intact) << "frame " << frame.index;
    EXPECT_TRUE(program->isRunning());
}

}  // namespace
}  // namespace quillbridge
