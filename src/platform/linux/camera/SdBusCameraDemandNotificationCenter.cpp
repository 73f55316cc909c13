#include "platform/linux/camera/SdBusCameraDemandNotificationCenter.hpp"

#include <cstring>
#include <utility>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

namespace Signal = CameraNotifications;

std::string text(std::string_view value) {
    return std::string(value);
}

}  // namespace

SdBusCameraDemandNotificationCenter::SdBusCameraDemandNotificationCenter() {
    int error = 0;
    SdBusPointer bus = openSdBus(SdBusKind::session, &error);
    if (!bus) {
        logger_.error("Could not connect to the session bus for Persona camera notifications: ",
                      std::strerror(-error));
        return;
    }
    const std::string rule = "type='signal',interface='" + text(Signal::signalInterface) + "',member='" +
                             text(Signal::signalMember) + "'";
    sd_bus_slot* slot = nullptr;
    if (const int result = sd_bus_add_match(bus.get(), &slot, rule.c_str(), &onSignal, this); result < 0) {
        logger_.error("Could not observe Persona camera notifications: ", std::strerror(-result));
        return;
    }
    match_.reset(slot);
    loop_ = std::make_unique<SdBusEventLoop>(std::move(bus));
    if (!loop_->start()) {
        logger_.error("Could not start the session bus thread for Persona camera notifications");
        match_.reset();
        loop_.reset();
    }
}

SdBusCameraDemandNotificationCenter::~SdBusCameraDemandNotificationCenter() {
    if (loop_)
        loop_->stop();
    match_.reset();
    loop_.reset();
}

void SdBusCameraDemandNotificationCenter::post(std::string_view name) {
    if (!loop_)
        return;
    loop_->post([name = text(name)](sd_bus* bus) {
        sd_bus_emit_signal(bus, text(Signal::signalObjectPath).c_str(), text(Signal::signalInterface).c_str(),
                           text(Signal::signalMember).c_str(), "s", name.c_str());
    });
}

void SdBusCameraDemandNotificationCenter::setObserver(Observer observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

int SdBusCameraDemandNotificationCenter::onSignal(sd_bus_message* message, void* data, sd_bus_error*) {
    auto& center = *static_cast<SdBusCameraDemandNotificationCenter*>(data);
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) < 0 || name == nullptr)
        return 0;
    std::lock_guard lock(center.mutex_);
    if (center.observer_)
        center.observer_(name);
    return 0;
}

}  // namespace quillbridge
