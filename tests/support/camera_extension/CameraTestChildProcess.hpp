#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quillbridge {

// A program of the camera tests run as a child process (the camera extension, a producer), its standard error
// going to a file and its standard output to a pipe the test may read. Killed with SIGKILL when still running
// at destruction.
class CameraTestChildProcess {
public:
    CameraTestChildProcess(const std::string& program, std::vector<std::string> arguments,
                           const std::string& logPath);
    ~CameraTestChildProcess();
    CameraTestChildProcess(const CameraTestChildProcess&) = delete;
    CameraTestChildProcess& operator=(const CameraTestChildProcess&) = delete;

    bool isStarted() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Whether it has not ended (an ended child is reaped here).
    bool isRunning();
    // Reads standard output until a line with the text arrives; false at end of output or after the time.
    bool waitForLine(const std::string& text, int timeoutMilliseconds);
    // Sends the signal and waits for the exit; the exit status (128 + signal when killed by one), -1 when the
    // process did not end within the time.
    int stop(int signal, int timeoutMilliseconds = 10'000);
    // Everything written to standard error so far.
    std::string log() const;

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string logPath_;
    std::string pending_;
    int exitStatus_ = -1;
};

}  // namespace quillbridge
