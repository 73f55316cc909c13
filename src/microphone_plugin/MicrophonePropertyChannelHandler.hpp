#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "microphone_plugin/MicrophoneDriverInterface.hpp"
#include "virtual_devices/PropertyChannelMessage.hpp"

namespace quillbridge {

// Carries out the host's property-channel requests on the driver, through its interface table as the audio
// server would, and turns the driver's answers into channel values. Requests come from another process:
// everything is checked before it reaches the driver, and a reference is handed to the driver only where the
// property takes one.
class MicrophonePropertyChannelHandler {
public:
    // The largest buffer a get request may ask for; larger capacities are cut to it.
    static constexpr std::uint32_t maximumDataCapacity = 65536;

    explicit MicrophonePropertyChannelHandler(MicrophoneDriverRef driver) : driver_(driver) {}

    // The answer to one received message: the request's response, or an error response to anything that is
    // not a well-formed request.
    microphone::PropertyChannelResponse handleMessage(std::span<const std::uint8_t> message,
                                                      std::int32_t clientProcessID) const;
    microphone::PropertyChannelResponse handleRequest(const microphone::PropertyChannelRequest& request,
                                                      std::int32_t clientProcessID) const;

    // The bytes of a properties-changed message for these addresses.
    static std::optional<std::vector<std::uint8_t>> encodePropertiesChanged(
        MicrophoneObjectID objectID, std::span<const MicrophonePropertyAddress> addresses);

private:
    microphone::PropertyChannelResponse getData(const microphone::PropertyChannelRequest& request,
                                                std::int32_t clientProcessID) const;
    microphone::PropertyChannelResponse setData(const microphone::PropertyChannelRequest& request,
                                                std::int32_t clientProcessID) const;

    MicrophoneDriverRef driver_;
};

}  // namespace quillbridge
