#pragma once

#include <string>

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

}  // namespace quillbridge
