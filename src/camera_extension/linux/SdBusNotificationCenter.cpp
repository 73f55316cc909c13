#include "camera_extension/linux/SdBusNotificationCenter.hpp"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>

#include "camera_extension/linux/PipeWireLoopTimer.hpp"

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

std::string text(std::string_view view) {
    return std::string(view);
}

}  // namespace

SdBusNotificationCenter::SdBusNotificationCenter(pw_loop& loop, CameraExtensionLogger logger)
    : loop_(loop), logger_(std::move(logger)) {
    if (int result = sd_bus_open_user(&bus_); result < 0) {
        bus_ = nullptr;
        connectionFailure_ = std::strerror(-result);
        return;
    }
    io_ = pw_loop_add_io(&loop_, sd_bus_get_fd(bus_), 0, false, &SdBusNotificationCenter::onReadyToProcess,
                         this);
    timer_ = pw_loop_add_timer(&loop_, &SdBusNotificationCenter::onTimeout, this);
    updateWatch();
}

SdBusNotificationCenter::~SdBusNotificationCenter() {
    close();
}

void SdBusNotificationCenter::post(std::string_view name) {
    if (bus_ == nullptr)
        return;
    namespace Signal = CameraNotifications;
    int result = sd_bus_emit_signal(bus_, text(Signal::signalObjectPath).c_str(),
                                    text(Signal::signalInterface).c_str(), text(Signal::signalMember).c_str(),
                                    "s", text(name).c_str());
    if (result < 0) {
        fail("sd_bus_emit_signal", result);
        return;
    }
    updateWatch();
}

void SdBusNotificationCenter::observe(std::string_view name, std::function<void()> handler) {
    removeObserver(name);
    if (bus_ == nullptr)
        return;
    namespace Signal = CameraNotifications;
    const std::string rule = "type='signal',interface='" + text(Signal::signalInterface) + "',member='" +
                             text(Signal::signalMember) + "',arg0='" + text(name) + "'";
    auto [entry, inserted] = observers_.emplace(std::string(name), Observer{std::move(handler)});
    // Added at once (at start-up, before anything is posted), so that no query sent after it is missed.
    int result =
        sd_bus_add_match(bus_, &entry->second.match, rule.c_str(), &SdBusNotificationCenter::onSignal, this);
    if (result < 0) {
        observers_.erase(entry);
        fail("sd_bus_add_match", result);
        return;
    }
    updateWatch();
}

void SdBusNotificationCenter::removeObserver(std::string_view name) {
    auto entry = observers_.find(name);
    if (entry == observers_.end())
        return;
    sd_bus_slot_unref(entry->second.match);
    observers_.erase(entry);
}

int SdBusNotificationCenter::onSignal(sd_bus_message* message, void* data, sd_bus_error*) {
    auto& center = *static_cast<SdBusNotificationCenter*>(data);
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) < 0 || name == nullptr)
        return 0;
    auto entry = center.observers_.find(std::string_view(name));
    if (entry != center.observers_.end() && entry->second.handler)
        entry->second.handler();
    return 0;
}

void SdBusNotificationCenter::onReadyToProcess(void* data, int, std::uint32_t) {
    static_cast<SdBusNotificationCenter*>(data)->process();
}

void SdBusNotificationCenter::onTimeout(void* data, std::uint64_t) {
    static_cast<SdBusNotificationCenter*>(data)->process();
}

void SdBusNotificationCenter::process() {
    if (bus_ == nullptr)
        return;
    for (;;) {
        int result = sd_bus_process(bus_, nullptr);
        if (result < 0) {
            fail("sd_bus_process", result);
            return;
        }
        if (result == 0)
            break;
    }
    updateWatch();
}

void SdBusNotificationCenter::updateWatch() {
    if (bus_ == nullptr)
        return;
    int events = sd_bus_get_events(bus_);
    if (events < 0) {
        fail("sd_bus_get_events", events);
        return;
    }
    std::uint32_t mask =
        ((events & POLLIN) != 0 ? SPA_IO_IN : 0) | ((events & POLLOUT) != 0 ? SPA_IO_OUT : 0);
    pw_loop_update_io(&loop_, io_, mask);

    std::uint64_t timeoutMicroseconds = 0;
    std::optional<std::chrono::nanoseconds> deadline;
    if (sd_bus_get_timeout(bus_, &timeoutMicroseconds) >= 0 && timeoutMicroseconds != UINT64_MAX)
        deadline = std::chrono::microseconds(timeoutMicroseconds);
    armLoopTimer(loop_, *timer_, deadline);
}

void SdBusNotificationCenter::fail(std::string_view operation, int result) {
    logger_.error("Session bus notifications failed: " + text(operation) + ": " + std::strerror(-result));
    close();
}

void SdBusNotificationCenter::close() {
    for (auto& [name, observer] : observers_)
        sd_bus_slot_unref(observer.match);
    observers_.clear();
    for (spa_source** source : {&io_, &timer_}) {
        if (*source != nullptr)
            pw_loop_destroy_source(&loop_, *source);
        *source = nullptr;
    }
    if (bus_ != nullptr)
        sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
}

}  // namespace quillbridge
