#pragma once

#include <memory>
#include <string>

#include "bridge/CameraDeviceRegistry.hpp"

namespace quillbridge {

class BlockingWorkPool;
class PipeWirePersonaCameraSink;

// Cameras as desktop apps find them on PipeWire: the camera program's nodes carry its device UID. The look-up
// waits for the PipeWire server on the blocking-work pool.
class PipeWireCameraDeviceRegistry final : public CameraDeviceRegistry {
public:
    explicit PipeWireCameraDeviceRegistry(BlockingWorkPool& pool);
    ~PipeWireCameraDeviceRegistry() override;

    asio::awaitable<bool> containsDevice(std::string deviceUID) override;

private:
    BlockingWorkPool& pool_;
    std::shared_ptr<PipeWirePersonaCameraSink> pipeWire_;
};

}  // namespace quillbridge
