#include "platform/linux/dbus/UPowerLidStateObserver.hpp"

#include <cstring>

#include <asio/post.hpp>

namespace quillbridge {
namespace {

constexpr const char* upowerName = "org.freedesktop.UPower";
constexpr const char* upowerPath = "/org/freedesktop/UPower";
constexpr const char* upowerInterface = "org.freedesktop.UPower";

}  // namespace

UPowerLidStateObserver::~UPowerLidStateObserver() {
    stop();
}

std::optional<bool> UPowerLidStateObserver::readLidIsClosed(sd_bus* bus) {
    SdBusError error;
    int closed = 0;
    if (sd_bus_get_property_trivial(bus, upowerName, upowerPath, upowerInterface, "LidIsClosed", error.get(),
                                    'b', &closed) < 0) {
        return std::nullopt;
    }
    return closed != 0;
}

bool UPowerLidStateObserver::isLidClosed() {
    if (alive_->load()) {
        return lidClosed_.load();
    }
    SdBusPointer bus = openSdBus(SdBusKind::system);
    return bus && readLidIsClosed(bus.get()).value_or(false);
}

bool UPowerLidStateObserver::start(std::function<void()> lidStateChanged) {
    if (loop_) {
        return false;
    }
    int errorNumber = 0;
    SdBusPointer bus = openSdBus(SdBusKind::system, &errorNumber);
    if (!bus) {
        logger_.error("Unable to monitor clamshell state");
        return false;
    }
    loop_ = std::make_unique<SdBusEventLoop>(std::move(bus));
    sd_bus_slot* slot = nullptr;
    int result =
        sd_bus_match_signal(loop_->bus(), &slot, upowerName, upowerPath, "org.freedesktop.DBus.Properties",
                            "PropertiesChanged", propertiesChanged, this);
    if (result < 0) {
        logger_.error("Unable to register for clamshell state changes: ", result);
        loop_.reset();
        return false;
    }
    slot_.reset(slot);
    lidClosed_ = readLidIsClosed(loop_->bus()).value_or(false);
    handler_ = std::make_shared<std::function<void()>>(std::move(lidStateChanged));
    alive_->store(true);
    if (!loop_->start()) {
        stop();
        return false;
    }
    return true;
}

void UPowerLidStateObserver::stop() {
    alive_->store(false);
    if (loop_) {
        loop_->stop();
    }
    slot_.reset();
    loop_.reset();
}

int UPowerLidStateObserver::propertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<UPowerLidStateObserver*>(userdata);
    bool invalidated = false;
    std::optional<bool> closed =
        readChangedBooleanProperty(message, upowerInterface, "LidIsClosed", &invalidated);
    if (!closed && invalidated) {
        closed = readLidIsClosed(self->loop_->bus()).value_or(false);
    }
    if (!closed || *closed == self->lidClosed_.load()) {
        return 0;
    }
    self->lidClosed_ = *closed;
    asio::post(self->executor_, [alive = self->alive_, handler = self->handler_] {
        if (alive->load()) {
            (*handler)();
        }
    });
    return 0;
}

}  // namespace quillbridge
