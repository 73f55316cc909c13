#pragma once

#include <string>
#include <vector>

namespace quillbridge {

// Names one keyboard input source: its identifier, its name as the user reads it, and its languages in
// the system's order. Equal when all three are equal.
struct MacKeyboardInputSourceIdentity {
    std::string inputSourceID;
    std::string localizedName;
    std::vector<std::string> languages;

    bool operator==(const MacKeyboardInputSourceIdentity&) const = default;
};

}  // namespace quillbridge
