#include "support/camera_extension/CameraTestChildProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace quillbridge {

CameraTestChildProcess::CameraTestChildProcess(const std::string& program, std::vector<std::string> arguments,
                                               const std::string& logPath)
    : logPath_(logPath) {
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return;
    int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(output[1]);
    ::close(log);
    output_ = output[0];
}

CameraTestChildProcess::~CameraTestChildProcess() {
    if (isRunning())
        stop(SIGKILL);
    if (output_ >= 0)
        ::close(output_);
}

bool CameraTestChildProcess::isRunning() {
    if (pid_ <= 0 || exitStatus_ >= 0)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_)
        return true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

bool CameraTestChildProcess::waitForLine(const std::string& text, int timeoutMilliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    for (;;) {
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (line.find(text) != std::string::npos)
                return true;
        }
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd descriptor{output_, POLLIN, 0};
        if (remaining.count() <= 0 || ::poll(&descriptor, 1, int(remaining.count())) <= 0)
            return false;
        char bytes[256];
        ssize_t count = ::read(output_, bytes, sizeof(bytes));
        if (count <= 0)
            return false;
        pending_.append(bytes, std::size_t(count));
    }
}

int CameraTestChildProcess::stop(int signal, int timeoutMilliseconds) {
    if (pid_ <= 0)
        return -1;
    if (exitStatus_ >= 0)
        return exitStatus_;
    if (!isRunning())
        return exitStatus_;
    ::kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitStatus_;
}

std::string CameraTestChildProcess::log() const {
    std::ifstream file(logPath_);
    return {std::istreambuf_iterator<char>(file), {}};
}

}  // namespace quillbridge
