#include "platform/linux/camera/PipeWireCameraDeviceRegistry.hpp"

#include <cctype>

#include "core/BlockingWorkPool.hpp"
#include "platform/linux/pipewire/PipeWirePersonaCameraSink.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

PipeWireCameraDeviceRegistry::PipeWireCameraDeviceRegistry(BlockingWorkPool& pool)
    : pool_(pool), pipeWire_(std::make_shared<PipeWirePersonaCameraSink>()) {}

PipeWireCameraDeviceRegistry::~PipeWireCameraDeviceRegistry() = default;

asio::awaitable<bool> PipeWireCameraDeviceRegistry::containsDevice(std::string deviceUID) {
    std::string upper = deviceUID;
    for (char& character : upper)
        character = char(std::toupper(static_cast<unsigned char>(character)));
    // The camera program publishes one device; its UID is the only one there is to find.
    if (upper != CameraDeviceIdentifiers::deviceUID)
        co_return false;
    auto lookUp = [pipeWire = pipeWire_] { return pipeWire->findSinkNode(true).has_value(); };
    co_return co_await runBlocking(pool_, std::move(lookUp));
}

}  // namespace quillbridge
