#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/dbus/SdBus.hpp"
#include "platform/linux/thread/WakeableEventThread.hpp"

namespace quillbridge {

// Runs one sd-bus connection on a thread of its own: match and call callbacks run there. Set the connection
// up (calls, matches) before start(); afterwards touch it only from its callbacks and from work post()ed to
// the thread.
class SdBusEventLoop {
public:
    explicit SdBusEventLoop(SdBusPointer bus);
    // Stops the thread.
    ~SdBusEventLoop();
    SdBusEventLoop(const SdBusEventLoop&) = delete;
    SdBusEventLoop& operator=(const SdBusEventLoop&) = delete;

    sd_bus* bus() const { return bus_.get(); }
    // False when the thread cannot be set up.
    bool start();
    // Returns once the thread has ended; no callback runs afterwards. Work still queued is dropped unrun.
    void stop();
    // Whether the thread runs: started, not stopped, and its connection has not failed.
    bool isRunning() const { return running_.load(); }
    // Runs `work` on the thread with the connection (calls made there without waiting, whose replies come to
    // their callbacks). False, with the work dropped, when the thread does not run. Work the thread does not
    // get to before it ends is dropped unrun. Safe from any thread.
    bool post(std::function<void(sd_bus*)> work);

private:
    // One pass on the thread: runs the posted work, dispatches what is pending, else waits. False once the
    // connection has failed.
    bool turn();
    void runPostedWork();
    // Ends taking work and drops what is queued.
    void dropPostedWork();

    SdBusPointer bus_;
    std::atomic<bool> running_{false};
    std::mutex postedMutex_;
    std::deque<std::function<void(sd_bus*)>> posted_;
    WakeableEventThread thread_;
};

// Reads a PropertiesChanged signal: the Boolean's new value when `property` of `interface` is among the
// changed ones; `invalidated` is set when it is only named as invalidated (read it again).
std::optional<bool> readChangedBooleanProperty(sd_bus_message* message, const std::string& interface,
                                               const std::string& property, bool* invalidated);

// The reply to a call made without waiting: the message (a method return or an error, also the time-out's),
// or nothing when the connection went before the reply came.
using SdBusReplyHandler = std::function<void(sd_bus_message* reply)>;

// Sends the method call and returns at once; `replied` runs on the thread that processes the connection,
// once. A negative errno when the call cannot be sent (`replied` then never runs). `timeoutMicroseconds` 0
// takes the connection's method-call time-out.
int callSdBusMethodAsync(sd_bus* bus, sd_bus_message* call, SdBusReplyHandler replied,
                         std::uint64_t timeoutMicroseconds = 0);

}  // namespace quillbridge
