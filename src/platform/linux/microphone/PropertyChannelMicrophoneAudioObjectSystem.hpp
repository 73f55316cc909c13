#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "bridge/MicrophoneAudioObjectSystem.hpp"
#include "virtual_devices/PropertyChannelMessage.hpp"

namespace quillbridge {

// The microphone's audio objects reached through the microphone program's property channel: each call is
// one request on the SOCK_SEQPACKET socket, answered within the time-out (else it fails with status
// 'what'). The program answers for the system object (its plug-in object: the box look-up and the device
// list), the box and the device. Listeners follow the program's properties-changed messages.
//
// The program keeps no list of recording processes: the process queries are sent as they are and the
// program refuses them, so demand is known from the device's running state alone, which the program sets
// while a PipeWire client reads its node.
//
// Connects on first use and again after the program went away; a call while nobody listens fails with
// 'what'. Thread-safe. Listeners run on the channel's reader thread.
class PropertyChannelMicrophoneAudioObjectSystem final : public MicrophoneAudioObjectSystem {
public:
    static constexpr std::chrono::milliseconds defaultResponseTimeout{1000};

    explicit PropertyChannelMicrophoneAudioObjectSystem(
        std::string socketPath, std::chrono::milliseconds responseTimeout = defaultResponseTimeout);
    ~PropertyChannelMicrophoneAudioObjectSystem() override;
    PropertyChannelMicrophoneAudioObjectSystem(const PropertyChannelMicrophoneAudioObjectSystem&) = delete;
    PropertyChannelMicrophoneAudioObjectSystem& operator=(const PropertyChannelMicrophoneAudioObjectSystem&) =
        delete;

    // The channel's path in $XDG_RUNTIME_DIR; nothing when the variable is unset.
    static std::optional<std::string> defaultSocketPath();

    std::expected<ObjectID, Status> translateUIDToBox(std::string_view uid) override;
    std::expected<std::vector<ObjectID>, Status> deviceList() override;
    std::expected<std::string, Status> deviceUID(ObjectID device) override;
    Status setBoxAcquired(ObjectID box, bool acquired) override;
    Status setAudioPacket(ObjectID device, std::span<const std::uint8_t> packet) override;
    std::expected<microphone::PropertyChannelDictionary, Status> diagnostics(ObjectID device) override;
    std::expected<std::uint32_t, Status> isRunning(ObjectID device) override;
    std::expected<std::vector<ObjectID>, Status> processList() override;
    std::expected<std::vector<ObjectID>, Status> processInputDevices(ObjectID process) override;
    std::expected<std::uint32_t, Status> processIsRunningInput(ObjectID process) override;
    std::expected<ListenerID, Status> addListener(ObjectID object, microphone::PropertySelector selector,
                                                  microphone::PropertyScope scope,
                                                  std::function<void()> listener) override;
    void removeListener(ListenerID listener) override;

private:
    struct Registration {
        ObjectID object;
        microphone::PropertySelector selector;
        microphone::PropertyScope scope;
        std::function<void()> listener;
    };

    std::expected<microphone::PropertyChannelValue, Status> call(microphone::PropertyChannelRequest request);
    std::expected<microphone::PropertyChannelValue, Status> get(
        ObjectID object, microphone::PropertySelector selector, microphone::PropertyScope scope,
        microphone::PropertyChannelValue qualifier = {});
    std::expected<std::uint32_t, Status> getUnsigned(ObjectID object, microphone::PropertySelector selector,
                                                     microphone::PropertyScope scope);
    std::expected<std::vector<ObjectID>, Status> getObjectList(ObjectID object,
                                                               microphone::PropertySelector selector,
                                                               microphone::PropertyScope scope);
    Status set(ObjectID object, microphone::PropertySelector selector,
               microphone::PropertyChannelValue value);
    // With requestMutex_ held: a connected socket, connecting when there is none.
    bool ensureConnected();
    void disconnect();
    void readLoop(int descriptor);
    void announce(const microphone::PropertyChannelPropertiesChanged& changed);

    const std::string socketPath_;
    const std::chrono::milliseconds responseTimeout_;

    // One request at a time.
    std::mutex requestMutex_;
    std::uint32_t nextRequestID_ = 1;

    // The connection and the responses the reader hands over.
    std::mutex connectionMutex_;
    std::condition_variable responseArrived_;
    int descriptor_ = -1;
    int wakePipe_[2] = {-1, -1};
    bool connectionClosed_ = true;
    std::map<std::uint32_t, microphone::PropertyChannelResponse> responses_;
    std::thread reader_;

    // Listeners; listenerCallMutex_ is held while they run, so removal waits for a call under way.
    std::mutex listenerMutex_;
    std::recursive_mutex listenerCallMutex_;
    std::map<ListenerID, Registration> listeners_;
    ListenerID nextListenerID_ = 1;
};

}  // namespace quillbridge
