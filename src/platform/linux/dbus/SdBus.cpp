#include "platform/linux/dbus/SdBus.hpp"

namespace quillbridge {

SdBusPointer openSdBus(SdBusKind kind, int* errorNumber) {
    sd_bus* bus = nullptr;
    int result = kind == SdBusKind::system ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
    if (errorNumber != nullptr) {
        *errorNumber = result < 0 ? result : 0;
    }
    if (result < 0) {
        return nullptr;
    }
    return SdBusPointer(bus);
}

}  // namespace quillbridge
