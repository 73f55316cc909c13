#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/pulse/PulseConnection.hpp"

namespace quillbridge {

struct PulseSinkSummary {
    std::uint32_t index = 0;
    std::string name;
    // The module that made the sink; PA_INVALID_INDEX when none did.
    std::uint32_t ownerModule = 0;
    bool muted = false;
    // The value of the property the caller asked for, empty when the sink does not have it.
    std::string property;
};

struct PulseSinkInputSummary {
    std::uint32_t index = 0;
    std::uint32_t sink = 0;
};

// What the sound server holds, asked with the connection's lock held and waited for (never on the loop's
// thread). Nothing when the connection failed.
class PulseIntrospection {
public:
    // Every sink, in the server's order, each with the value of `property` when one is named.
    static std::optional<std::vector<PulseSinkSummary>> sinks(const PulseConnection& connection,
                                                              const std::string& property = {});
    static std::optional<std::vector<PulseSinkInputSummary>> sinkInputs(const PulseConnection& connection);
    // The default sink's name, empty when there is none.
    static std::optional<std::string> defaultSinkName(const PulseConnection& connection);
};

}  // namespace quillbridge
