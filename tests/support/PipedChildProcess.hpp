// A test's helper program started as a child process, with a pipe to its standard input and one from its
// standard output.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace quillbridge {

struct PipedChild {
    pid_t pid = -1;
    // Its standard input; closing it tells a helper that reads it to quit.
    int toChild = -1;
    // Its standard output.
    int fromChild = -1;
};

// Starts `program` with the arguments. A pid of -1 (and no descriptors) when it cannot be started.
inline PipedChild startPipedChild(const char* program, std::vector<std::string> arguments) {
    PipedChild child;
    int input[2];
    int output[2];
    if (program == nullptr || ::pipe2(input, O_CLOEXEC) != 0) {
        return child;
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return child;
    }
    child.pid = ::fork();
    if (child.pid == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        std::vector<char*> argv{const_cast<char*>(program)};
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        ::execv(program, argv.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    if (child.pid < 0) {
        ::close(input[1]);
        ::close(output[0]);
        return child;
    }
    child.toChild = input[1];
    child.fromChild = output[0];
    return child;
}

}  // namespace quillbridge
