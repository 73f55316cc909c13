#include "platform/linux/camera/SystemdCameraExtensionManager.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <utility>
#include <variant>

#include <asio/post.hpp>

#include "core/Logger.hpp"
#include "platform/linux/dbus/SdBus.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

extern char** environ;

namespace quillbridge {

namespace {

constexpr const char* systemdService = "org.freedesktop.systemd1";
constexpr const char* systemdPath = "/org/freedesktop/systemd1";
constexpr const char* systemdManager = "org.freedesktop.systemd1.Manager";
constexpr std::uint64_t callTimeoutMicroseconds = 5'000'000;
constexpr auto childRestartDelay = std::chrono::seconds(1);

const std::string unitName(CameraDeviceIdentifiers::extensionUserUnitName);

// Whether the error says that nobody serves the user manager on this bus.
bool meansNoUserManager(const SdBusError& error) {
    const std::string name = error.name();
    // The bus may also try to start one through its activation files and fail (Spawn.ChildExited, ...).
    return name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
           name.starts_with("org.freedesktop.DBus.Error.Spawn.");
}

CameraExtensionRequestError requestError(SdBusError& error, int result) {
    CameraExtensionRequestError failure;
    failure.code = result;
    failure.description = error.message().empty() ? std::strerror(-result) : error.message();
    return failure;
}

SdBusPointer openUserManagerBus() {
    SdBusPointer bus = openSdBus(SdBusKind::session);
    if (bus)
        sd_bus_set_method_call_timeout(bus.get(), callTimeoutMicroseconds);
    return bus;
}

// The user manager's answer to activation: done, failed, or not there.
struct NoUserManager {};
using ActivationOutcome = std::variant<std::monostate, CameraExtensionRequestError, NoUserManager>;

ActivationOutcome enableAndStartUnit() {
    SdBusPointer bus = openUserManagerBus();
    if (!bus)
        return NoUserManager{};
    {
        SdBusError error;
        sd_bus_message* reply = nullptr;
        const int result =
            sd_bus_call_method(bus.get(), systemdService, systemdPath, systemdManager, "EnableUnitFiles",
                               error.get(), &reply, "asbb", 1, unitName.c_str(), 0, 0);
        SdBusMessagePointer owned(reply);
        if (result < 0)
            return meansNoUserManager(error) ? ActivationOutcome(NoUserManager{})
                                             : ActivationOutcome(requestError(error, result));
    }
    {
        // Makes the manager read the unit it has just enabled; an older manager may not need it.
        SdBusError error;
        sd_bus_call_method(bus.get(), systemdService, systemdPath, systemdManager, "Reload", error.get(),
                           nullptr, "");
    }
    SdBusError error;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call_method(bus.get(), systemdService, systemdPath, systemdManager, "StartUnit",
                                          error.get(), &reply, "ss", unitName.c_str(), "replace");
    SdBusMessagePointer owned(reply);
    if (result < 0)
        return meansNoUserManager(error) ? ActivationOutcome(NoUserManager{})
                                         : ActivationOutcome(requestError(error, result));
    return std::monostate{};
}

// The unit file's state ("enabled", "disabled", ...); nothing without a user manager or unit.
std::optional<std::string> unitFileState(std::optional<CameraExtensionRequestError>& failure) {
    SdBusPointer bus = openUserManagerBus();
    if (!bus)
        return std::nullopt;
    SdBusError error;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call_method(bus.get(), systemdService, systemdPath, systemdManager,
                                          "GetUnitFileState", error.get(), &reply, "s", unitName.c_str());
    SdBusMessagePointer owned(reply);
    if (result < 0) {
        const std::string name = error.name();
        if (!meansNoUserManager(error) && name != "org.freedesktop.systemd1.NoSuchUnit" && result != -ENOENT)
            failure = requestError(error, result);
        return std::nullopt;
    }
    const char* state = nullptr;
    if (sd_bus_message_read(reply, "s", &state) < 0 || state == nullptr)
        return std::nullopt;
    return std::string(state);
}

}  // namespace

SystemdCameraExtensionManager::SystemdCameraExtensionManager(asio::any_io_executor mainActor,
                                                             std::string programPath)
    : mainActor_(std::move(mainActor)), programPath_(std::move(programPath)) {}

SystemdCameraExtensionManager::~SystemdCameraExtensionManager() {
    std::vector<Request> requests;
    {
        std::lock_guard lock(mutex_);
        isStopping_ = true;
        requests = std::move(requests_);
        if (child_ > 0)
            ::kill(child_, SIGTERM);
    }
    stopping_.notify_all();
    requests.clear();
    if (supervisor_.joinable())
        supervisor_.join();
}

bool SystemdCameraExtensionManager::isRunningChild() const {
    std::lock_guard lock(mutex_);
    return child_ > 0;
}

pid_t SystemdCameraExtensionManager::childProcessID() const {
    std::lock_guard lock(mutex_);
    return child_;
}

CameraExtensionRequestID SystemdCameraExtensionManager::submitActivationRequest(
    std::weak_ptr<CameraExtensionRequestDelegate> delegate) {
    std::lock_guard lock(mutex_);
    const CameraExtensionRequestID id = ++lastRequestID_;
    startRequest([this, id, delegate = std::move(delegate)] {
        ActivationOutcome outcome = enableAndStartUnit();
        if (std::holds_alternative<NoUserManager>(outcome)) {
            std::lock_guard lock(mutex_);
            if (!childRequested_ && !isStopping_) {
                childRequested_ = true;
                supervisor_ = std::jthread([this] { superviseChild(); });
            }
            outcome = std::monostate{};
        }
        asio::post(mainActor_, [delegate, id, outcome = std::move(outcome)] {
            auto target = delegate.lock();
            if (!target)
                return;
            if (auto* failure = std::get_if<CameraExtensionRequestError>(&outcome))
                target->requestDidFail(id, *failure);
            else
                target->requestDidFinish(id, CameraExtensionActivationResult::completed);
        });
    });
    return id;
}

CameraExtensionRequestID SystemdCameraExtensionManager::submitPropertiesRequest(
    std::weak_ptr<CameraExtensionRequestDelegate> delegate) {
    std::lock_guard lock(mutex_);
    const CameraExtensionRequestID id = ++lastRequestID_;
    startRequest([this, id, delegate = std::move(delegate)] {
        std::optional<CameraExtensionRequestError> failure;
        const std::optional<std::string> state = unitFileState(failure);
        std::vector<CameraExtensionProperties> properties;
        if (state) {
            CameraExtensionProperties entry;
            entry.isEnabled = state->starts_with("enabled");
            properties.push_back(entry);
        } else if (!failure && isRunningChild()) {
            properties.push_back(CameraExtensionProperties{.isEnabled = true});
        }
        asio::post(mainActor_,
                   [delegate, id, failure = std::move(failure), properties = std::move(properties)] {
                       auto target = delegate.lock();
                       if (!target)
                           return;
                       if (failure)
                           target->requestDidFail(id, *failure);
                       else
                           target->requestFoundProperties(id, properties);
                   });
    });
    return id;
}

void SystemdCameraExtensionManager::startRequest(std::function<void()> work) {
    // Threads of requests that have ended are joined here, so that they do not pile up.
    std::erase_if(requests_, [](Request& request) { return request.isFinished->load(); });
    auto isFinished = std::make_shared<std::atomic<bool>>(false);
    requests_.push_back({std::jthread([work = std::move(work), isFinished] {
                             work();
                             isFinished->store(true);
                         }),
                         isFinished});
}

void SystemdCameraExtensionManager::superviseChild() {
    std::unique_lock lock(mutex_);
    bool didLogSpawnFailure = false;
    while (!isStopping_) {
        char* arguments[] = {programPath_.data(), nullptr};
        pid_t child = -1;
        if (const int result =
                ::posix_spawn(&child, programPath_.c_str(), nullptr, nullptr, arguments, environ);
            result != 0) {
            child = -1;
            if (!didLogSpawnFailure) {
                didLogSpawnFailure = true;
                Logger("PersonaCameraExtensionActivation")
                    .error("Could not start the Persona camera program ", programPath_, ": ",
                           std::strerror(result));
            }
        }
        child_ = child;
        if (child > 0) {
            lock.unlock();
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            lock.lock();
            child_ = -1;
        }
        // Ended (or could not start): start it again a little later, unless the host is going.
        stopping_.wait_for(lock, childRestartDelay, [this] { return isStopping_; });
    }
}

}  // namespace quillbridge
