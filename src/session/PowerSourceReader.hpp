#pragma once

#include <optional>
#include <vector>

#include "session/PowerSourceDescription.hpp"

namespace quillbridge {

// Reads the host's power sources: a port of the session, implemented on Linux by SysfsPowerSourceReader.
class PowerSourceReader {
public:
    virtual ~PowerSourceReader() = default;
    // Every power source, or nothing when no power-source information is available.
    virtual std::optional<std::vector<PowerSourceDescription>> powerSources() const = 0;
};

}  // namespace quillbridge
