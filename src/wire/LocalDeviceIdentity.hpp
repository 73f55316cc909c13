#pragma once

#include <string>

#include "core/UnicodeText.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// This device's own identity: the peer identifier the peer store created once, and the display name it
// shows to its peers. It has no JSON form; the host sends its fields inside its messages.
struct LocalDeviceIdentity {
    Uuid id;
    std::string name;

    friend bool operator==(const LocalDeviceIdentity& left, const LocalDeviceIdentity& right) {
        return left.id == right.id && canonicallyEquivalent(left.name, right.name);
    }
};

}  // namespace quillbridge
