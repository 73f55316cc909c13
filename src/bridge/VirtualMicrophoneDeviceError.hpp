#pragma once

#include <cstdint>
#include <string>

namespace quillbridge {

// Why the virtual microphone could not be published.
struct VirtualMicrophoneDeviceError {
    enum class Kind {
        // The plug-in refused publication with a status.
        publishDriver,
        driverNotInstalled,
        driverDeviceUnavailable,
    };
    Kind kind = Kind::driverNotInstalled;
    std::int32_t status = 0;

    // The text the user sees.
    std::string description() const {
        switch (kind) {
            case Kind::publishDriver:
                return "Could not make Quillbridge Microphone available (" + std::to_string(status) + ").";
            case Kind::driverNotInstalled:
                return "Quillbridge Microphone must be installed before microphone sharing can be used.";
            case Kind::driverDeviceUnavailable:
                return "Quillbridge Microphone is not available yet. Restart the Mac and try again.";
        }
        return {};
    }

    bool operator==(const VirtualMicrophoneDeviceError&) const = default;
};

}  // namespace quillbridge
