#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "virtual_devices/MicrophoneDeviceIdentifiers.hpp"
#include "virtual_devices/PropertyChannelMessage.hpp"

namespace quillbridge {

// The audio objects the virtual microphone is reached through: the system object (which translates the
// box's identifier and lists devices and recording processes), the microphone's box and device, and the
// processes that record. Every call is synchronous and may be made from any thread; failures carry the
// audio system's status.
class MicrophoneAudioObjectSystem {
public:
    using ObjectID = microphone::ObjectID;
    using Status = microphone::Status;
    using ListenerID = std::uint64_t;

    // The object that answers for the whole audio system.
    static constexpr ObjectID systemObjectID = microphone::plugInObjectID;
    // The system's process list, and a process's input devices and whether it records now.
    static constexpr microphone::PropertySelector processObjectListSelector =
        microphone::fourCharCode("prs#");
    static constexpr microphone::PropertySelector processDevicesSelector = microphone::fourCharCode("pdv#");
    static constexpr microphone::PropertySelector processIsRunningInputSelector =
        microphone::fourCharCode("piri");

    virtual ~MicrophoneAudioObjectSystem() = default;

    // The box with this identifier (0 when there is none).
    virtual std::expected<ObjectID, Status> translateUIDToBox(std::string_view uid) = 0;
    virtual std::expected<std::vector<ObjectID>, Status> deviceList() = 0;
    virtual std::expected<std::string, Status> deviceUID(ObjectID device) = 0;
    // Acquires (publishes) or releases the box.
    virtual Status setBoxAcquired(ObjectID box, bool acquired) = 0;
    // Writes one audio packet to the device's custom packet property.
    virtual Status setAudioPacket(ObjectID device, std::span<const std::uint8_t> packet) = 0;
    // The device's custom diagnostics dictionary.
    virtual std::expected<microphone::PropertyChannelDictionary, Status> diagnostics(ObjectID device) = 0;
    // Non-zero while some application's renderer reads the device.
    virtual std::expected<std::uint32_t, Status> isRunning(ObjectID device) = 0;
    // The processes that use audio, their input devices and whether they record now.
    virtual std::expected<std::vector<ObjectID>, Status> processList() = 0;
    virtual std::expected<std::vector<ObjectID>, Status> processInputDevices(ObjectID process) = 0;
    virtual std::expected<std::uint32_t, Status> processIsRunningInput(ObjectID process) = 0;

    // Calls `listener`, on a thread of the system's, whenever the property of the object changes. Once
    // removeListener returns, the listener is not running and is never called again.
    virtual std::expected<ListenerID, Status> addListener(ObjectID object,
                                                          microphone::PropertySelector selector,
                                                          microphone::PropertyScope scope,
                                                          std::function<void()> listener) = 0;
    virtual void removeListener(ListenerID listener) = 0;
};

}  // namespace quillbridge
