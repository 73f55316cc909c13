#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quillbridge {

// The camera's notifications as the host sees them on the session bus: every one that arrives is kept, in
// order; posting sends one. Used from the test's thread only.
class CameraNotificationListener {
public:
    CameraNotificationListener();
    ~CameraNotificationListener();
    CameraNotificationListener(const CameraNotificationListener&) = delete;
    CameraNotificationListener& operator=(const CameraNotificationListener&) = delete;

    bool isConnected() const { return bus_ != nullptr; }

    void post(std::string_view name);
    // Reads the bus until a notification of that name arrives after the ones already taken, or the time ends.
    // The ones before it are taken too.
    bool waitFor(std::string_view name, std::chrono::milliseconds timeout);
    // Reads the bus for the whole time.
    void listen(std::chrono::milliseconds duration);

    // Every notification received so far, and those not yet taken by waitFor().
    const std::vector<std::string>& received() const { return received_; }
    std::vector<std::string> untaken() const;

private:
    static int onSignal(sd_bus_message* message, void* data, sd_bus_error* error);
    void readFor(std::chrono::milliseconds duration, std::string_view until);

    sd_bus* bus_ = nullptr;
    sd_bus_slot* match_ = nullptr;
    std::vector<std::string> received_;
    std::size_t taken_ = 0;
};

}  // namespace quillbridge
