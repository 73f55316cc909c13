#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillbridge {

// One power source of the host, as the system describes it.
struct PowerSourceDescription {
    // The kind of source: "Battery", "Mains", "USB", "UPS", ...
    std::string type;
    // What it powers: "System" or empty for the host itself, "Device" for a peripheral (a wireless mouse's
    // battery, say).
    std::string scope;

    bool operator==(const PowerSourceDescription&) const = default;
};

// Reads the host's power sources.
class PowerSourceReader {
public:
    virtual ~PowerSourceReader() = default;
    // Every power source, or nothing when no power-source information is available.
    virtual std::optional<std::vector<PowerSourceDescription>> powerSources() const = 0;
};

// Whether the host is a portable or a stationary computer, as advertised in the "mac_form" TXT key.
enum class HostFormFactor { laptop, desktop };

// "laptop" or "desktop".
std::string_view hostFormFactorText(HostFormFactor formFactor);

// A laptop has an internal battery among its power sources; anything else, no power-source information
// included, is a desktop.
HostFormFactor hostFormFactor(const PowerSourceReader& reader);

// The form factor of this host: worked out from `reader` on the first call in the process, the same
// value on every later call (whatever reader those pass).
HostFormFactor cachedHostFormFactor(const PowerSourceReader& reader);

}  // namespace quillbridge
