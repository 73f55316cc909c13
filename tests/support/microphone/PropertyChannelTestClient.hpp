#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "virtual_devices/PropertyChannelMessage.hpp"

namespace quillbridge {

// A blocking client of the microphone program's property channel, for tests and benchmarks: the host's side
// of the socket, written with the shared message format.
class PropertyChannelTestClient {
public:
    using Clock = std::chrono::steady_clock;

    // Connects to the socket; nothing when nobody listens there.
    static std::unique_ptr<PropertyChannelTestClient> connect(const std::string& path);
    // Connects once the socket answers, trying until the time-out.
    static std::unique_ptr<PropertyChannelTestClient> connectWhenReady(const std::string& path,
                                                                       std::chrono::milliseconds timeout);
    // The property channel's path in $XDG_RUNTIME_DIR.
    static std::string defaultPath();

    ~PropertyChannelTestClient();
    PropertyChannelTestClient(const PropertyChannelTestClient&) = delete;
    PropertyChannelTestClient& operator=(const PropertyChannelTestClient&) = delete;

    // Sends the request (with a fresh identifier) and waits for its response; properties-changed messages
    // that arrive meanwhile are kept for nextPropertiesChanged().
    std::optional<microphone::PropertyChannelResponse> call(
        microphone::PropertyChannelRequest request,
        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::optional<microphone::PropertyChannelResponse> get(
        microphone::ObjectID object, microphone::PropertySelector selector,
        microphone::PropertyChannelValue qualifier = {},
        microphone::PropertyScope scope = microphone::scope::global);
    std::optional<microphone::PropertyChannelResponse> set(microphone::ObjectID object,
                                                           microphone::PropertySelector selector,
                                                           microphone::PropertyChannelValue value);
    // Sets the box's acquired flag; true when the program accepted it.
    bool setAcquired(bool acquired);
    // Writes one audio packet; true when the program accepted it.
    bool writePacket(std::vector<std::uint8_t> packet);

    std::optional<microphone::PropertyChannelPropertiesChanged> nextPropertiesChanged(
        std::chrono::milliseconds timeout);

    // Raw records, for malformed input.
    bool sendRaw(std::span<const std::uint8_t> record);
    // The next record, or nothing at the time-out or when the connection closed.
    std::optional<std::vector<std::uint8_t>> receiveRaw(std::chrono::milliseconds timeout);
    // Whether the program closed the connection (within the time-out).
    bool waitForClose(std::chrono::milliseconds timeout);
    int descriptor() const { return descriptor_; }

private:
    explicit PropertyChannelTestClient(int descriptor) : descriptor_(descriptor) {}

    int descriptor_;
    std::uint32_t nextRequestID_ = 1;
    std::deque<microphone::PropertyChannelPropertiesChanged> changes_;
};

}  // namespace quillbridge
