#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/dbus/SdBusEventLoop.hpp"

namespace quillbridge {

// Locks the user's session through logind (org.freedesktop.login1): the session named by XDG_SESSION_ID,
// else the one this process belongs to. The calls go out on the locker's own system-bus connection, run by
// its bus thread, which is opened on first use and again after the bus went away. The caller waits for the
// answers (at most a few seconds), so call it from a thread that may block, never from an actor's strand.
class LogindSessionLocker {
public:
    // How long logind has to answer each of the two calls.
    static constexpr std::chrono::seconds callTimeout{5};

    LogindSessionLocker() = default;
    ~LogindSessionLocker();
    LogindSessionLocker(const LogindSessionLocker&) = delete;
    LogindSessionLocker& operator=(const LogindSessionLocker&) = delete;

    // False, with the reason logged, when the session could not be found or asked to lock. One call at a
    // time; further callers wait for it.
    bool lockSession();
    // The reason of the last failure, empty after a success.
    std::string lastError();

private:
    // The running bus thread, started on a new connection when there is none; null when the bus cannot
    // be reached (`error` says why).
    SdBusEventLoop* busThread(std::string& error);
    bool fail(std::string reason);

    std::mutex mutex_;
    std::unique_ptr<SdBusEventLoop> loop_;
    std::string lastError_;
};

}  // namespace quillbridge
