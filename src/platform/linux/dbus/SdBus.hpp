#pragma once

#include <memory>
#include <string>

#include <systemd/sd-bus.h>

namespace quillbridge {

// Owners of sd-bus objects: a bus is flushed and closed, a message and a slot unreferenced.
struct SdBusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using SdBusPointer = std::unique_ptr<sd_bus, SdBusDeleter>;
using SdBusMessagePointer = std::unique_ptr<sd_bus_message, SdBusDeleter>;
using SdBusSlotPointer = std::unique_ptr<sd_bus_slot, SdBusDeleter>;

// A call error that frees itself.
class SdBusError {
public:
    SdBusError() = default;
    ~SdBusError() { sd_bus_error_free(&error_); }
    SdBusError(const SdBusError&) = delete;
    SdBusError& operator=(const SdBusError&) = delete;

    sd_bus_error* get() { return &error_; }
    bool isSet() const { return sd_bus_error_is_set(&error_) != 0; }
    std::string name() const { return error_.name != nullptr ? error_.name : ""; }
    std::string message() const { return error_.message != nullptr ? error_.message : ""; }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

enum class SdBusKind { system, session };

// Opens a new connection of its own to the system or the session bus (honouring DBUS_SYSTEM_BUS_ADDRESS and
// DBUS_SESSION_BUS_ADDRESS). Null, with `errorNumber` set to the negative errno, when it cannot connect.
SdBusPointer openSdBus(SdBusKind kind, int* errorNumber = nullptr);

}  // namespace quillbridge
