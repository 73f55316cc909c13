// Activating the camera program on a private session bus (tests/support/run-desktop-services.sh
// --session-bus): first with no user manager there (the program runs as a child of the host), then against
// python3-dbusmock's systemd template.

#include "platform/linux/camera/SystemdCameraExtensionManager.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <asio/io_context.hpp>

#include "support/camera_extension/CameraTestChildProcess.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

class RecordingDelegate final : public CameraExtensionRequestDelegate {
public:
    CameraExtensionReplacementAction actionForReplacingExtension(CameraExtensionRequestID,
                                                                 const CameraExtensionProperties&,
                                                                 const CameraExtensionProperties&) override {
        ++replacementQuestions;
        return CameraExtensionReplacementAction::replace;
    }
    void requestNeedsUserApproval(CameraExtensionRequestID) override { ++approvals; }
    void requestFoundProperties(CameraExtensionRequestID id,
                                const std::vector<CameraExtensionProperties>& found) override {
        answeredID = id;
        properties = found;
    }
    void requestDidFinish(CameraExtensionRequestID id, CameraExtensionActivationResult result) override {
        answeredID = id;
        finished = result;
    }
    void requestDidFail(CameraExtensionRequestID id, const CameraExtensionRequestError& error) override {
        answeredID = id;
        failure = error;
    }

    int replacementQuestions = 0;
    int approvals = 0;
    std::optional<CameraExtensionRequestID> answeredID;
    std::optional<std::vector<CameraExtensionProperties>> properties;
    std::optional<CameraExtensionActivationResult> finished;
    std::optional<CameraExtensionRequestError> failure;
};

std::string outputOf(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t count; (count = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
            output.append(buffer, count);
        ::pclose(pipe);
    }
    return output;
}

std::string gdbusMock(const std::string& method, const std::string& arguments) {
    return outputOf(
        "gdbus call --session --dest org.freedesktop.systemd1 --object-path /org/freedesktop/systemd1 "
        "--method org.freedesktop.DBus.Mock." +
        method + " " + arguments + " 2>&1");
}

template <class Predicate>
bool waitUntil(std::chrono::milliseconds timeout, Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class SystemdCameraExtensionManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_CAMERA_ACTIVATION") == nullptr)
            GTEST_SKIP()
                << "needs the private session bus of tests/support/run-desktop-services.sh --session-bus";
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        directory = std::string(runtime != nullptr ? runtime : "/tmp");
    }

    // Runs the main actor until the delegate has its answer.
    bool awaitAnswer(RecordingDelegate& delegate, CameraExtensionRequestID id) {
        return waitUntil(20s, [&] {
            context.restart();
            context.poll();
            return delegate.answeredID == id;
        });
    }

    asio::io_context context;
    std::string directory;
};

TEST_F(SystemdCameraExtensionManagerTest, WithoutAUserManagerTheProgramRunsAsAChildAndIsRestarted) {
    // A stand-in for the program: it notes its process id and waits.
    const std::string pids = directory + "/camera-child-pids";
    const std::string program = directory + "/camera-child.sh";
    std::remove(pids.c_str());
    {
        std::ofstream script(program);
        script << "#!/bin/sh\necho $$ >> " << pids << "\nexec sleep 600\n";
    }
    ASSERT_EQ(::chmod(program.c_str(), 0700), 0);
    auto readPids = [&] {
        std::ifstream file(pids);
        std::vector<pid_t> found;
        for (pid_t pid; file >> pid;)
            found.push_back(pid);
        return found;
    };

    pid_t child = -1;
    {
        auto delegate = std::make_shared<RecordingDelegate>();
        SystemdCameraExtensionManager manager(context.get_executor(), program);
        const auto id = manager.submitActivationRequest(delegate);
        ASSERT_TRUE(awaitAnswer(*delegate, id));
        EXPECT_EQ(delegate->finished, CameraExtensionActivationResult::completed)
            << (delegate->failure ? delegate->failure->description : "");
        ASSERT_TRUE(waitUntil(10s, [&] { return readPids().size() == 1; }));

        const auto propertiesID = manager.submitPropertiesRequest(delegate);
        ASSERT_TRUE(awaitAnswer(*delegate, propertiesID));
        ASSERT_TRUE(delegate->properties);
        ASSERT_EQ(delegate->properties->size(), 1u);
        EXPECT_TRUE(delegate->properties->front().isEnabled);

        // A second activation starts no second child.
        const auto again = manager.submitActivationRequest(delegate);
        ASSERT_TRUE(awaitAnswer(*delegate, again));

        // The program ends: it is started again.
        ASSERT_EQ(::kill(readPids().front(), SIGKILL), 0);
        ASSERT_TRUE(waitUntil(10s, [&] { return readPids().size() == 2; }));
        child = readPids().back();
        ASSERT_TRUE(waitUntil(5s, [&] { return manager.childProcessID() == child; }));
        EXPECT_EQ(delegate->replacementQuestions + delegate->approvals, 0);
    }
    // The manager went: so did its child, which is not started again.
    EXPECT_NE(::kill(child, 0), 0);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(readPids().size(), 2u);
}

TEST_F(SystemdCameraExtensionManagerTest, TheUserManagerEnablesAndStartsTheUnit) {
    CameraTestChildProcess mock("/usr/bin/python3", {"-m", "dbusmock", "--session", "--template", "systemd"},
                                directory + "/systemd-mock.log");
    ASSERT_TRUE(waitUntil(20s, [] {
        return outputOf(
                   "gdbus introspect --session --dest org.freedesktop.systemd1 --object-path "
                   "/org/freedesktop/systemd1 2>/dev/null")
                   .find("StartUnit") != std::string::npos;
    })) << mock.log();
    const std::string unit(CameraDeviceIdentifiers::extensionUserUnitName);
    gdbusMock("AddMockUnit", "'" + unit + "'");
    gdbusMock("AddMethod",
              "org.freedesktop.systemd1.Manager EnableUnitFiles asbb 'ba(sss)' 'ret = (True, [])'");
    gdbusMock("AddMethod", "org.freedesktop.systemd1.Manager Reload '' '' ''");
    gdbusMock("AddMethod", "org.freedesktop.systemd1.Manager GetUnitFileState s s 'ret = \"enabled\"'");

    auto delegate = std::make_shared<RecordingDelegate>();
    SystemdCameraExtensionManager manager(context.get_executor(), "/nonexistent/program");
    const auto id = manager.submitActivationRequest(delegate);
    ASSERT_TRUE(awaitAnswer(*delegate, id));
    EXPECT_EQ(delegate->finished, CameraExtensionActivationResult::completed);
    EXPECT_FALSE(delegate->failure);
    EXPECT_FALSE(manager.isRunningChild());

    const std::string calls = gdbusMock("GetCalls", "");
    EXPECT_THAT(calls, HasSubstr("EnableUnitFiles"));
    EXPECT_THAT(calls, HasSubstr("'" + unit + "'"));
    EXPECT_THAT(calls, HasSubstr("'StartUnit', [<'" + unit + "'>, <'replace'>]"));

    const auto propertiesID = manager.submitPropertiesRequest(delegate);
    ASSERT_TRUE(awaitAnswer(*delegate, propertiesID));
    ASSERT_TRUE(delegate->properties);
    ASSERT_EQ(delegate->properties->size(), 1u);
    EXPECT_TRUE(delegate->properties->front().isEnabled);

    // A failure of the manager is reported with its text.
    gdbusMock("AddMethod",
              "org.freedesktop.systemd1.Manager StartUnit ss o "
              "'raise dbus.exceptions.DBusException(\"Unit is masked.\", "
              "name=\"org.freedesktop.systemd1.UnitMasked\")'");
    const auto failing = manager.submitActivationRequest(delegate);
    ASSERT_TRUE(awaitAnswer(*delegate, failing));
    ASSERT_TRUE(delegate->failure);
    EXPECT_THAT(delegate->failure->description, HasSubstr("Unit is masked."));
    EXPECT_FALSE(delegate->failure->isSystemExtensionDomain);

    mock.stop(SIGTERM);
}

}  // namespace
}  // namespace quillbridge
