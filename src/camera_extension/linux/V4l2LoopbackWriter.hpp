#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <linux/videodev2.h>

#include "camera_extension/CameraExtensionLogger.hpp"
#include "camera_extension/CameraFrameMirror.hpp"

namespace quillbridge {

// Writes every frame to a v4l2loopback device labelled for the camera, so that apps that speak only V4L2 see
// it too (the module is loaded with card_label="Quillbridge Persona Camera" exclusive_caps=1). The device
// gets the camera's format (NV12 1920x1080, 30 fps) once; each frame is then one packed write. A frame that
// cannot be written is dropped; the failure is logged once until a write succeeds.
class V4l2LoopbackWriter final : public CameraFrameMirror {
public:
    // Sets the output format on the device: VIDIOC_S_FMT; 0 or an errno value.
    using FormatSetter = std::function<int(int fd, v4l2_format& format)>;
    static int setFormatWithIoctl(int fd, v4l2_format& format);

    // The device node (deviceDirectory/videoN) of the first V4L2 device, by name, whose sysfs name
    // (classDirectory/videoN/name) is the label.
    static std::optional<std::string> findLabelledDevice(
        std::string_view label, const std::string& classDirectory = "/sys/class/video4linux",
        const std::string& deviceDirectory = "/dev");

    // Opens the device for writing and sets the format; failures are logged and yield nothing.
    static std::unique_ptr<V4l2LoopbackWriter> open(const std::string& devicePath,
                                                    CameraExtensionLogger logger,
                                                    FormatSetter setFormat = &setFormatWithIoctl);

    // Takes the descriptor (closed with the writer), already configured.
    V4l2LoopbackWriter(int fd, std::string devicePath, CameraExtensionLogger logger);
    ~V4l2LoopbackWriter() override;
    V4l2LoopbackWriter(const V4l2LoopbackWriter&) = delete;
    V4l2LoopbackWriter& operator=(const V4l2LoopbackWriter&) = delete;

    // The format the device is given.
    static v4l2_format cameraFormat();

    void write(const CameraImage& image) override;

private:
    int fd_;
    std::string devicePath_;
    CameraExtensionLogger logger_;
    std::vector<std::uint8_t> packedFrame_;
    bool didLogWriteFailure_ = false;
};

}  // namespace quillbridge
