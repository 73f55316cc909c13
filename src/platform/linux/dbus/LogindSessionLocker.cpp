#include "platform/linux/dbus/LogindSessionLocker.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/Logger.hpp"
#include "platform/linux/dbus/SdBus.hpp"

namespace quillbridge {

namespace {

constexpr const char* loginService = "org.freedesktop.login1";
constexpr const char* loginManagerPath = "/org/freedesktop/login1";
constexpr const char* loginManagerInterface = "org.freedesktop.login1.Manager";
constexpr std::uint64_t callTimeoutMicroseconds = 5'000'000;

}  // namespace

bool LogindSessionLocker::lockSession() {
    Logger logger("RemoteSystemActionController");
    auto fail = [&](std::string reason) {
        lastError_ = std::move(reason);
        logger.error("Failed to lock the session through logind: ", lastError_);
        return false;
    };
    int errorNumber = 0;
    SdBusPointer bus = openSdBus(SdBusKind::system, &errorNumber);
    if (!bus)
        return fail(std::string("no system bus: ") + std::strerror(-errorNumber));
    sd_bus_set_method_call_timeout(bus.get(), callTimeoutMicroseconds);

    SdBusError error;
    sd_bus_message* rawReply = nullptr;
    const char* sessionID = std::getenv("XDG_SESSION_ID");
    int result = 0;
    if (sessionID != nullptr && *sessionID != '\0') {
        result = sd_bus_call_method(bus.get(), loginService, loginManagerPath, loginManagerInterface,
                                    "GetSession", error.get(), &rawReply, "s", sessionID);
    } else {
        result = sd_bus_call_method(bus.get(), loginService, loginManagerPath, loginManagerInterface,
                                    "GetSessionByPID", error.get(), &rawReply, "u",
                                    static_cast<std::uint32_t>(getpid()));
    }
    SdBusMessagePointer reply(rawReply);
    if (result < 0)
        return fail(error.isSet() ? error.name() + ": " + error.message() : std::strerror(-result));
    const char* sessionPath = nullptr;
    if (sd_bus_message_read(reply.get(), "o", &sessionPath) < 0 || sessionPath == nullptr)
        return fail("malformed session reply");

    SdBusError lockError;
    result = sd_bus_call_method(bus.get(), loginService, sessionPath, "org.freedesktop.login1.Session",
                                "Lock", lockError.get(), nullptr, "");
    if (result < 0)
        return fail(lockError.isSet() ? lockError.name() + ": " + lockError.message()
                                      : std::strerror(-result));
    lastError_.clear();
    return true;
}

}  // namespace quillbridge
