#include "camera_extension/linux/V4l2LoopbackWriter.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace Ids = CameraDeviceIdentifiers;

int V4l2LoopbackWriter::setFormatWithIoctl(int fd, v4l2_format& format) {
    int result;
    do {
        result = ::ioctl(fd, VIDIOC_S_FMT, &format);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

std::optional<std::string> V4l2LoopbackWriter::findLabelledDevice(std::string_view label,
                                                                  const std::string& classDirectory,
                                                                  const std::string& deviceDirectory) {
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(classDirectory, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        std::ifstream file(classDirectory + "/" + name + "/name");
        std::string cardName;
        if (file && std::getline(file, cardName) && cardName == label)
            return deviceDirectory + "/" + name;
    }
    return std::nullopt;
}

v4l2_format V4l2LoopbackWriter::cameraFormat() {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = Ids::widthPixels;
    format.fmt.pix.height = Ids::heightPixels;
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_NV12;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = std::uint32_t(Ids::lumaRowByteCount);
    format.fmt.pix.sizeimage = std::uint32_t(Ids::frameByteCount);
    format.fmt.pix.colorspace = V4L2_COLORSPACE_REC709;
    format.fmt.pix.quantization = V4L2_QUANTIZATION_LIM_RANGE;
    return format;
}

std::unique_ptr<V4l2LoopbackWriter> V4l2LoopbackWriter::open(const std::string& devicePath,
                                                             CameraExtensionLogger logger,
                                                             FormatSetter setFormat) {
    int fd = ::open(devicePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        logger.error("Could not open the V4L2 loopback device " + devicePath + ": " + std::strerror(errno));
        return nullptr;
    }
    v4l2_format format = cameraFormat();
    if (int error = setFormat(fd, format); error != 0) {
        logger.error("Could not set the V4L2 loopback device's format on " + devicePath + ": " +
                     std::strerror(error));
        ::close(fd);
        return nullptr;
    }
    logger.info("Writing Persona camera frames to the V4L2 loopback device " + devicePath);
    return std::make_unique<V4l2LoopbackWriter>(fd, devicePath, std::move(logger));
}

V4l2LoopbackWriter::V4l2LoopbackWriter(int fd, std::string devicePath, CameraExtensionLogger logger)
    : fd_(fd),
      devicePath_(std::move(devicePath)),
      logger_(std::move(logger)),
      packedFrame_(Ids::frameByteCount) {}

V4l2LoopbackWriter::~V4l2LoopbackWriter() {
    ::close(fd_);
}

void V4l2LoopbackWriter::write(const CameraImage& image) {
    std::uint8_t* packed = packedFrame_.data();
    copyCameraImage(image, MutableCameraImage{packed, Ids::lumaRowByteCount, packed + Ids::lumaByteCount,
                                              Ids::chromaRowByteCount});
    // One write is one frame to the device; a short write (a stand-in file or pipe) goes on where it stopped.
    std::size_t written = 0;
    while (written < packedFrame_.size()) {
        ssize_t result = ::write(fd_, packed + written, packedFrame_.size() - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0) {
            if (!didLogWriteFailure_) {
                didLogWriteFailure_ = true;
                logger_.error("Could not write a Persona camera frame to " + devicePath_ + ": " +
                              std::strerror(result < 0 ? errno : EIO));
            }
            return;
        }
        written += std::size_t(result);
    }
    didLogWriteFailure_ = false;
}

}  // namespace quillbridge
