// The camera extension program started where there is neither a PipeWire server nor a session bus: it logs
// why it has no camera and keeps running until it is told to stop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/ScopedEnvironment.hpp"
#include "support/camera_extension/CameraTestChildProcess.hpp"

namespace quillbridge {
namespace {

TEST(CameraExtensionWithoutServicesTest, LogsWhyThereIsNoCameraAndKeepsRunning) {
    char folderTemplate[] = "/tmp/quillbridge-no-services.XXXXXX";
    ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    {
        ScopedEnvironment runtime("XDG_RUNTIME_DIR", folder.c_str());
        ScopedEnvironment pipewire("PIPEWIRE_RUNTIME_DIR", folder.c_str());
        ScopedEnvironment remote("PIPEWIRE_REMOTE", nullptr);
        ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
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
