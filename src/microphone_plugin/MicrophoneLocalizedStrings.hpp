#pragma once

#include <string_view>

#include "virtual_devices/MicrophoneDeviceIdentifiers.hpp"

namespace quillbridge {

// The program's string table: the names users see for the keys that the objects answer with ("DeviceName"
// and the stream and element names). A key without an entry is shown as it is.
constexpr std::string_view microphoneLocalizedString(std::string_view key) {
    if (key == "DeviceName") {
        return microphone::deviceName;
    }
    if (key == "InputStreamName") {
        return "Quillbridge Microphone Input";
    }
    if (key == "MasterElementName") {
        return "Main";
    }
    if (key == "MonoElementName") {
        return "Mono";
    }
    if (key == "UnknownElementName") {
        return "Unknown";
    }
    return key;
}

}  // namespace quillbridge
