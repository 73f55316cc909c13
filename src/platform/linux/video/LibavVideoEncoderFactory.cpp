#include "platform/linux/video/LibavVideoEncoderFactory.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace quillbridge {

LibavVideoEncoderFactory::LibavVideoEncoderFactory() {
    options_.vaapiRenderNode = findRenderNode();
}

std::optional<std::string> LibavVideoEncoderFactory::findRenderNode() {
    for (int number = 128; number < 136; ++number) {
        const std::string path = "/dev/dri/renderD" + std::to_string(number);
        const int descriptor = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (descriptor >= 0) {
            ::close(descriptor);
            return path;
        }
    }
    return std::nullopt;
}

std::expected<std::unique_ptr<VideoEncoder>, VideoEncoderError> LibavVideoEncoderFactory::makeEncoder(
    const VideoEncoderConfiguration& configuration, asio::any_io_executor outputExecutor,
    VideoEncoderOutputHandler onOutput) {
    auto encoder =
        LibavVideoEncoder::open(configuration, options_, std::move(outputExecutor), std::move(onOutput));
    if (!encoder)
        return std::unexpected(encoder.error());
    return std::unique_ptr<VideoEncoder>(std::move(*encoder));
}

}  // namespace quillbridge
