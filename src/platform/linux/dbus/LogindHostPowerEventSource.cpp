#include "platform/linux/dbus/LogindHostPowerEventSource.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <asio/post.hpp>

namespace quillbridge {
namespace {

constexpr const char* logindName = "org.freedesktop.login1";
constexpr const char* logindPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

}  // namespace

LogindHostPowerEventSource::LogindHostPowerEventSource(asio::any_io_executor executor, std::string sessionID)
    : executor_(std::move(executor)), sessionID_(std::move(sessionID)) {
    if (sessionID_.empty()) {
        if (const char* fromEnvironment = std::getenv("XDG_SESSION_ID")) {
            sessionID_ = fromEnvironment;
        }
    }
}

LogindHostPowerEventSource::~LogindHostPowerEventSource() {
    stop();
}

bool LogindHostPowerEventSource::start(Handler handler) {
    if (loop_) {
        return false;
    }
    int errorNumber = 0;
    SdBusPointer bus = openSdBus(SdBusKind::system, &errorNumber);
    if (!bus) {
        logger_.error("Unable to observe power state: ", std::strerror(-errorNumber));
        return false;
    }
    loop_ = std::make_unique<SdBusEventLoop>(std::move(bus));
    sd_bus* connection = loop_->bus();

    // The session: the one named, else the caller's, else logind's alias for the caller's session.
    sessionPath_ = std::string(logindPath) + "/session/auto";
    {
        SdBusError error;
        sd_bus_message* reply = nullptr;
        int result =
            sessionID_.empty()
                ? sd_bus_call_method(connection, logindName, logindPath, managerInterface, "GetSessionByPID",
                                     error.get(), &reply, "u", static_cast<std::uint32_t>(getpid()))
                : sd_bus_call_method(connection, logindName, logindPath, managerInterface, "GetSession",
                                     error.get(), &reply, "s", sessionID_.c_str());
        SdBusMessagePointer owned(reply);
        const char* path = nullptr;
        if (result >= 0 && sd_bus_message_read(reply, "o", &path) >= 0 && path != nullptr) {
            sessionPath_ = path;
        }
    }
    {
        SdBusError error;
        int active = 1;
        if (sd_bus_get_property_trivial(connection, logindName, sessionPath_.c_str(), sessionInterface,
                                        "Active", error.get(), 'b', &active) >= 0) {
            sessionActive_ = active != 0;
        }
    }

    handler_ = std::make_shared<Handler>(std::move(handler));
    alive_->store(true);
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(connection, &slot, logindName, logindPath, managerInterface, "PrepareForSleep",
                            prepareForSleep, this) < 0) {
        logger_.error("Unable to observe system sleep");
    }
    sleepSlot_.reset(slot);
    slot = nullptr;
    if (sd_bus_match_signal(connection, &slot, logindName, sessionPath_.c_str(),
                            "org.freedesktop.DBus.Properties", "PropertiesChanged", sessionPropertiesChanged,
                            this) < 0) {
        logger_.error("Unable to observe the user session");
    }
    sessionSlot_.reset(slot);
    takeSleepDelay();
    if (!loop_->start()) {
        stop();
        return false;
    }
    return true;
}

void LogindHostPowerEventSource::stop() {
    alive_->store(false);
    if (loop_) {
        loop_->stop();
    }
    sleepSlot_.reset();
    sessionSlot_.reset();
    loop_.reset();
    int fd = inhibitorFd_->exchange(-1);
    if (fd >= 0) {
        close(fd);
    }
}

void LogindHostPowerEventSource::takeSleepDelay() {
    if (inhibitorFd_->load() >= 0) {
        return;
    }
    SdBusError error;
    sd_bus_message* reply = nullptr;
    int result = sd_bus_call_method(loop_->bus(), logindName, logindPath, managerInterface, "Inhibit",
                                    error.get(), &reply, "ssss", "sleep", "Quillbridge Host",
                                    "Suspending the stream before the system sleeps", "delay");
    SdBusMessagePointer owned(reply);
    int fd = -1;
    if (result < 0 || sd_bus_message_read(reply, "h", &fd) < 0 || fd < 0) {
        logger_.error("Unable to delay system sleep: ", error.message());
        return;
    }
    // The reply owns its descriptor: keep a copy of our own.
    inhibitorFd_->store(fcntl(fd, F_DUPFD_CLOEXEC, 3));
}

void LogindHostPowerEventSource::post(HostPowerEvent event, SleepDelayRelease sleepDelay) {
    auto token = std::make_shared<SleepDelayRelease>(std::move(sleepDelay));
    asio::post(executor_, [alive = alive_, handler = handler_, event, token] {
        if (alive->load()) {
            (*handler)(event, std::move(*token));
        }
    });
}

int LogindHostPowerEventSource::prepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<LogindHostPowerEventSource*>(userdata);
    int sleeping = 0;
    if (sd_bus_message_read(message, "b", &sleeping) < 0) {
        return 0;
    }
    if (sleeping != 0) {
        int fd = self->inhibitorFd_->exchange(-1);
        SleepDelayRelease release;
        if (fd >= 0) {
            release = SleepDelayRelease([fd] { close(fd); });
        }
        self->post(HostPowerEvent::willSleep, std::move(release));
    } else {
        self->takeSleepDelay();
        self->post(HostPowerEvent::didWake, {});
    }
    return 0;
}

int LogindHostPowerEventSource::sessionPropertiesChanged(sd_bus_message* message, void* userdata,
                                                         sd_bus_error*) {
    auto* self = static_cast<LogindHostPowerEventSource*>(userdata);
    bool invalidated = false;
    std::optional<bool> active =
        readChangedBooleanProperty(message, sessionInterface, "Active", &invalidated);
    if (!active && invalidated) {
        SdBusError error;
        int value = 1;
        if (sd_bus_get_property_trivial(self->loop_->bus(), logindName, self->sessionPath_.c_str(),
                                        sessionInterface, "Active", error.get(), 'b', &value) >= 0) {
            active = value != 0;
        }
    }
    if (active && *active != self->sessionActive_) {
        self->sessionActive_ = *active;
        self->post(*active ? HostPowerEvent::sessionDidBecomeActive : HostPowerEvent::sessionDidResignActive,
                   {});
    }
    return 0;
}

}  // namespace quillbridge
