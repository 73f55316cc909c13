#include "platform/linux/dbus/SdBusEventLoop.hpp"

#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quillbridge {

SdBusEventLoop::SdBusEventLoop(SdBusPointer bus) : bus_(std::move(bus)) {}

SdBusEventLoop::~SdBusEventLoop() {
    stop();
}

bool SdBusEventLoop::start() {
    if (!bus_) {
        return false;
    }
    std::lock_guard lock(postedMutex_);
    running_ = true;
    const bool started = thread_.start([this] {
        if (turn()) {
            return true;
        }
        dropPostedWork();
        return false;
    });
    if (!started) {
        running_ = false;
    }
    return started;
}

void SdBusEventLoop::stop() {
    {
        std::lock_guard lock(postedMutex_);
        running_ = false;
    }
    thread_.stop();
    dropPostedWork();
}

void SdBusEventLoop::dropPostedWork() {
    std::deque<std::function<void(sd_bus*)>> dropped;
    std::lock_guard lock(postedMutex_);
    running_ = false;
    dropped.swap(posted_);
}

bool SdBusEventLoop::post(std::function<void(sd_bus*)> work) {
    std::lock_guard lock(postedMutex_);
    if (!running_) {
        return false;
    }
    posted_.push_back(std::move(work));
    thread_.wake();
    return true;
}

void SdBusEventLoop::runPostedWork() {
    std::deque<std::function<void(sd_bus*)>> work;
    {
        std::lock_guard lock(postedMutex_);
        work.swap(posted_);
    }
    for (auto& item : work) {
        item(bus_.get());
    }
}

bool SdBusEventLoop::turn() {
    runPostedWork();
    int processed = sd_bus_process(bus_.get(), nullptr);
    if (processed < 0) {
        return false;
    }
    if (processed > 0) {
        return true;
    }
    int fd = sd_bus_get_fd(bus_.get());
    auto events = static_cast<short>(sd_bus_get_events(bus_.get()));
    int timeoutMilliseconds = -1;
    std::uint64_t timeoutMicroseconds = 0;
    if (sd_bus_get_timeout(bus_.get(), &timeoutMicroseconds) > 0 && timeoutMicroseconds != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::uint64_t nowMicroseconds =
            static_cast<std::uint64_t>(now.tv_sec) * 1000000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
        timeoutMilliseconds = timeoutMicroseconds <= nowMicroseconds
                                  ? 0
                                  : static_cast<int>((timeoutMicroseconds - nowMicroseconds + 999) / 1000);
    }
    int ready = thread_.wait(fd, events, timeoutMilliseconds);
    return ready >= 0 || errno == EINTR;
}

namespace {

// What a call made without waiting keeps until its slot goes: the handler, and whether it ran.
struct PendingSdBusReply {
    SdBusReplyHandler replied;
    bool hasRun = false;
};

int pendingReplyArrived(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* pending = static_cast<PendingSdBusReply*>(userdata);
    pending->hasRun = true;
    pending->replied(reply);
    return 0;
}

void pendingReplySlotDestroyed(void* userdata) {
    auto* pending = static_cast<PendingSdBusReply*>(userdata);
    if (!pending->hasRun) {
        pending->replied(nullptr);
    }
    delete pending;
}

}  // namespace

int callSdBusMethodAsync(sd_bus* bus, sd_bus_message* call, SdBusReplyHandler replied,
                         std::uint64_t timeoutMicroseconds) {
    auto pending = std::make_unique<PendingSdBusReply>(PendingSdBusReply{std::move(replied)});
    sd_bus_slot* slot = nullptr;
    int result = sd_bus_call_async(bus, &slot, call, pendingReplyArrived, pending.get(), timeoutMicroseconds);
    if (result < 0) {
        return result;
    }
    // From here the slot owns the handler; the bus owns the slot until the reply came or the bus goes.
    sd_bus_slot_set_destroy_callback(slot, pendingReplySlotDestroyed);
    pending.release();
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
    return 0;
}

std::optional<bool> readChangedBooleanProperty(sd_bus_message* message, const std::string& interface,
                                               const std::string& property, bool* invalidated) {
    *invalidated = false;
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) < 0 || name == nullptr || interface != name) {
        return std::nullopt;
    }
    std::optional<bool> value;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0) {
        return std::nullopt;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(message, "s", &key) < 0) {
            return std::nullopt;
        }
        if (key != nullptr && property == key && sd_bus_message_enter_container(message, 'v', "b") > 0) {
            int boolean = 0;
            if (sd_bus_message_read(message, "b", &boolean) < 0) {
                return std::nullopt;
            }
            value = boolean != 0;
            sd_bus_message_exit_container(message);
        } else if (sd_bus_message_skip(message, "v") < 0) {
            return std::nullopt;
        }
        sd_bus_message_exit_container(message);
    }
    sd_bus_message_exit_container(message);
    if (!value && sd_bus_message_enter_container(message, 'a', "s") > 0) {
        const char* key = nullptr;
        while (sd_bus_message_read(message, "s", &key) > 0) {
            if (key != nullptr && property == key) {
                *invalidated = true;
            }
        }
        sd_bus_message_exit_container(message);
    }
    return value;
}

}  // namespace quillbridge
