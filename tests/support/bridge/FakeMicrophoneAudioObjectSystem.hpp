#pragma once

// The microphone's audio objects in memory: a box that can be missing, a device that appears after a given
// number of look-ups once the box is acquired, recording processes, diagnostics and listeners the test fires
// itself. Thread-safe; listeners are called outside the fake's lock.

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "bridge/MicrophoneAudioObjectSystem.hpp"

namespace quillbridge {

class FakeMicrophoneAudioObjectSystem final : public MicrophoneAudioObjectSystem {
public:
    static constexpr ObjectID boxID = 40;
    static constexpr ObjectID deviceID = 41;
    static constexpr ObjectID otherDeviceID = 42;

    struct Process {
        std::vector<ObjectID> inputDevices;
        std::uint32_t isRunningInput = 0;
    };

    // Configuration (set under lock through `with`).
    bool boxInstalled = true;
    // Look-ups after acquisition that miss before the device is listed; -1: never listed.
    int lookupsBeforeDevice = 0;
    Status acquireStatus = 0;
    Status packetStatus = 0;
    std::uint32_t running = 0;
    std::optional<Status> runningReadFailure;
    std::map<ObjectID, Process> processes;
    microphone::PropertyChannelDictionary diagnosticsValue;
    // Listener registrations refused with this status, by selector.
    std::map<microphone::PropertySelector, Status> refusedListeners;

    // What the host did.
    bool boxAcquired = false;
    std::vector<bool> acquisitions;  // every set of the acquired flag, in order
    int deviceLookups = 0;
    std::vector<std::vector<std::uint8_t>> packets;

    template <class Function>
    auto with(Function function) {
        std::lock_guard lock(mutex_);
        return function(*this);
    }

    std::expected<ObjectID, Status> translateUIDToBox(std::string_view uid) override {
        std::lock_guard lock(mutex_);
        return boxInstalled && uid == microphone::boxUID ? boxID : 0;
    }
    std::expected<std::vector<ObjectID>, Status> deviceList() override {
        std::lock_guard lock(mutex_);
        ++deviceLookups;
        if (!boxAcquired || lookupsBeforeDevice < 0 || lookupsSinceAcquired_++ < lookupsBeforeDevice) {
            return std::vector<ObjectID>{otherDeviceID};
        }
        return std::vector<ObjectID>{otherDeviceID, deviceID};
    }
    std::expected<std::string, Status> deviceUID(ObjectID device) override {
        if (device == deviceID) {
            return std::string(microphone::deviceUID);
        }
        return std::string("some.other.device");
    }
    Status setBoxAcquired(ObjectID box, bool acquired) override {
        std::lock_guard lock(mutex_);
        if (box != boxID) {
            return microphone::status::badObject;
        }
        acquisitions.push_back(acquired);
        if (acquireStatus != 0 && acquired) {
            return acquireStatus;
        }
        if (acquired && !boxAcquired) {
            lookupsSinceAcquired_ = 0;
        }
        boxAcquired = acquired;
        return 0;
    }
    Status setAudioPacket(ObjectID device, std::span<const std::uint8_t> packet) override {
        std::lock_guard lock(mutex_);
        if (device != deviceID) {
            return microphone::status::badObject;
        }
        packets.emplace_back(packet.begin(), packet.end());
        return packetStatus;
    }
    std::expected<microphone::PropertyChannelDictionary, Status> diagnostics(ObjectID) override {
        std::lock_guard lock(mutex_);
        ++diagnosticsReads;
        return diagnosticsValue;
    }
    std::expected<std::uint32_t, Status> isRunning(ObjectID) override {
        std::lock_guard lock(mutex_);
        if (runningReadFailure) {
            return std::unexpected(*runningReadFailure);
        }
        return running;
    }
    std::expected<std::vector<ObjectID>, Status> processList() override {
        std::lock_guard lock(mutex_);
        std::vector<ObjectID> list;
        for (const auto& [id, process] : processes) {
            list.push_back(id);
        }
        return list;
    }
    std::expected<std::vector<ObjectID>, Status> processInputDevices(ObjectID process) override {
        std::lock_guard lock(mutex_);
        auto found = processes.find(process);
        if (found == processes.end()) {
            return std::unexpected(microphone::status::badObject);
        }
        return found->second.inputDevices;
    }
    std::expected<std::uint32_t, Status> processIsRunningInput(ObjectID process) override {
        std::lock_guard lock(mutex_);
        auto found = processes.find(process);
        if (found == processes.end()) {
            return std::unexpected(microphone::status::badObject);
        }
        return found->second.isRunningInput;
    }
    std::expected<ListenerID, Status> addListener(ObjectID object, microphone::PropertySelector selector,
                                                  microphone::PropertyScope scope,
                                                  std::function<void()> listener) override {
        std::lock_guard lock(mutex_);
        if (auto refused = refusedListeners.find(selector); refused != refusedListeners.end()) {
            return std::unexpected(refused->second);
        }
        ListenerID id = nextListenerID_++;
        listeners_[id] = Registration{object, selector, scope, std::move(listener)};
        return id;
    }
    void removeListener(ListenerID listener) override {
        std::lock_guard lock(mutex_);
        listeners_.erase(listener);
    }

    // Calls every listener registered for the property.
    void fire(ObjectID object, microphone::PropertySelector selector) {
        std::vector<std::function<void()>> due;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [id, registration] : listeners_) {
                if (registration.object == object && registration.selector == selector) {
                    due.push_back(registration.listener);
                }
            }
        }
        for (auto& listener : due) {
            listener();
        }
    }
    // Registered listeners as (object, selector) pairs.
    std::multiset<std::pair<ObjectID, microphone::PropertySelector>> registeredListeners() {
        std::lock_guard lock(mutex_);
        std::multiset<std::pair<ObjectID, microphone::PropertySelector>> result;
        for (const auto& [id, registration] : listeners_) {
            result.emplace(registration.object, registration.selector);
        }
        return result;
    }

    int diagnosticsReads = 0;

private:
    struct Registration {
        ObjectID object;
        microphone::PropertySelector selector;
        microphone::PropertyScope scope;
        std::function<void()> listener;
    };
    std::mutex mutex_;
    int lookupsSinceAcquired_ = 0;
    ListenerID nextListenerID_ = 1;
    std::map<ListenerID, Registration> listeners_;
};

}  // namespace quillbridge
