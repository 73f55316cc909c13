// The camera extension program started where there is neither a PipeWire server nor a session bus: it logs
// why it has no camera and keeps running until it is told to stop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "support/camera_extension/CameraTestChildProcess.hpp"

namespace quillbridge {
namespace {

// Sets an environment variable (or unsets it) for the test's lifetime.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* previous = ::getenv(name))
            previous_ = previous;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        if (previous_)
            ::setenv(name_, previous_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

TEST(CameraExtensionWithoutServicesTest, LogsWhyThereIsNoCameraAndKeepsRunning) {
    char folderTemplate[] = "/tmp/quillbridge-no-services.XXXXXX";
    ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    {
        ScopedEnvironment runtime("XDG_RUNTIME_DIR", folder);
        ScopedEnvironment pipewire("PIPEWIRE_RUNTIME_DIR", folder);
        ScopedEnvironment remote("PIPEWIRE_REMOTE", std::nullopt);
        ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        CameraTestChildProcess program(QUILLBRIDGE_CAMERA_EXTENSION_PROGRAM, {"--foreground"},
                                       folder + "/log");
        ASSERT_TRUE(program.isStarted());

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (program.log().find("Could not add the Persona camera streams") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));

        EXPECT_TRUE(program.isRunning());
        EXPECT_EQ(program.stop(SIGTERM), 0);
        EXPECT_THAT(program.log(), testing::HasSubstr("error: Could not connect to the session bus: "));
        EXPECT_THAT(program.log(),
                    testing::HasSubstr("error: Could not add the Persona camera streams: Could "
                                       "not connect to PipeWire: "));
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quillbridge
