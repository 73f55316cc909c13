#include "camera_extension/PersonaCameraProviderSource.hpp"

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

PersonaCameraProviderSource::PersonaCameraProviderSource(PersonaCameraDeviceSource::Environment environment) {
    CameraDeviceHost& deviceHost = environment.deviceHost;
    CameraExtensionLogger logger = environment.logger;
    auto deviceSource =
        PersonaCameraDeviceSource::create(CameraDeviceIdentifiers::deviceName, std::move(environment));
    if (!deviceSource)
        return;
    if (auto failure = deviceHost.addDevice()) {
        logger.error("Could not add the Persona camera device: " + *failure);
        return;
    }
    deviceSource_ = std::move(deviceSource);
}

}  // namespace quillbridge
