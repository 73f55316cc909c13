#include "support/camera_extension/CameraNotificationListener.hpp"

#include <string>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

std::string text(std::string_view view) {
    return std::string(view);
}

}  // namespace

CameraNotificationListener::CameraNotificationListener() {
    if (sd_bus_open_user(&bus_) < 0) {
        bus_ = nullptr;
        return;
    }
    namespace Signal = CameraNotifications;
    if (sd_bus_match_signal(bus_, &match_, nullptr, nullptr, text(Signal::signalInterface).c_str(),
                            text(Signal::signalMember).c_str(), &CameraNotificationListener::onSignal,
                            this) < 0) {
        sd_bus_flush_close_unref(bus_);
        bus_ = nullptr;
    }
}

CameraNotificationListener::~CameraNotificationListener() {
    sd_bus_slot_unref(match_);
    if (bus_ != nullptr)
        sd_bus_flush_close_unref(bus_);
}

void CameraNotificationListener::post(std::string_view name) {
    namespace Signal = CameraNotifications;
    sd_bus_emit_signal(bus_, text(Signal::signalObjectPath).c_str(), text(Signal::signalInterface).c_str(),
                       text(Signal::signalMember).c_str(), "s", text(name).c_str());
    sd_bus_flush(bus_);
}

int CameraNotificationListener::onSignal(sd_bus_message* message, void* data, sd_bus_error*) {
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) >= 0 && name != nullptr)
        static_cast<CameraNotificationListener*>(data)->received_.emplace_back(name);
    return 0;
}

void CameraNotificationListener::readFor(std::chrono::milliseconds duration, std::string_view until) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
        while (sd_bus_process(bus_, nullptr) > 0) {
        }
        for (; !until.empty() && taken_ < received_.size(); ++taken_) {
            if (received_[taken_] == until) {
                ++taken_;
                return;
            }
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return;
        sd_bus_wait(bus_, std::uint64_t(
                              std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count()));
    }
}

bool CameraNotificationListener::waitFor(std::string_view name, std::chrono::milliseconds timeout) {
    if (bus_ == nullptr)
        return false;
    const std::size_t before = taken_;
    readFor(timeout, name);
    return taken_ > before && received_[taken_ - 1] == name;
}

void CameraNotificationListener::listen(std::chrono::milliseconds duration) {
    if (bus_ != nullptr)
        readFor(duration, {});
}

std::vector<std::string> CameraNotificationListener::untaken() const {
    return {received_.begin() + std::ptrdiff_t(taken_), received_.end()};
}

}  // namespace quillbridge
