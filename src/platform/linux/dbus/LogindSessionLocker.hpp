#pragma once

#include <string>

namespace quillbridge {

// Locks the user's session through logind (org.freedesktop.login1): the session named by XDG_SESSION_ID,
// else the one this process belongs to. Each call opens its own system-bus connection and waits at most a
// few seconds for the answers.
class LogindSessionLocker {
public:
    // False, with the reason logged, when the session could not be found or asked to lock.
    bool lockSession();
    // The reason of the last failure, empty after a success.
    const std::string& lastError() const { return lastError_; }

private:
    std::string lastError_;
};

}  // namespace quillbridge
