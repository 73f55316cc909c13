// Decodes arbitrary bytes as a property-channel message. The decoder must never crash, read out of bounds or
// allocate beyond the input, and what it accepts must be canonical: encoding the message again gives back
// exactly the input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "virtual_devices/PropertyChannelMessage.hpp"

using namespace quillbridge::microphone;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    auto message = decodePropertyChannelMessage(input);
    if (!message) {
        return 0;
    }
    auto encoded = encodePropertyChannelMessage(*message);
    if (!encoded || !std::equal(encoded->begin(), encoded->end(), input.begin(), input.end())) {
        std::abort();
    }
    if (std::holds_alternative<PropertyChannelRequest>(*message) &&
        peekPropertyChannelRequestID(input) != std::get<PropertyChannelRequest>(*message).requestID) {
        std::abort();
    }
    return 0;
}
