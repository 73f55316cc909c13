#pragma once

#include <memory>
#include <string_view>

#include "camera_extension/PersonaCameraDeviceSource.hpp"

namespace quillbridge {

// The camera provider: publishes the one device, "Quillbridge Persona Camera", made by "Moss Harbor". Made
// once at start on the program's main thread and kept for the life of the process.
class PersonaCameraProviderSource {
public:
    // Creates the device source and adds its device to the provider. Each failure is logged; the provider
    // then publishes no device and the process goes on without one.
    explicit PersonaCameraProviderSource(PersonaCameraDeviceSource::Environment environment);

    // The published device; none after a failed set-up.
    const std::shared_ptr<PersonaCameraDeviceSource>& deviceSource() const { return deviceSource_; }

private:
    std::shared_ptr<PersonaCameraDeviceSource> deviceSource_;
};

}  // namespace quillbridge
