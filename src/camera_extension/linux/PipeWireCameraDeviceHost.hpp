#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include <pipewire/pipewire.h>

#include "camera_extension/CameraDeviceHost.hpp"
#include "camera_extension/CameraExtensionLogger.hpp"
#include "camera_extension/linux/PipeWireCameraSinkStream.hpp"
#include "camera_extension/linux/PipeWireCameraSourceStream.hpp"
#include "camera_extension/linux/ScheduledOutputSender.hpp"

namespace quillbridge {

// The camera device on PipeWire: a connection to the PipeWire server from the program's main loop and the
// camera's two nodes on it. Adding the streams connects (once) and makes both nodes; adding the device waits,
// turning the loop, until the server has made both nodes or one failed. A connection that fails later is
// logged; its nodes then stop, which the device source sees as stream stops. Used on the loop's thread.
class PipeWireCameraDeviceHost final : public CameraDeviceHost {
public:
    static constexpr std::chrono::seconds publicationTimeout{5};

    PipeWireCameraDeviceHost(pw_loop& loop, pw_context& context, ScheduledOutputSender& scheduledOutputSender,
                             CameraExtensionLogger logger);
    ~PipeWireCameraDeviceHost() override;
    PipeWireCameraDeviceHost(const PipeWireCameraDeviceHost&) = delete;
    PipeWireCameraDeviceHost& operator=(const PipeWireCameraDeviceHost&) = delete;

    int makeStreamFormat() override;
    std::optional<std::string> addStreams(std::weak_ptr<PersonaCameraStreamSource> sourceStreamSource,
                                          std::weak_ptr<PersonaCameraStreamSource> sinkStreamSource) override;
    void removeStreams() override;
    std::optional<std::string> addDevice() override;

    CameraSourceStream& sourceStream() override { return source_; }
    CameraSinkStream& sinkStream() override { return sink_; }

private:
    static void onCoreError(void* data, std::uint32_t id, int sequence, int result, const char* message);

    pw_loop& loop_;
    pw_context& context_;
    CameraExtensionLogger logger_;
    pw_core* core_ = nullptr;
    spa_hook coreListener_{};
    bool didLogCoreFailure_ = false;
    alignas(8) std::array<std::uint8_t, 1024> formatStorage_{};
    const spa_pod* format_ = nullptr;
    PipeWireCameraSourceStream source_;
    PipeWireCameraSinkStream sink_;
};

}  // namespace quillbridge
