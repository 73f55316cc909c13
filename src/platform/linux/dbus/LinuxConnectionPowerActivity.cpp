#include "platform/linux/dbus/LinuxConnectionPowerActivity.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>

#include "core/Logger.hpp"
#include "platform/linux/dbus/SdBus.hpp"

namespace quillbridge {

namespace {

const Logger& logger() {
    static const Logger instance{"ConnectionPowerActivity"};
    return instance;
}

constexpr const char* applicationName = "Quillbridge";

// A logind inhibitor lock: held while its file descriptor is open.
class InhibitorLockToken final : public ConnectionPowerActivity::Token {
public:
    explicit InhibitorLockToken(int descriptor) : descriptor_(descriptor) {}
    ~InhibitorLockToken() override { ::close(descriptor_); }

private:
    int descriptor_;
};

// A screen saver inhibition: held until UnInhibit or until the bus connection that asked for it closes.
class ScreenSaverToken final : public ConnectionPowerActivity::Token {
public:
    ScreenSaverToken(SdBusPointer bus, std::uint32_t cookie) : bus_(std::move(bus)), cookie_(cookie) {}
    ~ScreenSaverToken() override {
        SdBusError error;
        sd_bus_call_method(bus_.get(), "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                           "org.freedesktop.ScreenSaver", "UnInhibit", error.get(), nullptr, "u", cookie_);
    }

private:
    SdBusPointer bus_;
    std::uint32_t cookie_;
};

std::unique_ptr<ConnectionPowerActivity::Token> inhibitWithLogind(const std::string& reason) {
    SdBusPointer bus = openSdBus(SdBusKind::system);
    if (!bus) {
        return nullptr;
    }
    SdBusError error;
    sd_bus_message* rawReply = nullptr;
    const int result = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                          "org.freedesktop.login1.Manager", "Inhibit", error.get(), &rawReply,
                                          "ssss", "idle", applicationName, reason.c_str(), "block");
    SdBusMessagePointer reply(rawReply);
    if (result < 0) {
        logger().info("logind refused an idle inhibitor: ", error.message());
        return nullptr;
    }
    int descriptor = -1;
    if (sd_bus_message_read(reply.get(), "h", &descriptor) < 0) {
        return nullptr;
    }
    // The reply owns its descriptor: keep a copy of our own.
    const int owned = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    if (owned < 0) {
        return nullptr;
    }
    return std::make_unique<InhibitorLockToken>(owned);
}

std::unique_ptr<ConnectionPowerActivity::Token> inhibitWithScreenSaver(const std::string& reason) {
    SdBusPointer bus = openSdBus(SdBusKind::session);
    if (!bus) {
        return nullptr;
    }
    SdBusError error;
    sd_bus_message* rawReply = nullptr;
    const int result =
        sd_bus_call_method(bus.get(), "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                           "org.freedesktop.ScreenSaver", "Inhibit", error.get(), &rawReply, "ss",
                           applicationName, reason.c_str());
    SdBusMessagePointer reply(rawReply);
    if (result < 0) {
        logger().info("The screen saver refused an inhibition: ", error.message());
        return nullptr;
    }
    std::uint32_t cookie = 0;
    if (sd_bus_message_read(reply.get(), "u", &cookie) < 0) {
        return nullptr;
    }
    return std::make_unique<ScreenSaverToken>(std::move(bus), cookie);
}

}  // namespace

std::unique_ptr<ConnectionPowerActivity::Token> LinuxConnectionPowerActivity::begin(std::string_view reason) {
    const std::string text(reason);
    if (auto token = inhibitWithLogind(text)) {
        return token;
    }
    return inhibitWithScreenSaver(text);
}

}  // namespace quillbridge
