#pragma once

#include <optional>
#include <string>

#include "platform/linux/dbus/SdBus.hpp"
#include "platform/linux/thread/WakeableEventThread.hpp"

namespace quillbridge {

// Runs one sd-bus connection on a thread of its own: match and call callbacks run there. Set the connection
// up (calls, matches) before start(); afterwards touch it only from its callbacks.
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
    // Returns once the thread has ended; no callback runs afterwards.
    void stop();

private:
    // One pass on the thread: dispatches what is pending, else waits. False once the connection has failed.
    bool turn();

    SdBusPointer bus_;
    WakeableEventThread thread_;
};

// Reads a PropertiesChanged signal: the Boolean's new value when `property` of `interface` is among the
// changed ones; `invalidated` is set when it is only named as invalidated (read it again).
std::optional<bool> readChangedBooleanProperty(sd_bus_message* message, const std::string& interface,
                                               const std::string& property, bool* invalidated);

}  // namespace quillbridge
