// What the tests of the microphone under a real PipeWire session share: child processes with their output in
// a file (the microphone program, pw-record), the PipeWire command-line tools' answers and the recordings.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace quillbridge {

// A child process with its output in a file; stopped (SIGTERM, then SIGKILL) when destroyed.
class LoggedChildProcess {
public:
    LoggedChildProcess(std::vector<std::string> arguments, const std::string& outputPath) {
        pid_ = ::fork();
        if (pid_ == 0) {
            std::FILE* output = std::fopen(outputPath.c_str(), "w");
            if (output != nullptr) {
                ::dup2(::fileno(output), STDOUT_FILENO);
                ::dup2(::fileno(output), STDERR_FILENO);
            }
            std::vector<char*> argv;
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~LoggedChildProcess() { stop(SIGTERM); }
    LoggedChildProcess(const LoggedChildProcess&) = delete;
    LoggedChildProcess& operator=(const LoggedChildProcess&) = delete;

    // Sends the signal and waits for the exit; the exit status (-1 if it had to be killed).
    int stop(int signal) {
        if (pid_ <= 0) {
            return status_;
        }
        ::kill(pid_, signal);
        int status = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return status_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status_ = -1;
    }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// What a shell command writes to its standard output.
inline std::string commandOutput(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        while (std::size_t read = std::fread(chunk, 1, sizeof(chunk), pipe)) {
            output.append(chunk, read);
        }
        ::pclose(pipe);
    }
    return output;
}

// Whether PipeWire shows the microphone's node.
inline bool microphoneNodeExists() {
    return commandOutput("pw-cli ls Node 2>/dev/null").find("node.name = \"quillbridge-microphone\"") !=
           std::string::npos;
}

// The samples of a 32-bit float WAV file (plain or extensible format), mono.
inline std::vector<float> readFloatWav(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto u32 = [&bytes](std::size_t at) {
        std::uint32_t value = 0;
        std::memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    std::vector<float> samples;
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) {
        return samples;
    }
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        std::uint32_t size = u32(at + 4);
        if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            std::size_t count = std::min<std::size_t>(size, bytes.size() - at - 8) / 4;
            samples.resize(count);
            std::memcpy(samples.data(), bytes.data() + at + 8, count * 4);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return samples;
}

}  // namespace quillbridge
