#include "platform/linux/dbus/LogindSessionLocker.hpp"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>

#include "core/Logger.hpp"
#include "platform/linux/dbus/SdBus.hpp"

namespace quillbridge {

namespace {

constexpr const char* loginService = "org.freedesktop.login1";
constexpr const char* loginManagerPath = "/org/freedesktop/login1";
constexpr const char* loginManagerInterface = "org.freedesktop.login1.Manager";
constexpr const char* loginSessionInterface = "org.freedesktop.login1.Session";
constexpr std::uint64_t callTimeoutMicroseconds =
    std::chrono::microseconds(LogindSessionLocker::callTimeout).count();

// One lock on the bus thread: find the session, then ask it to lock. Ends with the failure's reason, empty
// on success, exactly once.
class LockRequest : public std::enable_shared_from_this<LockRequest> {
public:
    explicit LockRequest(std::optional<std::string> sessionID) : sessionID_(std::move(sessionID)) {}

    std::future<std::string> outcome() { return outcome_.get_future(); }

    void start(sd_bus* bus) {
        sd_bus_message* rawCall = nullptr;
        int result = sessionID_
                         ? sd_bus_message_new_method_call(bus, &rawCall, loginService, loginManagerPath,
                                                          loginManagerInterface, "GetSession")
                         : sd_bus_message_new_method_call(bus, &rawCall, loginService, loginManagerPath,
                                                          loginManagerInterface, "GetSessionByPID");
        SdBusMessagePointer call(rawCall);
        if (result >= 0) {
            result = sessionID_
                         ? sd_bus_message_append(call.get(), "s", sessionID_->c_str())
                         : sd_bus_message_append(call.get(), "u", static_cast<std::uint32_t>(getpid()));
        }
        if (result >= 0) {
            result = callSdBusMethodAsync(
                bus, call.get(),
                [self = shared_from_this(), bus](sd_bus_message* reply) { self->sessionFound(bus, reply); },
                callTimeoutMicroseconds);
        }
        if (result < 0) {
            finish(std::strerror(-result));
        }
    }

private:
    void sessionFound(sd_bus* bus, sd_bus_message* reply) {
        if (auto error = failureOf(reply)) {
            finish(std::move(*error));
            return;
        }
        const char* sessionPath = nullptr;
        if (sd_bus_message_read(reply, "o", &sessionPath) < 0 || sessionPath == nullptr) {
            finish("malformed session reply");
            return;
        }
        sd_bus_message* rawCall = nullptr;
        int result = sd_bus_message_new_method_call(bus, &rawCall, loginService, sessionPath,
                                                    loginSessionInterface, "Lock");
        SdBusMessagePointer call(rawCall);
        if (result >= 0) {
            result = callSdBusMethodAsync(
                bus, call.get(),
                [self = shared_from_this()](sd_bus_message* lockReply) {
                    self->finish(failureOf(lockReply).value_or(std::string()));
                },
                callTimeoutMicroseconds);
        }
        if (result < 0) {
            finish(std::strerror(-result));
        }
    }

    // The reason a reply reports a failure, or nothing when it is a method return.
    static std::optional<std::string> failureOf(sd_bus_message* reply) {
        if (reply == nullptr) {
            return "the bus connection closed";
        }
        if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
            return std::string(error->name != nullptr ? error->name : "error") + ": " +
                   (error->message != nullptr ? error->message : "");
        }
        return std::nullopt;
    }

    void finish(std::string reason) {
        if (!isFinished_) {
            isFinished_ = true;
            outcome_.set_value(std::move(reason));
        }
    }

    std::optional<std::string> sessionID_;
    std::promise<std::string> outcome_;
    bool isFinished_ = false;
};

}  // namespace

LogindSessionLocker::~LogindSessionLocker() {
    std::lock_guard guard(mutex_);
    loop_.reset();
}

std::string LogindSessionLocker::lastError() {
    std::lock_guard guard(mutex_);
    return lastError_;
}

bool LogindSessionLocker::fail(std::string reason) {
    lastError_ = std::move(reason);
    Logger("RemoteSystemActionController").error("Failed to lock the session through logind: ", lastError_);
    return false;
}

SdBusEventLoop* LogindSessionLocker::busThread(std::string& error) {
    if (loop_ && loop_->isRunning()) {
        return loop_.get();
    }
    loop_.reset();
    int errorNumber = 0;
    SdBusPointer bus = openSdBus(SdBusKind::system, &errorNumber);
    if (!bus) {
        error = std::string("no system bus: ") + std::strerror(-errorNumber);
        return nullptr;
    }
    auto loop = std::make_unique<SdBusEventLoop>(std::move(bus));
    if (!loop->start()) {
        error = "the bus thread could not start";
        return nullptr;
    }
    loop_ = std::move(loop);
    return loop_.get();
}

bool LogindSessionLocker::lockSession() {
    std::lock_guard guard(mutex_);
    std::string error;
    SdBusEventLoop* loop = busThread(error);
    if (loop == nullptr) {
        return fail(std::move(error));
    }
    std::optional<std::string> sessionID;
    if (const char* named = std::getenv("XDG_SESSION_ID"); named != nullptr && *named != '\0') {
        sessionID = named;
    }
    auto request = std::make_shared<LockRequest>(std::move(sessionID));
    auto outcome = request->outcome();
    if (!loop->post([request](sd_bus* bus) { request->start(bus); })) {
        return fail("the bus connection closed");
    }
    // The bus ends each call after its time-out; this bound only guards against a thread that stalls.
    const auto waitLimit = 2 * callTimeout + std::chrono::seconds(1);
    if (outcome.wait_for(waitLimit) != std::future_status::ready) {
        return fail("logind did not answer");
    }
    std::string reason;
    try {
        reason = outcome.get();
    } catch (const std::future_error&) {
        // The bus thread ended before it took the request.
        reason = "the bus connection closed";
    }
    if (!reason.empty()) {
        return fail(std::move(reason));
    }
    lastError_.clear();
    return true;
}

}  // namespace quillbridge
